#pragma once
// In-memory request and response for tests: variables set by the test, a body
// the "client" hands out in reads of a chosen size, and a record of every call
// that would reach the host.
#include <array>
#include <climits>
#include <map>
#include <vector>

#include <tolvane/http/web_request.h>
#include <tolvane/http/web_response.h>

namespace tolvane::testing {

class TTestWebRequest : public TWebRequest {
 public:
  TTestWebRequest();

  // Variables by index; unset ones answer "", -1 and -1.0.
  TTestWebRequest& Set(int Index, AnsiString Value);
  TTestWebRequest& SetInteger(int Index, int Value);
  TTestWebRequest& SetDate(int Index, TDateTime Value);
  // The header answered by GetFieldByName.
  TTestWebRequest& SetField(AnsiString Name, AnsiString Value);
  // A body: the bytes that came with the request (RawContent), the bytes the
  // client still has to send, and ContentLength (the sum unless given).
  TTestWebRequest& SetBody(AnsiString Arrived, AnsiString Unread, int ContentLength = -2);

  AnsiString GetStringVariable(int Index) override;
  TDateTime GetDateVariable(int Index) override;
  int GetIntegerVariable(int Index) override;
  String GetRemoteIP() override { return RemoteIPValue.empty() ? TWebRequest::GetRemoteIP() : RemoteIPValue; }
  int ReadClient(void* Buffer, int Count) override;
  String TranslateURI(const String& URI) override;
  int WriteClient(const void* Buffer, int Count) override;
  bool WriteString(const AnsiString& AString) override;
  bool WriteHeaders(int StatusCode, const AnsiString& StatusString, const AnsiString& Headers) override;
  AnsiString GetFieldByName(const AnsiString& Name) override;

  // Settings of the simulated host.
  int MaxReadSize = INT_MAX;  // the most bytes one ReadClient hands out
  int FailReadsFrom = -1;     // ReadClient calls from this number on (0-based) fail
  int MaxWriteSize = INT_MAX; // the most bytes one WriteClient takes
  String RemoteIPValue;       // answered by GetRemoteIP when not empty
  std::map<String, String> Translations;

  // The record of host calls.
  std::vector<int> ReadCounts;  // Count of each ReadClient call
  std::vector<int> StringVariableReads = std::vector<int>(RequestVariableCount, 0);
  AnsiString Written;           // every byte written to the client
  int WriteCalls = 0;
  struct THeaderWrite {
    int StatusCode;
    AnsiString StatusString, Headers;
  };
  std::vector<THeaderWrite> HeaderWrites;
  AnsiString Unread;            // what the client has not sent yet

 private:
  std::array<AnsiString, RequestVariableCount> FText;
  std::array<int, RequestVariableCount> FInteger;
  std::array<TDateTime, RequestVariableCount> FDate;
  std::map<AnsiString, AnsiString> FFields;
};

// Stores its variables like a host binding (status 200 "OK", content type
// "text/html", dates -1, ContentLength following the content) and records what
// it sends instead of writing it.
class TTestWebResponse : public TWebResponse {
 public:
  explicit TTestWebResponse(TWebRequest* Request);

  AnsiString GetStringVariable(int Index) override;
  void SetStringVariable(int Index, const AnsiString& Value) override;
  TDateTime GetDateVariable(int Index) override;
  void SetDateVariable(int Index, TDateTime Value) override;
  int GetIntegerVariable(int Index) override;
  void SetIntegerVariable(int Index, int Value) override;
  AnsiString GetContent() override { return FContent; }
  void SetContent(const AnsiString& Value) override;
  int GetStatusCode() override { return FStatusCode; }
  void SetStatusCode(int Value) override;
  String GetLogMessage() override { return FLogMessage; }
  void SetLogMessage(const String& Value) override { FLogMessage = Value; }
  // Records the status text, a header block (Location, Set-Cookie lines,
  // custom headers, Content-Type) and the content, stream or bytes.
  void SendResponse() override;
  void SendRedirect(const AnsiString& URI) override;
  void SendStream(TStream& AStream) override;
  bool Sent() override { return FSent; }

  int SendCount = 0;
  AnsiString SentStatus;
  String SentHeaders;
  AnsiString SentContent;
  std::vector<AnsiString> Redirects;

 private:
  int FStatusCode = 0;
  std::array<AnsiString, ResponseStringVariableCount> FText;
  std::array<int, ResponseIntegerVariableCount> FInteger{};
  std::array<TDateTime, ResponseDateVariableCount> FDate{};
  AnsiString FContent;
  String FLogMessage;
  bool FSent = false;
};

}  // namespace tolvane::testing
