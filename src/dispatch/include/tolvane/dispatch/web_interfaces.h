#pragma once
// The interfaces through which the request handler, the dispatcher, action
// items, content producers and the host object meet, and the two event types
// they share.
//
// An interface is an abstract class; an object supports it when it derives
// from it, which Supports<I>(Object) tests. Interface pointers never own:
// components live until their owner frees them, and the destructors here are
// protected so that nobody deletes through an interface. Each interface keeps
// its identifier beside it for hosts that name interfaces by identifier.
#include <array>
#include <cstdint>
#include <memory>
#include <string_view>

#include <tolvane/http/web_request.h>
#include <tolvane/http/web_response.h>
#include <tolvane/runtime/component.h>
#include <tolvane/runtime/exception.h>
#include <tolvane/runtime/method_event.h>
#include <tolvane/runtime/stream.h>

namespace tolvane {

class TMask;
class TAbstractWebModuleList;

// Sender, Request, Response, Handled (the handler may change it).
using THTTPMethodEvent = TMethodEvent<TObject*, TWebRequest*, TWebResponse*, bool&>;
// Sender, the exception, Handled (the handler may change it).
using TWebExceptionEvent = TMethodEvent<TObject*, const Exception&, bool&>;

// A 128-bit interface identifier.
struct TGUID {
  std::uint32_t D1 = 0;
  std::uint16_t D2 = 0;
  std::uint16_t D3 = 0;
  std::array<std::uint8_t, 8> D4{};

  bool operator==(const TGUID&) const = default;
};

namespace guid_detail {
constexpr std::uint64_t Hex(std::string_view S, std::size_t At, std::size_t Digits) {
  std::uint64_t v = 0;
  for (std::size_t i = At; i < At + Digits; ++i) {
    char c = S.at(i);
    int d = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    if (d < 0) throw "not a hexadecimal digit";  // only reached at compile time
    v = v * 16 + std::uint64_t(d);
  }
  return v;
}
}  // namespace guid_detail

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" read at compile time.
consteval TGUID StringToGUID(std::string_view S) {
  if (S.size() != 38 || S[0] != '{' || S[9] != '-' || S[14] != '-' || S[19] != '-' || S[24] != '-' || S[37] != '}')
    throw "not an interface identifier";
  using guid_detail::Hex;
  TGUID g;
  g.D1 = std::uint32_t(Hex(S, 1, 8));
  g.D2 = std::uint16_t(Hex(S, 10, 4));
  g.D3 = std::uint16_t(Hex(S, 15, 4));
  g.D4[0] = std::uint8_t(Hex(S, 20, 2));
  g.D4[1] = std::uint8_t(Hex(S, 22, 2));
  for (std::size_t i = 0; i < 6; ++i) g.D4[2 + i] = std::uint8_t(Hex(S, 25 + 2 * i, 2));
  return g;
}

// The object as interface I, or null when it does not support it (an absent
// object supports nothing).
template <class I, class T>
I* Supports(T* Object) {
  return dynamic_cast<I*>(Object);
}

class IWebDispatch;
class IWebAppServices;

// A component that claims requests by method type and path mask itself.
inline constexpr TGUID IID_IWebDispatch = StringToGUID("{E6D33BE4-9FAE-D511-8D38-0050568E0E44}");
class IWebDispatch {
 public:
  virtual bool DispatchEnabled() = 0;
  virtual TMethodType DispatchMethodType() = 0;
  virtual bool DispatchRequest(TObject* Sender, TWebRequest* Request, TWebResponse* Response) = 0;
  // Owned by the implementer; null matches no path.
  virtual TMask* DispatchMask() = 0;

 protected:
  virtual ~IWebDispatch() = default;
};

// The per-request services of a module set.
inline constexpr TGUID IID_IWebAppServices180 = StringToGUID("{D62F1586-E307-11D3-A418-00C04F6BB853}");
class IWebAppServices180 {
 public:
  virtual void InitContext(TAbstractWebModuleList* WebModuleList, TWebRequest* Request, TWebResponse* Response) = 0;
  virtual bool HandleRequest() = 0;
  virtual void FinishContext() = 0;
  // The object to ask for IWebExceptionHandler, or null.
  virtual TObject* GetExceptionHandler() = 0;

 protected:
  virtual ~IWebAppServices180() = default;
};

inline constexpr TGUID IID_IWebAppServices = StringToGUID("{8B627D59-897B-452C-9633-05CC3A634196}");
class IWebAppServices : public IWebAppServices180 {
 public:
  virtual bool GetActive() = 0;

 protected:
  ~IWebAppServices() override = default;
};

inline constexpr TGUID IID_IGetWebAppServices = StringToGUID("{5CF7B3BD-DAB0-D511-99A8-0050568E0E44}");
class IGetWebAppServices {
 public:
  // The services for one request, or null. The pointer keeps the services
  // alive while the caller holds it; a provider that keeps them itself hands
  // out a pointer that shares its ownership.
  virtual std::shared_ptr<IWebAppServices> GetWebAppServices() = 0;

 protected:
  virtual ~IGetWebAppServices() = default;
};

inline constexpr TGUID IID_IWebRequestHandler = StringToGUID("{6FCCB05F-8FE0-11D4-A4E5-00C04F6BB853}");
class IWebRequestHandler {
 public:
  virtual bool HandleRequest(TWebRequest* Request, TWebResponse* Response) = 0;

 protected:
  virtual ~IWebRequestHandler() = default;
};

inline constexpr TGUID IID_IWebExceptionHandler = StringToGUID("{7664268F-9629-11D4-A4EC-00C04F6BB853}");
class IWebExceptionHandler {
 public:
  virtual void HandleException(const Exception& E, bool& Handled) = 0;

 protected:
  virtual ~IWebExceptionHandler() = default;
};

inline constexpr TGUID IID_IWebDispatcherAccess = StringToGUID("{144CD1DF-9FAE-D511-8D38-0050568E0E44}");
class IWebDispatcherAccess {
 public:
  virtual TWebRequest* Request() = 0;
  virtual TWebResponse* Response() = 0;

 protected:
  virtual ~IWebDispatcherAccess() = default;
};

// A marker: the object dispatches through action items.
inline constexpr TGUID IID_IWebDispatchActions = StringToGUID("{E4444CD8-9FAE-D511-8D38-0050568E0E44}");
class IWebDispatchActions {
 protected:
  virtual ~IWebDispatchActions() = default;
};

inline constexpr TGUID IID_IMultiModuleSupport = StringToGUID("{06F13260-8FF8-11D4-A4E5-00C04F6BB853}");
class IMultiModuleSupport {
 public:
  virtual void InitContext(TWebRequest* Request, TWebResponse* Response) = 0;
  virtual void InitModule(TComponent* AModule) = 0;
  virtual void FinishContext() = 0;

 protected:
  virtual ~IMultiModuleSupport() = default;
};

inline constexpr TGUID IID_IWebModuleContext = StringToGUID("{F2859B61-8311-4A19-918E-B968A43AC636}");
class IWebModuleContext {
 public:
  virtual void InitContext(TWebRequest* Request, TWebResponse* Response) = 0;
  virtual void FinishContext() = 0;

 protected:
  virtual ~IWebModuleContext() = default;
};

inline constexpr TGUID IID_ISetAppDispatcher = StringToGUID("{2F5E959E-DA65-11D3-A411-00C04F6BB853}");
class ISetAppDispatcher {
 public:
  virtual void SetAppDispatcher(TComponent* ADispatcher) = 0;

 protected:
  virtual ~ISetAppDispatcher() = default;
};

inline constexpr TGUID IID_IGetAppDispatcher = StringToGUID("{2BF38474-E821-11D4-A54A-00C04F6BB853}");
class IGetAppDispatcher {
 public:
  virtual TComponent* GetAppDispatcher() = 0;

 protected:
  virtual ~IGetAppDispatcher() = default;
};

inline constexpr TGUID IID_IProduceContent = StringToGUID("{AAFA17B7-E814-11D4-A54A-00C04F6BB853}");
class IProduceContent {
 public:
  virtual String ProduceContent() = 0;

 protected:
  virtual ~IProduceContent() = default;
};

inline constexpr TGUID IID_IProduceContentFrom = StringToGUID("{AA0CC875-E81B-11D4-A54A-00C04F6BB853}");
class IProduceContentFrom {
 public:
  virtual String ProduceContentFromStream(TStream& Stream) = 0;
  virtual String ProduceContentFromString(const String& S) = 0;

 protected:
  virtual ~IProduceContentFrom() = default;
};

}  // namespace tolvane
