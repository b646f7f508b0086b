#include "notes_list_producer.h"

#include "notes_module.h"
#include "notes_pages.h"

namespace notes {

using namespace tolvane;

TV_DEFINE_CLASS(TNotesListProducer, TCustomContentProducer, CreateComponent<TNotesListProducer>);

String TNotesListProducer::Content() {
  auto* module = dynamic_cast<TNotesModule*>(Owner());
  IWebDispatcherAccess* dispatcher = GetDispatcher();
  TWebRequest* request = dispatcher ? dispatcher->Request() : nullptr;
  if (!module || !request) return {};
  TNote draft;
  draft.Author = TNotesModule::AuthorCookie(request);
  return ListPage(module->Store().Headings(), draft, TNotesModule::Base(request));
}

}  // namespace notes
