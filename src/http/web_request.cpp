#include <tolvane/http/web_request.h>

#include <algorithm>

namespace tolvane {

TV_DEFINE_CLASS(TAbstractWebRequestFile, TObject);
TV_DEFINE_CLASS(TAbstractWebRequestFiles, TObject);
TV_DEFINE_CLASS(TEmptyRequestFiles, TAbstractWebRequestFiles);
TV_DEFINE_CLASS(TAbstractContentParser, TObject);
TV_DEFINE_CLASS(TContentParser, TAbstractContentParser);
TV_DEFINE_CLASS(TWebRequest, TObject);

TStrings& TContentParser::GetContentFields() {
  if (!FContentFields) {
    // Kept before filling: a decoding failure leaves the fields read so far.
    FContentFields = std::make_unique<TStringList>();
    WebRequest().ExtractContentFields(*FContentFields);
  }
  return *FContentFields;
}

TAbstractWebRequestFiles& TContentParser::GetFiles() {
  if (!FFiles) FFiles = std::make_unique<TEmptyRequestFiles>();
  return *FFiles;
}

std::vector<TContentParserClass>& ContentParsers() {
  static std::vector<TContentParserClass> Registry;
  return Registry;
}

// The method type is not worked out here: a base constructor cannot reach the
// subclass's variables, so it is read on first use.
TWebRequest::TWebRequest() = default;

TWebRequest::~TWebRequest() = default;

AnsiString TWebRequest::ReadString(int Count) {
  // Count is often the client's own claim (ContentLength): the buffer grows by
  // what arrives, one bounded step at a time, never by the count asked for.
  // A step that is not filled means fewer bytes are there, and ends the read.
  AnsiString result;
  while (int(result.size()) < Count) {
    const std::size_t size = result.size();
    const int wanted = std::min(Count - int(size), ContentReadChunk);
    result.resize(size + std::size_t(wanted));
    const int n = ReadClient(result.data() + size, wanted);
    result.resize(size + std::size_t(std::clamp(n, 0, wanted)));
    if (n < wanted) break;
  }
  if (result.capacity() - result.size() >= ContentReadChunk) result.shrink_to_fit();
  return result;
}

void TWebRequest::UpdateMethodType() {
  static constexpr struct {
    std::string_view Name;
    TMethodType Type;
  } kMethods[] = {{"GET", TMethodType::mtGet},
                  {"PUT", TMethodType::mtPut},
                  {"POST", TMethodType::mtPost},
                  {"HEAD", TMethodType::mtHead}};
  AnsiString method = Method();
  FMethodTypeKnown = true;
  for (const auto& m : kMethods)
    if (method == m.Name) {
      FMethodType = m.Type;
      return;
    }
}

TMethodType TWebRequest::MethodType() {
  if (!FMethodTypeKnown) UpdateMethodType();
  return FMethodType;
}

TAbstractContentParser& TWebRequest::ContentParser() {
  if (!FContentParser) {
    const auto& parsers = ContentParsers();
    for (auto it = parsers.rbegin(); it != parsers.rend(); ++it)
      if ((*it)->Create && (*it)->CanParse(*this)) {
        FContentParser.reset((*it)->Create(*this));
        break;
      }
    if (!FContentParser) FContentParser = std::make_unique<TContentParser>(*this);
  }
  return *FContentParser;
}

TStrings& TWebRequest::CookieFields() {
  if (!FCookieFields) {
    FCookieFields = std::make_unique<TStringList>();
    ExtractCookieFields(*FCookieFields);
  }
  return *FCookieFields;
}

TStrings& TWebRequest::QueryFields() {
  if (!FQueryFields) {
    FQueryFields = std::make_unique<TStringList>();
    ExtractQueryFields(*FQueryFields);
  }
  return *FQueryFields;
}

void TWebRequest::ExtractFields(const TSysCharSet& Separators, const TSysCharSet& WhiteSpace,
                                std::u16string_view Content, TStrings& Strings) {
  ExtractHTTPFields(Separators, WhiteSpace, Content, Strings, false);
}

void TWebRequest::ExtractFields(const TSysCharSet& Separators, const TSysCharSet& WhiteSpace,
                                std::string_view Content, TStrings& Strings) {
  ExtractHTTPFields(Separators, WhiteSpace, Content, Strings, false);
}

void TWebRequest::ExtractQueryFields(TStrings& Strings) { ExtractFields("&", {}, Query(), Strings); }

void TWebRequest::ExtractCookieFields(TStrings& Strings) {
  ExtractHeaderFields(",;", " ", Cookie(), Strings, true, false);
}

void TWebRequest::ExtractContentFields(TStrings& Strings) {
  const int length = ContentLength();
  if (length <= 0) return;
  // The body is gathered as bytes and decoded once, so that a character split
  // between two reads is not lost.
  AnsiString body = RawContent();
  while (body.size() < std::size_t(length)) {
    int wanted = int(std::min<std::size_t>(std::size_t(length) - body.size(), ContentReadChunk));
    AnsiString chunk = ReadString(wanted);
    if (chunk.empty()) break;  // no more data, or a failed read
    body += chunk;
  }
  ExtractFields("&", {}, EncodingGetString(ContentType(), body), Strings);
}

String TWebRequest::Content() { return EncodingGetString(ContentType(), RawContent()); }

String TWebRequest::ReadUnicodeString(int Count) {
  if (Count <= 0) return {};
  return EncodingGetString(ContentType(), ReadString(Count));
}

}  // namespace tolvane
