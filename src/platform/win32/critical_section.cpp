#include <tolvane/platform/critical_section.h>

#include <windows.h>

#include <new>

namespace tolvane::platform {
namespace {

static_assert(sizeof(CRITICAL_SECTION) <= sizeof(TCriticalSection) && alignof(CRITICAL_SECTION) <= 8,
              "the room kept for CRITICAL_SECTION in critical_section.h is too small");

CRITICAL_SECTION* Section(unsigned char* Room) { return std::launder(reinterpret_cast<CRITICAL_SECTION*>(Room)); }

}  // namespace

TCriticalSection::TCriticalSection() { InitializeCriticalSection(new (FSection) CRITICAL_SECTION); }

TCriticalSection::~TCriticalSection() { DeleteCriticalSection(Section(FSection)); }

void TCriticalSection::Enter() { EnterCriticalSection(Section(FSection)); }

bool TCriticalSection::TryEnter() { return TryEnterCriticalSection(Section(FSection)) != FALSE; }

void TCriticalSection::Leave() { LeaveCriticalSection(Section(FSection)); }

}  // namespace tolvane::platform
