// Drives the ISAPI request and response with arbitrary host data and checks
// what must hold whatever the bytes: the raw path comes from the URL the
// client sent or the host's path information, the host name has no port, the
// log text fits its field, and the header block the host receives is whole
// (ends with its empty line) with no value breaking a line.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <tolvane/isapi/isapi_response.h>
#include <tolvane/runtime/exception.h>

using namespace tolvane;

namespace {

struct THost {
  std::map<std::string, std::string> Variables;
  std::string Written;
  std::vector<std::string> StatusTexts, HeaderBlocks;
};

void Check(bool Condition) {
  if (!Condition) std::abort();
}

THost* HostOf(HCONN ConnID) { return static_cast<THost*>(ConnID); }

BOOL GetServerVariable(HCONN ConnID, LPSTR Name, LPVOID Buffer, LPDWORD Size) {
  auto& vars = HostOf(ConnID)->Variables;
  auto it = vars.find(Name);
  if (it == vars.end()) return ISAPI_FALSE;
  DWORD needed = DWORD(it->second.size() + 1);
  if (*Size < needed) {
    *Size = needed;
    return ISAPI_FALSE;
  }
  std::memcpy(Buffer, it->second.c_str(), needed);
  *Size = needed;
  return ISAPI_TRUE;
}

BOOL WriteClient(HCONN ConnID, LPVOID Buffer, LPDWORD Bytes, DWORD) {
  HostOf(ConnID)->Written.append(static_cast<const char*>(Buffer), *Bytes);
  return ISAPI_TRUE;
}

BOOL ReadClient(HCONN, LPVOID, LPDWORD Size) {
  *Size = 0;
  return ISAPI_TRUE;
}

BOOL ServerSupportFunction(HCONN ConnID, DWORD Request, LPVOID Buffer, LPDWORD Size, LPDWORD DataType) {
  THost* host = HostOf(ConnID);
  if (Request == HSE_REQ_SEND_RESPONSE_HEADER) {
    host->StatusTexts.push_back(static_cast<const char*>(Buffer));
    host->HeaderBlocks.push_back(DataType ? reinterpret_cast<const char*>(DataType) : "");
    return ISAPI_TRUE;
  }
  if (Request == HSE_REQ_MAP_URL_TO_PATH) {
    Check(Size && *Size == 1024 && std::memchr(Buffer, 0, 1024));
    std::memset(Buffer, 'p', 1024);  // a path that fills the buffer with no zero
    return ISAPI_TRUE;
  }
  return ISAPI_TRUE;
}

std::vector<std::string> Fields(const std::uint8_t* Data, std::size_t Size) {
  std::vector<std::string> fields(1);
  for (std::size_t i = 0; i < Size; ++i) {
    if (Data[i] == 0x01) fields.emplace_back();
    else fields.back() += char(Data[i]);
  }
  fields.resize(16);
  return fields;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  auto f = Fields(Data, Size);
  THost host;
  const char* names[] = {"SERVER_PROTOCOL", "HTTP_URL", "URL", "HTTP_HOST", "CONTENT_LENGTH", "HTTP_DATE"};
  for (std::size_t i = 0; i < 6; ++i)
    if (!f[i].empty()) host.Variables[names[i]] = f[i];
  std::string query = f[6], pathInfo = f[7], method = f[8];

  EXTENSION_CONTROL_BLOCK ecb{};
  ecb.cbSize = sizeof ecb;
  ecb.ConnID = &host;
  ecb.lpszMethod = method.data();
  ecb.lpszQueryString = query.data();
  ecb.lpszPathInfo = pathInfo.data();
  ecb.lpszPathTranslated = pathInfo.data();
  ecb.GetServerVariable = &GetServerVariable;
  ecb.WriteClient = &WriteClient;
  ecb.ReadClient = &ReadClient;
  ecb.ServerSupportFunction = &ServerSupportFunction;

  TISAPIRequest request(&ecb);
  AnsiString raw = request.RawPathInfo();
  Check(raw == request.PathInfo() || host.Variables["HTTP_URL"].find(raw) != std::string::npos);
  AnsiString hostName = request.Host();
  Check(hostName.find(':') == AnsiString::npos && host.Variables["HTTP_HOST"].rfind(hostName, 0) == 0);
  try {
    request.ContentLength();
    request.Date();
  } catch (const Exception&) {
  }
  Check(request.TranslateURI(StringOf(f[9])).size() <= 1024);

  TISAPIResponse response(&request);
  response.SetLocation(f[10]);
  response.SetCustomHeader(StringOf(f[11]), StringOf(f[12]));
  if (f[13].size() >= 2) response.SetStatusCode(int(std::uint8_t(f[13][0])) * 4 + std::uint8_t(f[13][1]) % 4);
  response.SetReasonString(f[13]);
  TCookie* cookie = response.Cookies().Add();
  cookie->SetName(f[14]);
  cookie->SetPath(f[14]);
  response.SetLogMessage(StringOf(f[15]));
  Check(std::strlen(ecb.lpszLogData) <= 79);
  response.SetRawContent(f[15]);
  response.SendResponse();

  Check(host.Written == f[15]);
  if (f[0].empty()) {
    Check(host.HeaderBlocks.empty());
  } else {
    Check(host.HeaderBlocks.size() == 1);
    const std::string& block = host.HeaderBlocks[0];
    Check(block == "\r\n" || (block.size() >= 4 && block.compare(block.size() - 4, 4, "\r\n\r\n") == 0));
    // Every line ends in CR LF, and no CR or LF appears anywhere else.
    for (std::size_t i = 0; i < block.size(); ++i) {
      if (block[i] == '\r') Check(i + 1 < block.size() && block[i + 1] == '\n');
      if (block[i] == '\n') Check(i > 0 && block[i - 1] == '\r');
    }
    Check(host.StatusTexts[0].find_first_of("\r\n") == std::string::npos);
  }
  return 0;
}
