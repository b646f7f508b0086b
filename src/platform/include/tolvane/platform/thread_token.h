#pragma once
// Security tokens of threads and impersonation. A worker thread serves each
// request under the identity of the thread that queued it and afterwards goes
// back to its own identity: the one the process had when the library was
// loaded.
//
// On POSIX a token is the thread's effective identity (effective user id,
// effective group id, supplementary groups), read from the kernel per thread.
// Impersonation changes the calling thread alone and never its real or saved
// ids, so the thread can always return to its own identity.
//
// Impersonate and RevertToOwnIdentity remember the identity they gave a thread
// and make no system call when it already holds the one asked for; the
// identity of a thread that uses them must not be changed by other means.
#include <memory>

namespace tolvane::platform {

class TThreadToken {
 public:
  // Closes the token.
  ~TThreadToken();
  TThreadToken(const TThreadToken&) = delete;
  TThreadToken& operator=(const TThreadToken&) = delete;

  struct TImpl;

 private:
  friend std::unique_ptr<TThreadToken> OpenThreadToken();
  friend std::unique_ptr<TThreadToken> OpenThreadTokenUnlessOwn();
  friend bool Impersonate(const TThreadToken&);
  explicit TThreadToken(std::unique_ptr<TImpl> Impl);
  std::unique_ptr<TImpl> FImpl;
};

// Records the calling thread's identity as every worker's own identity. The
// library's load function calls it once, before any thread uses the calls below.
// Answers false when the identity could not be read.
bool CaptureOwnIdentity();

// The calling thread's token; no token when it cannot be read.
std::unique_ptr<TThreadToken> OpenThreadToken();

// For work that is served under the own identity when it comes without a
// token: no token when the calling thread holds the own identity (on Windows,
// when it impersonates nobody), so that queuing such work allocates nothing.
// A thread whose identity cannot be read gets a token that Impersonate always
// refuses, never none: its work must not run under the own identity.
std::unique_ptr<TThreadToken> OpenThreadTokenUnlessOwn();

// Gives the calling thread the token's identity; nothing changes when it holds
// exactly that identity already. When the change fails the thread is returned
// to its own identity and the answer is false, so it never runs under a mix of
// two identities. Without a captured own identity no thread takes another.
bool Impersonate(const TThreadToken& Token);

// Returns the calling thread to its own identity. Answers false when that
// failed, or on POSIX when no own identity was captured (on Windows it is the
// process's, which every thread can return to).
bool RevertToOwnIdentity();

// Test seam: as if the own identity could not be captured, until the next
// CaptureOwnIdentity.
void ForgetOwnIdentity();

}  // namespace tolvane::platform
