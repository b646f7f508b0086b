#include <tolvane/dispatch/content_producer.h>

namespace tolvane {

TV_DEFINE_CLASS(TCustomContentProducer, TComponent, CreateComponent<TCustomContentProducer>);

String TCustomContentProducer::Content() { return String(); }

String TCustomContentProducer::ContentFromStream(TStream&) { return Content(); }

String TCustomContentProducer::ContentFromString(const String&) { return Content(); }

void TCustomContentProducer::SetDispatcher(TComponent* Value) {
  if (Value == FDispatcher) return;
  if (Value) Value->FreeNotification(this);
  FDispatcher = Value;
}

void TCustomContentProducer::Notification(TComponent* AComponent, TOperation Operation) {
  TComponent::Notification(AComponent, Operation);
  if (Operation == opRemove && AComponent == FDispatcher) FDispatcher = nullptr;
}

}  // namespace tolvane
