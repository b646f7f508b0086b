#pragma once
// The bodies of the three exported entry points and the process-wide state
// they decide with: each request is either queued on the worker pool (pooled
// mode) or served on the host's calling thread (the direct path).
//
// Pooled mode holds for a call when the platform is of the NT family, the
// host is not an "httpd.exe" process and a pool exists. The state is written
// only while the library loads, in GetExtensionVersion (before the first
// request), in TerminateExtension (after the last one) and at unload.
#include <atomic>

#include <tolvane/isapi/isapi.h>
#include <tolvane/isapi/isapi_thread_pool.h>

namespace tolvane {

// The worker pool, owned here; none until GetExtensionVersion makes it.
extern std::atomic<TISAPIThreadPool*> ThreadPool;
// The class GetExtensionVersion makes the pool of.
extern TISAPIThreadPoolClass ThreadPoolClass;
// True when the hosting executable is named "httpd.exe": the pool is never used.
extern bool IsNetscape;

// Set once TerminateExtension left workers inside their requests: the
// library then stays loaded for the life of the process, and its unload
// frees nothing those workers use.
extern std::atomic<bool> LibraryKeptLoaded;

// Whether the hosting process's executable is named "httpd.exe".
bool CheckForNetscapeServer();
// Whether the last component of FileName (after the last "\", ":" or "/") is
// "httpd.exe", ignoring the case of ASCII letters only.
bool IsNetscapeServerFileName(const String& FileName);

// The pool module's load and unload: the host check and the pool settings;
// the unload takes a remaining pool out of ThreadPool and stops it, waiting
// for workers still inside a request after the stop wait.
void InitThreadPoolUnit();
void DoneThreadPoolUnit();

// What the exported functions of the same names do. None lets an exception out.
namespace exports {
BOOL GetExtensionVersion(HSE_VERSION_INFO* Ver) noexcept;
DWORD HttpExtensionProc(EXTENSION_CONTROL_BLOCK* ECB) noexcept;
BOOL TerminateExtension(DWORD dwFlags) noexcept;
}  // namespace exports

}  // namespace tolvane
