#include <tolvane/dispatch/web_module_list.h>

namespace tolvane {

TV_DEFINE_CLASS(TAbstractWebModuleFactory, TObject);
TV_DEFINE_CLASS(TAbstractWebPageModuleFactory, TAbstractWebModuleFactory);
TV_DEFINE_CLASS(TAbstractWebPageInfo, TObject);
TV_DEFINE_CLASS(TAbstractWebModuleList, TObject);

TAbstractWebPageModuleFactory::TAbstractWebPageModuleFactory(TAbstractWebPageInfo* AWebPageInfo)
    : FWebPageInfo(AWebPageInfo) {
  if (FWebPageInfo) FWebPageInfo->SetFactory(this);
}

TAbstractWebPageModuleFactory::~TAbstractWebPageModuleFactory() { delete FWebPageInfo; }

}  // namespace tolvane
