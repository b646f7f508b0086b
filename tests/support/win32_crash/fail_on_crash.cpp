// Compiled into every Windows test program. A crash anywhere in a test
// program, on any thread, must fail the run: under Wine an unhandled exception
// starts the debugger, after which the program ends with status 0 as if every
// test had passed.
#include <windows.h>

#include <cstdio>

namespace {

LONG WINAPI FailOnCrash(EXCEPTION_POINTERS* Info) {
  std::fprintf(stderr, "unhandled exception 0x%08lX at %p\n", Info->ExceptionRecord->ExceptionCode,
               Info->ExceptionRecord->ExceptionAddress);
  std::fflush(stderr);
  TerminateProcess(GetCurrentProcess(), 3);
  return EXCEPTION_EXECUTE_HANDLER;
}

const bool CrashesFail = (SetUnhandledExceptionFilter(&FailOnCrash), true);

}  // namespace
