#include <tolvane/http/web_response.h>

#include <algorithm>
#include <unordered_map>
#include <vector>

#include <tolvane/http/http_utils.h>

namespace tolvane {

TV_DEFINE_CLASS(TWebResponse, TObject);

namespace {

// Names equal under the locale's case-insensitive comparison share this key:
// their ASCII characters upper-cased, leaving out I, S and every character
// outside ASCII (such characters can compare equal to I and S, as the dotless
// i and the long s do). Names of one key are told apart by the comparison.
String NameKey(std::u16string_view Name) {
  String key;
  key.reserve(Name.size());
  for (char16_t c : Name) {
    const char16_t up = UpCaseAscii(c);
    if (c < 0x80 && up != u'I' && up != u'S') key += up;
  }
  return key;
}

// Visits each entry of Strings in order with its name and the value a lookup
// by that name gives (that of the first entry of an equal name), in one pass
// rather than one lookup per entry.
template <class Visitor>
void ForEachLookedUpValue(const TStrings& Strings, Visitor Visit) {
  std::unordered_map<String, std::vector<int>> firstOfName;  // by key, the first entry of each name
  for (int i = 0; i < Strings.Count(); ++i) {
    String name = Strings.Names(i);
    std::vector<int>& firsts = firstOfName[NameKey(name)];
    auto first = std::find_if(firsts.begin(), firsts.end(), [&](int j) { return SameText(Strings.Names(j), name); });
    int index = first != firsts.end() ? *first : i;
    if (index == i) firsts.push_back(i);
    Visit(name, Strings.ValueFromIndex(index));
  }
}

}  // namespace

TWebResponse::TWebResponse(TWebRequest* HTTPRequest)
    : FCookies(std::make_unique<TCookieCollection>(this, TCookie::StaticClass())),
      FHTTPRequest(HTTPRequest),
      FCustomHeaders(std::make_unique<TStringList>()) {}

TWebResponse::~TWebResponse() {
  if (FFreeContentStream) delete FContentStream;
}

void TWebResponse::SetContentStream(TStream* Value) {
  if (Value == FContentStream) return;
  if (FFreeContentStream) delete FContentStream;
  FContentStream = Value;
  if (FContentStream) SetContentLength(int(std::uint32_t(std::uint64_t(FContentStream->Size()))));
  else SetContentLength(int(GetContent().size()));
}

String TWebResponse::GetCustomHeader(std::u16string_view Name) const { return FCustomHeaders->Values(Name); }

void TWebResponse::SetCustomHeader(std::u16string_view Name, std::u16string_view Value) {
  FCustomHeaders->SetValue(Name, Value);
}

void TWebResponse::AddCustomHeaders(String& Headers) const {
  ForEachLookedUpValue(*FCustomHeaders, [&Headers](const String& Name, const String& Value) {
    Headers += HeaderSafe(Name) + u": " + HeaderSafe(Value) + u"\r\n";
  });
}

void TWebResponse::SetCookieField(const TStrings& Values, const AnsiString& ADomain, const AnsiString& APath,
                                  TDateTime AExpires, bool ASecure) {
  ForEachLookedUpValue(Values, [&](const String& Name, const String& Value) {
    TCookie* cookie = FCookies->Add();
    cookie->SetName(AnsiOf(Name));
    cookie->SetValue(AnsiOf(Value));
    cookie->SetDomain(ADomain);
    cookie->SetPath(APath);
    cookie->SetExpires(AExpires);
    cookie->SetSecure(ASecure);
  });
}

AnsiString TWebResponse::FormatAuthenticate() {
  AnsiString realm = Realm();
  if (realm.empty()) return WWWAuthenticate();
  return WWWAuthenticate() + " Realm=" + realm;
}

String TWebResponse::GetUnicodeContent() { return EncodingGetString(ContentType(), GetContent()); }

void TWebResponse::SetUnicodeContent(std::u16string_view Value) { SetContent(EncodingGetBytes(ContentType(), Value)); }

}  // namespace tolvane
