#pragma once
// The request of an ISAPI extension: TWebRequest answered from the host's
// control block and its four callbacks. It owns nothing of the host's and
// lives for one HttpExtensionProc call, on the thread that serves it.
#include <array>

#include <tolvane/http/web_request.h>
#include <tolvane/isapi/isapi.h>

namespace tolvane {

class TISAPIRequest : public TWebRequest {
  TV_DECLARE_CLASS(TISAPIRequest)
 public:
  explicit TISAPIRequest(EXTENSION_CONTROL_BLOCK* AECB);

  EXTENSION_CONTROL_BLOCK* ECB() const { return FECB; }

  // The control block's strings, the body read ahead (index 25) or the server
  // variable of ServerVariables; empty outside 0 to 28.
  AnsiString GetStringVariable(int Index) override;
  // -1.0 for an empty value; ParseDate's failures pass to the caller.
  TDateTime GetDateVariable(int Index) override;
  // -1 for an empty value; text that is no integer raises EConvertError.
  int GetIntegerVariable(int Index) override;
  // The path after the extension's own URL in the URL the client sent.
  AnsiString GetRawPathInfo() override;
  int ReadClient(void* Buffer, int Count) override;
  // Empty when the host cannot map URI, and for a URI that does not fit the
  // host's 1024-byte buffer or holds a NUL: a shortened path could name
  // another file.
  String TranslateURI(const String& URI) override;
  // Hands the host every byte, offering again what a short write left; the
  // count written, or -1 when the host failed or took nothing.
  int WriteClient(const void* Buffer, int Count) override;
  bool WriteString(const AnsiString& AString) override;
  // Stores StatusCode for the host's log and sends the status text and header
  // block; the host's answer is not examined.
  bool WriteHeaders(int StatusCode, const AnsiString& StatusString, const AnsiString& Headers) override;
  // The server variable Name, else "HTTP_" + Name, else empty.
  AnsiString GetFieldByName(const AnsiString& Name) override;

  // Whether a status, a header block or content bytes went to the host: from
  // then on the client may have part of a response.
  bool ResponseStarted() const { return FResponseStarted; }

  // HTTP_HOST without the port: cut at its first ":".
  AnsiString GetHost();

  // The server variable behind each request variable; empty where the value
  // comes from the control block (and for Host, which GetHost answers).
  static const std::array<const char*, RequestVariableCount> ServerVariables;
  // The buffer a server variable is first asked with, and the most a host's
  // reported size can make it grow to.
  static constexpr std::uint32_t VariableBufferSize = 4096;
  static constexpr std::uint32_t MaxVariableSize = 1024 * 1024;
  // The buffer of HSE_REQ_MAP_URL_TO_PATH.
  static constexpr std::uint32_t MapPathBufferSize = 1024;

 private:
  // One server variable under exactly this name.
  bool QueryVariable(const AnsiString& Name, AnsiString& Value);

  EXTENSION_CONTROL_BLOCK* FECB;  // not owned
  bool FResponseStarted = false;
};

// Writes Count bytes of Buffer through the control block's WriteClient,
// offering again what a short write left, until all are taken. Written is
// what the host took; false when it failed or took nothing.
bool WriteToClient(EXTENSION_CONTROL_BLOCK* ECB, const void* Buffer, DWORD Count, DWORD& Written);

}  // namespace tolvane
