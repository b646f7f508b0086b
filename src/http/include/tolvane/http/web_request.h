#pragma once
// The host-independent HTTP request: header values and other facts as numbered
// variables that a host binding supplies, the method type, and the query,
// cookie and form fields as name=value lists built on first use. A request is
// used by one thread.
#include <cstdint>
#include <memory>
#include <type_traits>
#include <vector>

#include <tolvane/http/http_utils.h>
#include <tolvane/runtime/date_time.h>
#include <tolvane/runtime/object.h>
#include <tolvane/runtime/stream.h>
#include <tolvane/runtime/string_list.h>

namespace tolvane {

enum class TMethodType : std::uint8_t { mtAny = 0, mtGet = 1, mtPut = 2, mtPost = 3, mtHead = 4 };

// Indexes of the request variables. The three kinds share one index space:
// each index is only ever asked of the getter of its own kind.
enum TRequestVariable : int {
  rvMethod = 0,           // text
  rvProtocolVersion = 1,  // text
  rvURL = 2,              // text
  rvQuery = 3,            // text
  rvPathInfo = 4,         // text
  rvPathTranslated = 5,   // text
  rvCacheControl = 6,     // text
  rvDate = 7,             // date
  rvAccept = 8,           // text
  rvFrom = 9,             // text
  rvHost = 10,            // text
  rvIfModifiedSince = 11, // date
  rvReferer = 12,         // text
  rvUserAgent = 13,       // text
  rvContentEncoding = 14, // text
  rvContentType = 15,     // text
  rvContentLength = 16,   // integer
  rvContentVersion = 17,  // text
  rvDerivedFrom = 18,     // text
  rvExpires = 19,         // date
  rvTitle = 20,           // text
  rvRemoteAddr = 21,      // text
  rvRemoteHost = 22,      // text
  rvScriptName = 23,      // text
  rvServerPort = 24,      // integer
  rvRawContent = 25,      // text: the body bytes that came with the request
  rvConnection = 26,      // text
  rvCookie = 27,          // text
  rvAuthorization = 28,   // text
};
inline constexpr int RequestVariableCount = 29;

class TWebRequest;

// An uploaded file of a request body.
class TAbstractWebRequestFile : public TObject {
  TV_DECLARE_CLASS(TAbstractWebRequestFile)
 public:
  virtual AnsiString GetFieldName() = 0;
  virtual AnsiString GetFileName() = 0;
  virtual TStream* GetStream() = 0;
  virtual AnsiString GetContentType() = 0;

  AnsiString FieldName() { return GetFieldName(); }
  AnsiString FileName() { return GetFileName(); }
  TStream* Stream() { return GetStream(); }
  AnsiString ContentType() { return GetContentType(); }
};

class TAbstractWebRequestFiles : public TObject {
  TV_DECLARE_CLASS(TAbstractWebRequestFiles)
 public:
  virtual int GetCount() = 0;
  virtual TAbstractWebRequestFile* GetItem(int Index) = 0;

  int Count() { return GetCount(); }
  TAbstractWebRequestFile* Items(int Index) { return GetItem(Index); }
};

// The files of a body that carries none.
class TEmptyRequestFiles : public TAbstractWebRequestFiles {
  TV_DECLARE_CLASS(TEmptyRequestFiles)
 public:
  int GetCount() override { return 0; }
  TAbstractWebRequestFile* GetItem(int) override { return nullptr; }
};

// Turns a request body into content fields and files. A parser class offers a
// static CanParse(TWebRequest&) and a constructor taking the request.
class TAbstractContentParser : public TObject {
  TV_DECLARE_CLASS(TAbstractContentParser)
 public:
  explicit TAbstractContentParser(TWebRequest& AWebRequest) : FWebRequest(&AWebRequest) {}

  virtual TStrings& GetContentFields() = 0;
  virtual TAbstractWebRequestFiles& GetFiles() = 0;
  static bool CanParse(TWebRequest&) { return false; }

  TWebRequest& WebRequest() const { return *FWebRequest; }

 private:
  TWebRequest* FWebRequest;  // not owned
};

// The built-in parser: every body is form fields, and there are no files.
class TContentParser : public TAbstractContentParser {
  TV_DECLARE_CLASS(TContentParser)
 public:
  using TAbstractContentParser::TAbstractContentParser;

  TStrings& GetContentFields() override;
  TAbstractWebRequestFiles& GetFiles() override;
  static bool CanParse(TWebRequest&) { return true; }

 private:
  std::unique_ptr<TStrings> FContentFields;
  std::unique_ptr<TAbstractWebRequestFiles> FFiles;
};

// A reference to a content parser class: its class information, its CanParse
// and its constructor (null for an abstract class).
struct TContentParserClassInfo {
  TClass Class;
  bool (*CanParse)(TWebRequest& AWebRequest);
  TAbstractContentParser* (*Create)(TWebRequest& AWebRequest);
};
using TContentParserClass = const TContentParserClassInfo*;

template <class Parser>
TAbstractContentParser* CreateContentParser(TWebRequest& AWebRequest) {
  return new Parser(AWebRequest);
}

template <class Parser>
TContentParserClass ContentParserClass() {
  static_assert(std::is_base_of_v<TAbstractContentParser, Parser>);
  static constexpr TContentParserClassInfo Info{
      &Parser::ClassInfo_, &Parser::CanParse,
      [] {
        if constexpr (std::is_abstract_v<Parser>) return static_cast<decltype(&CreateContentParser<TContentParser>)>(nullptr);
        else return &CreateContentParser<Parser>;
      }()};
  return &Info;
}

// The process-wide registry of content parser classes, created empty on first
// use. Fill it before requests are served; requests read it without a lock.
// The last class whose CanParse answers true parses a request; with none,
// TContentParser does.
std::vector<TContentParserClass>& ContentParsers();

class TWebRequest : public TObject {
  TV_DECLARE_CLASS(TWebRequest)
 public:
  TWebRequest();
  ~TWebRequest() override;
  TWebRequest(const TWebRequest&) = delete;
  TWebRequest& operator=(const TWebRequest&) = delete;

  // The abstract host operations, and those with a base behaviour.
  virtual String GetRemoteIP() { return {}; }
  virtual AnsiString GetStringVariable(int Index) = 0;
  virtual TDateTime GetDateVariable(int Index) = 0;
  virtual int GetIntegerVariable(int Index) = 0;
  virtual AnsiString GetInternalPathInfo() { return PathInfo(); }
  virtual AnsiString GetRawPathInfo() { return PathInfo(); }
  virtual AnsiString GetInternalScriptName() { return ScriptName(); }
  // Reads up to Count further body bytes; answers how many, or -1 on failure.
  virtual int ReadClient(void* Buffer, int Count) = 0;
  // Reads up to Count further body bytes: one ReadClient for up to
  // ContentReadChunk bytes, and further ones only while each is filled, so
  // memory follows what arrives rather than Count. Empty when the first read
  // fails; the bytes read so far when a later one does. Empty without asking
  // the host when Count is 0 or less.
  virtual AnsiString ReadString(int Count);
  // The physical path the server maps URI to; empty when it cannot.
  virtual String TranslateURI(const String& URI) = 0;
  // Writes Count bytes to the client; answers how many, or -1 on failure.
  virtual int WriteClient(const void* Buffer, int Count) = 0;
  // True when every byte was written.
  virtual bool WriteString(const AnsiString& AString) = 0;
  // Sends the status (StatusString such as "200 OK") and the header block
  // (lines each ending in CR LF, then an empty line).
  virtual bool WriteHeaders(int StatusCode, const AnsiString& StatusString, const AnsiString& Headers) = 0;
  // The request header Name; empty when absent.
  virtual AnsiString GetFieldByName(const AnsiString& Name) = 0;

  // Sets the method type from Method: "GET", "PUT", "POST", "HEAD", compared
  // exactly. With no match the method type keeps its value.
  void UpdateMethodType();
  // Worked out from Method on first use, then fixed.
  TMethodType MethodType();

  TAbstractContentParser& ContentParser();
  // The lists below belong to the request (or its parser); callers must not
  // free them. Decoding failures propagate; the partial list stays.
  TStrings& ContentFields() { return ContentParser().GetContentFields(); }
  TStrings& CookieFields();
  TStrings& QueryFields();
  TAbstractWebRequestFiles& Files() { return ContentParser().GetFiles(); }

  // The field splitter: ExtractHTTPFields, quotes kept.
  void ExtractFields(const TSysCharSet& Separators, const TSysCharSet& WhiteSpace, std::u16string_view Content,
                     TStrings& Strings);
  void ExtractFields(const TSysCharSet& Separators, const TSysCharSet& WhiteSpace, std::string_view Content,
                     TStrings& Strings);
  void ExtractQueryFields(TStrings& Strings);
  void ExtractCookieFields(TStrings& Strings);
  // The body's form fields. Body bytes beyond RawContent are read from the
  // client in bounded chunks until ContentLength bytes are there, the client
  // has no more, or a read fails.
  void ExtractContentFields(TStrings& Strings);
  // Reads up to Count body bytes and decodes them by the content type.
  String ReadUnicodeString(int Count);

  AnsiString Method() { return GetStringVariable(rvMethod); }
  AnsiString ProtocolVersion() { return GetStringVariable(rvProtocolVersion); }
  AnsiString URL() { return GetStringVariable(rvURL); }
  AnsiString Query() { return GetStringVariable(rvQuery); }
  AnsiString PathInfo() { return GetStringVariable(rvPathInfo); }
  AnsiString PathTranslated() { return GetStringVariable(rvPathTranslated); }
  AnsiString Authorization() { return GetStringVariable(rvAuthorization); }
  AnsiString CacheControl() { return GetStringVariable(rvCacheControl); }
  AnsiString Cookie() { return GetStringVariable(rvCookie); }
  TDateTime Date() { return GetDateVariable(rvDate); }
  AnsiString Accept() { return GetStringVariable(rvAccept); }
  AnsiString From() { return GetStringVariable(rvFrom); }
  AnsiString Host() { return GetStringVariable(rvHost); }
  TDateTime IfModifiedSince() { return GetDateVariable(rvIfModifiedSince); }
  AnsiString Referer() { return GetStringVariable(rvReferer); }
  AnsiString UserAgent() { return GetStringVariable(rvUserAgent); }
  AnsiString ContentEncoding() { return GetStringVariable(rvContentEncoding); }
  AnsiString ContentType() { return GetStringVariable(rvContentType); }
  int ContentLength() { return GetIntegerVariable(rvContentLength); }
  AnsiString ContentVersion() { return GetStringVariable(rvContentVersion); }
  AnsiString RawContent() { return GetStringVariable(rvRawContent); }
  // RawContent decoded by the content type, on every read.
  String Content();
  AnsiString Connection() { return GetStringVariable(rvConnection); }
  AnsiString DerivedFrom() { return GetStringVariable(rvDerivedFrom); }
  TDateTime Expires() { return GetDateVariable(rvExpires); }
  AnsiString Title() { return GetStringVariable(rvTitle); }
  AnsiString RemoteAddr() { return GetStringVariable(rvRemoteAddr); }
  AnsiString RemoteHost() { return GetStringVariable(rvRemoteHost); }
  AnsiString ScriptName() { return GetStringVariable(rvScriptName); }
  int ServerPort() { return GetIntegerVariable(rvServerPort); }
  AnsiString InternalPathInfo() { return GetInternalPathInfo(); }
  AnsiString RawPathInfo() { return GetRawPathInfo(); }
  AnsiString InternalScriptName() { return GetInternalScriptName(); }
  String RemoteIP() { return GetRemoteIP(); }

  // The most body bytes asked of the client in one read.
  static constexpr int ContentReadChunk = 64 * 1024;

 private:
  std::unique_ptr<TAbstractContentParser> FContentParser;
  TMethodType FMethodType = TMethodType::mtAny;
  bool FMethodTypeKnown = false;
  std::unique_ptr<TStrings> FCookieFields;
  std::unique_ptr<TStrings> FQueryFields;
};

}  // namespace tolvane
