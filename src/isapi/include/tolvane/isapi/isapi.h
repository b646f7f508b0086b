// The ISAPI interface between a web server and an extension library: the two
// structures, the callback and entry-point types and the codes they carry.
// Plain data only, no OS headers, so both the extension and the host can use it.
#pragma once

#include <cstdint>

using DWORD = std::uint32_t;
using BOOL = std::int32_t;
using HCONN = void*;
using LPSTR = char*;
using LPBYTE = unsigned char*;
using LPDWORD = std::uint32_t*;
using LPVOID = void*;

inline constexpr BOOL ISAPI_FALSE = 0;
inline constexpr BOOL ISAPI_TRUE = 1;

inline constexpr DWORD HSE_VERSION_MAJOR = 2;
inline constexpr DWORD HSE_VERSION_MINOR = 0;
inline constexpr DWORD HSE_LOG_BUFFER_LEN = 80;
inline constexpr DWORD HSE_MAX_EXT_DLL_NAME_LEN = 256;

// The extension version is reported as MAKELONG(minor, major).
constexpr DWORD HseMakeVersion(DWORD Major, DWORD Minor) { return (Major << 16) | (Minor & 0xFFFFu); }

// Answers of HttpExtensionProc.
inline constexpr DWORD HSE_STATUS_SUCCESS = 1;
inline constexpr DWORD HSE_STATUS_SUCCESS_AND_KEEP_CONN = 2;
inline constexpr DWORD HSE_STATUS_PENDING = 3;
inline constexpr DWORD HSE_STATUS_ERROR = 4;

// Request codes of ServerSupportFunction.
inline constexpr DWORD HSE_REQ_BASE = 0;
inline constexpr DWORD HSE_REQ_SEND_URL_REDIRECT_RESP = 1;
inline constexpr DWORD HSE_REQ_SEND_URL = 2;
inline constexpr DWORD HSE_REQ_SEND_RESPONSE_HEADER = 3;
inline constexpr DWORD HSE_REQ_DONE_WITH_SESSION = 4;
inline constexpr DWORD HSE_REQ_END_RESERVED = 1000;
inline constexpr DWORD HSE_REQ_MAP_URL_TO_PATH = 1001;

// Flags of WriteClient.
inline constexpr DWORD HSE_IO_SYNC = 0x00000001;
inline constexpr DWORD HSE_IO_ASYNC = 0x00000002;

// Flags of TerminateExtension.
inline constexpr DWORD HSE_TERM_MUST_UNLOAD = 1;
inline constexpr DWORD HSE_TERM_ADVISORY_UNLOAD = 2;

// cbTotalBytes when the body length is not known in advance (chunked).
inline constexpr DWORD HSE_TOTAL_BYTES_UNKNOWN = 0xFFFFFFFFu;

struct HSE_VERSION_INFO {
  DWORD dwExtensionVersion;
  char lpszExtensionDesc[HSE_MAX_EXT_DLL_NAME_LEN];
};
using LPHSE_VERSION_INFO = HSE_VERSION_INFO*;

using PFN_GETSERVERVARIABLE = BOOL (*)(HCONN hConn, LPSTR lpszVariableName, LPVOID lpvBuffer, LPDWORD lpdwSize);
using PFN_WRITECLIENT = BOOL (*)(HCONN ConnID, LPVOID Buffer, LPDWORD lpdwBytes, DWORD dwReserved);
using PFN_READCLIENT = BOOL (*)(HCONN ConnID, LPVOID lpvBuffer, LPDWORD lpdwSize);
using PFN_SERVERSUPPORTFUNCTION = BOOL (*)(HCONN hConn, DWORD dwHSERRequest, LPVOID lpvBuffer, LPDWORD lpdwSize,
                                           LPDWORD lpdwDataType);

struct EXTENSION_CONTROL_BLOCK {
  DWORD cbSize;
  DWORD dwVersion;
  HCONN ConnID;
  DWORD dwHttpStatusCode;
  char lpszLogData[HSE_LOG_BUFFER_LEN];
  LPSTR lpszMethod;
  LPSTR lpszQueryString;
  LPSTR lpszPathInfo;
  LPSTR lpszPathTranslated;
  DWORD cbTotalBytes;
  DWORD cbAvailable;
  LPBYTE lpbData;
  LPSTR lpszContentType;
  PFN_GETSERVERVARIABLE GetServerVariable;
  PFN_WRITECLIENT WriteClient;
  PFN_READCLIENT ReadClient;
  PFN_SERVERSUPPORTFUNCTION ServerSupportFunction;
};
using LPEXTENSION_CONTROL_BLOCK = EXTENSION_CONTROL_BLOCK*;

// The three entry points an extension exports with C linkage.
using PFN_GETEXTENSIONVERSION = BOOL (*)(HSE_VERSION_INFO* pVer);
using PFN_HTTPEXTENSIONPROC = DWORD (*)(EXTENSION_CONTROL_BLOCK* pECB);
using PFN_TERMINATEEXTENSION = BOOL (*)(DWORD dwFlags);
