#include "runtime/object.h"

namespace tolvane {

const TClassInfo TObject::ClassInfo_{u"TObject", nullptr};

}  // namespace tolvane
