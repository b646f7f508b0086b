#include <tolvane/http/cookie.h>

#include <tolvane/http/http_utils.h>
#include <tolvane/runtime/format.h>

namespace tolvane {

TV_DEFINE_CLASS(TCookie, TCollectionItem, CreateItem<TCookie>);
TV_DEFINE_CLASS(TCookieCollection, TCollection);

AnsiString TCookie::HeaderValue() const {
  String text = Format(u"%s=%s; ", {HTTPEncode(FName), HTTPEncode(FValue)});
  if (!FDomain.empty()) text += Format(u"domain=%s; ", {FDomain});
  if (!FPath.empty()) text += Format(u"path=%s; ", {FPath});
  // A date outside the years 1 to 9999 has no HTTP form and is left out.
  if (FExpires > -1.0 && !MonthStr(FExpires).empty()) {
    int year, month, day, hour, minute, second, msec;
    DecodeDate(FExpires, year, month, day);
    DecodeTime(FExpires, hour, minute, second, msec);
    text += Format(u"expires=%s, %.2d %s %.4d %.2d:%.2d:%.2d GMT; ",
                   {DayOfWeekStr(FExpires), day, MonthStr(FExpires), year, hour, minute, second});
  }
  if (FSecure) text += u"secure";
  if (text.size() >= 2 && text.compare(text.size() - 2, 2, u"; ") == 0) text.resize(text.size() - 2);
  return AnsiOf(text);
}

void TCookie::AssignTo(TPersistent* Dest) const {
  if (auto* cookie = dynamic_cast<TCookie*>(Dest)) {
    cookie->FName = FName;
    cookie->FValue = FValue;
    cookie->FDomain = FDomain;
    cookie->FPath = FPath;
    cookie->FExpires = FExpires;
    cookie->FSecure = FSecure;
    return;
  }
  TCollectionItem::AssignTo(Dest);
}

}  // namespace tolvane
