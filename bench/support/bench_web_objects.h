#pragma once
// The least a request and a response must do to be dispatched and answered,
// with no host behind them.
#include <tolvane/http/web_request.h>
#include <tolvane/http/web_response.h>

namespace tolvane::bench {

// The least a request must answer to be dispatched: its method and path.
class TBenchRequest : public TWebRequest {
 public:
  TBenchRequest(AnsiString Method, AnsiString Path) : FMethod(std::move(Method)), FPath(std::move(Path)) {}
  AnsiString GetStringVariable(int Index) override {
    return Index == rvMethod ? FMethod : Index == rvPathInfo ? FPath : AnsiString();
  }
  TDateTime GetDateVariable(int) override { return -1; }
  int GetIntegerVariable(int) override { return -1; }
  int ReadClient(void*, int) override { return -1; }
  String TranslateURI(const String&) override { return {}; }
  int WriteClient(const void*, int Count) override { return Count; }
  bool WriteString(const AnsiString&) override { return true; }
  bool WriteHeaders(int, const AnsiString&, const AnsiString&) override { return true; }
  AnsiString GetFieldByName(const AnsiString&) override { return {}; }

 private:
  AnsiString FMethod, FPath;
};

// Keeps the content and status; sending only marks it sent.
class TBenchResponse : public TWebResponse {
 public:
  using TWebResponse::TWebResponse;
  AnsiString GetStringVariable(int) override { return {}; }
  void SetStringVariable(int, const AnsiString&) override {}
  TDateTime GetDateVariable(int) override { return -1; }
  void SetDateVariable(int, TDateTime) override {}
  int GetIntegerVariable(int) override { return int(FContent.size()); }
  void SetIntegerVariable(int, int) override {}
  AnsiString GetContent() override { return FContent; }
  void SetContent(const AnsiString& Value) override { FContent = Value; }
  int GetStatusCode() override { return FStatus; }
  void SetStatusCode(int Value) override { FStatus = Value; }
  String GetLogMessage() override { return {}; }
  void SetLogMessage(const String&) override {}
  void SendResponse() override { FSent = true; }
  void SendRedirect(const AnsiString&) override { FSent = true; }
  void SendStream(TStream&) override {}
  bool Sent() override { return FSent; }

 private:
  AnsiString FContent;
  int FStatus = 200;
  bool FSent = false;
};

}  // namespace tolvane::bench
