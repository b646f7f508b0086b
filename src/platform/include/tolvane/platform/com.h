#pragma once
// Per-thread COM initialization. There is no COM on POSIX: each thread keeps a
// record of its initialization instead, so the worker pool's COM handling can
// be observed.
#include <cstdint>
#include <thread>
#include <vector>

namespace tolvane::platform {

// Concurrency models.
inline constexpr std::int32_t kCoInitMultithreaded = 0;
inline constexpr std::int32_t kCoInitApartmentThreaded = 2;

// Results of ComInitialize.
inline constexpr std::int32_t kComOk = 0;
inline constexpr std::int32_t kComAlreadyInitialized = 1;
inline constexpr std::int32_t kComChangedMode = static_cast<std::int32_t>(0x80010106u);

// Initializes COM for the calling thread with a concurrency model. Calls nest:
// a thread that is initialized already gets kComAlreadyInitialized for the
// same model (and must uninitialize once more) and kComChangedMode, without
// any effect, for another.
std::int32_t ComInitialize(std::int32_t Flags);
// Undoes one successful ComInitialize of the calling thread; the last one
// releases COM for the thread. Does nothing on a thread that is not initialized.
void ComUninitialize();

// One thread's initialization, from its first ComInitialize to the
// ComUninitialize that released it.
struct TComRecord {
  std::thread::id Thread;
  std::int32_t Flags = 0;
  bool Released = false;
};

// Every initialization since the start or the last ClearComRecords, oldest first.
std::vector<TComRecord> ComRecords();
void ClearComRecords();

// For the backends: the calling thread's first initialization, and the
// uninitialize that released it.
void RecordComInitialize(std::int32_t Flags);
void RecordComRelease();

}  // namespace tolvane::platform
