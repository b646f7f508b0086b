#include <mutex>

#include <tolvane/platform/com.h>

namespace tolvane::platform {
namespace {

struct TRecords {
  std::mutex Lock;
  std::vector<TComRecord> Items;
};

TRecords& Records() {
  static TRecords Instance;
  return Instance;
}

}  // namespace

void RecordComInitialize(std::int32_t Flags) {
  TRecords& R = Records();
  std::lock_guard Guard(R.Lock);
  R.Items.push_back({std::this_thread::get_id(), Flags, false});
}

void RecordComRelease() {
  TRecords& R = Records();
  std::lock_guard Guard(R.Lock);
  const auto Self = std::this_thread::get_id();
  for (auto It = R.Items.rbegin(); It != R.Items.rend(); ++It)
    if (It->Thread == Self && !It->Released) {
      It->Released = true;
      break;
    }
}

std::vector<TComRecord> ComRecords() {
  TRecords& R = Records();
  std::lock_guard Guard(R.Lock);
  return R.Items;
}

void ClearComRecords() {
  TRecords& R = Records();
  std::lock_guard Guard(R.Lock);
  R.Items.clear();
}

}  // namespace tolvane::platform
