#pragma once
// The exception family. Each class answers its real class name, which error
// pages show, and carries a UTF-16 message.
#include <exception>
#include <initializer_list>
#include <string>

#include <tolvane/runtime/format.h>
#include <tolvane/runtime/object.h>

namespace tolvane {

class Exception : public TObject, public std::exception {
  TV_DECLARE_CLASS(Exception)
 public:
  explicit Exception(String Message) : FMessage(std::move(Message)) {}
  Exception(std::u16string_view Fmt, std::initializer_list<TVarRec> Args) : FMessage(Format(Fmt, Args)) {}

  const String& Message() const { return FMessage; }
  void SetMessage(String Value) {
    FMessage = std::move(Value);
    FWhat.clear();
  }
  // The message in UTF-8.
  const char* what() const noexcept override;

 private:
  String FMessage;
  mutable std::string FWhat;
};

#define TV_DECLARE_EXCEPTION(Self, Parent) \
  class Self : public Parent {             \
    TV_DECLARE_CLASS(Self)                 \
   public:                                 \
    using Parent::Parent;                  \
  }

TV_DECLARE_EXCEPTION(ECorvelException, Exception);
TV_DECLARE_EXCEPTION(EConvertError, Exception);
TV_DECLARE_EXCEPTION(EParserError, Exception);
TV_DECLARE_EXCEPTION(EMaskException, Exception);
TV_DECLARE_EXCEPTION(EListError, Exception);
TV_DECLARE_EXCEPTION(EResNotFound, Exception);
TV_DECLARE_EXCEPTION(EComponentError, Exception);
TV_DECLARE_EXCEPTION(EInvalidOperation, Exception);
TV_DECLARE_EXCEPTION(EStreamError, Exception);
TV_DECLARE_EXCEPTION(EFilerError, EStreamError);
TV_DECLARE_EXCEPTION(EReadError, EFilerError);
TV_DECLARE_EXCEPTION(EWriteError, EFilerError);
TV_DECLARE_EXCEPTION(EClassNotFound, EFilerError);
TV_DECLARE_EXCEPTION(EInvalidCast, Exception);

}  // namespace tolvane
