#include "http/web_response.h"

#include "http/http_utils.h"

namespace tolvane {

TV_DEFINE_CLASS(TWebResponse, TObject);

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
  for (int i = 0; i < FCustomHeaders->Count(); ++i) {
    String name = FCustomHeaders->Names(i);
    Headers += name + u": " + FCustomHeaders->Values(name) + u"\r\n";
  }
}

void TWebResponse::SetCookieField(const TStrings& Values, const AnsiString& ADomain, const AnsiString& APath,
                                  TDateTime AExpires, bool ASecure) {
  for (int i = 0; i < Values.Count(); ++i) {
    TCookie* cookie = FCookies->Add();
    String name = Values.Names(i);
    cookie->SetName(AnsiOf(name));
    cookie->SetValue(AnsiOf(Values.Values(name)));
    cookie->SetDomain(ADomain);
    cookie->SetPath(APath);
    cookie->SetExpires(AExpires);
    cookie->SetSecure(ASecure);
  }
}

AnsiString TWebResponse::FormatAuthenticate() {
  AnsiString realm = Realm();
  if (realm.empty()) return WWWAuthenticate();
  return WWWAuthenticate() + " Realm=" + realm;
}

String TWebResponse::GetUnicodeContent() { return EncodingGetString(ContentType(), GetContent()); }

void TWebResponse::SetUnicodeContent(std::u16string_view Value) { SetContent(EncodingGetBytes(ContentType(), Value)); }

}  // namespace tolvane
