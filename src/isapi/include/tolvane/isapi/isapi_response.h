#pragma once
// The response of an ISAPI extension: TWebResponse storing its variables
// itself and sending status text, header block and content through its
// TISAPIRequest. The log text and redirects go straight to the control block.
#include <array>

#include <tolvane/http/web_response.h>
#include <tolvane/isapi/isapi_request.h>

namespace tolvane {

class TISAPIResponse : public TWebResponse {
  TV_DECLARE_CLASS(TISAPIResponse)
 public:
  // HTTPRequest is not owned and must outlive the response.
  explicit TISAPIResponse(TISAPIRequest* HTTPRequest);

  // Indexes outside the tables read as "", -1 and 0.0; writes to them are ignored.
  AnsiString GetStringVariable(int Index) override;
  void SetStringVariable(int Index, const AnsiString& Value) override;
  TDateTime GetDateVariable(int Index) override;
  void SetDateVariable(int Index, TDateTime Value) override;
  int GetIntegerVariable(int Index) override;
  void SetIntegerVariable(int Index, int Value) override;
  AnsiString GetContent() override { return FContent; }
  // Also sets ContentLength to the byte count while no content stream is set.
  void SetContent(const AnsiString& Value) override;
  int GetStatusCode() override { return FStatusCode; }
  // A changed code also sets ReasonString to its reason phrase (or empty).
  void SetStatusCode(int Value) override;
  // The log text lives in the control block's 80-byte log field.
  String GetLogMessage() override;
  void SetLogMessage(const String& Value) override;
  // Status text and header block (unless the request has no protocol
  // version), then the content or the rest of the content stream.
  void SendResponse() override;
  // The host composes the redirect; nothing else of the response is sent.
  void SendRedirect(const AnsiString& URI) override;
  // Sends AStream from its position to its end.
  void SendStream(TStream& AStream) override;
  bool Sent() override { return FSent; }

  // The defaults: version "1.0" for a request without one, status 200, no
  // dates, content type "text/html".
  virtual void InitResponse();

  TISAPIRequest& Request() const { return *static_cast<TISAPIRequest*>(HTTPRequest()); }

  // The most bytes read from a content stream per write.
  static constexpr int StreamChunkSize = 8192;

 private:
  String BuildHeaders();

  int FStatusCode = 0;
  std::array<AnsiString, ResponseStringVariableCount> FStringVariables;
  std::array<int, ResponseIntegerVariableCount> FIntegerVariables{};
  std::array<TDateTime, ResponseDateVariableCount> FDateVariables{};
  AnsiString FContent;
  bool FSent = false;
};

// The HTTP (RFC 1123) form of a date-time taken as GMT: "Sun, 06 Nov 1994
// 08:49:37 GMT". Empty for a date outside the years 1 to 9999.
String FormatHTTPDate(TDateTime Value);

}  // namespace tolvane
