#include <tolvane/runtime/exception.h>

namespace tolvane {

const char* Exception::what() const noexcept {
  try {
    if (FWhat.empty()) FWhat = UTF8Encode(FMessage);
    return FWhat.c_str();
  } catch (...) {
    return "Exception";
  }
}

TV_DEFINE_CLASS(Exception, TObject);
TV_DEFINE_CLASS(ECorvelException, Exception);
TV_DEFINE_CLASS(EConvertError, Exception);
TV_DEFINE_CLASS(EParserError, Exception);
TV_DEFINE_CLASS(EMaskException, Exception);
TV_DEFINE_CLASS(EListError, Exception);
TV_DEFINE_CLASS(EResNotFound, Exception);
TV_DEFINE_CLASS(EComponentError, Exception);
TV_DEFINE_CLASS(EInvalidOperation, Exception);
TV_DEFINE_CLASS(EStreamError, Exception);
TV_DEFINE_CLASS(EFilerError, EStreamError);
TV_DEFINE_CLASS(EReadError, EFilerError);
TV_DEFINE_CLASS(EWriteError, EFilerError);
TV_DEFINE_CLASS(EClassNotFound, EFilerError);
TV_DEFINE_CLASS(EInvalidCast, Exception);

}  // namespace tolvane
