#pragma once
// The content of "GET /": the form for a new note, its author field filled
// in from the author cookie, and the list of notes, newest first.
#include <tolvane/dispatch/content_producer.h>

namespace notes {

class TNotesListProducer : public tolvane::TCustomContentProducer {
  TV_DECLARE_CLASS(TNotesListProducer)
 public:
  using TCustomContentProducer::TCustomContentProducer;

  // Reads the notes through the module that owns the producer; empty when
  // it has no such owner or no request is being served.
  tolvane::String Content() override;
};

}  // namespace notes
