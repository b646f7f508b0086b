#include <tolvane/platform/thread_token.h>

#include <windows.h>

#include <atomic>

namespace tolvane::platform {

// On Windows a thread's own identity is the process's: a thread that is not
// impersonating has no token of its own, and RevertToSelf brings any thread
// back to the process's identity. So a token here is the impersonation token
// of a thread that impersonates, and a thread without one answers no token;
// whoever serves its work does so under the own identity, which is the one
// that thread had.

namespace {

std::atomic<bool> GCaptured{false};

// What impersonating a token takes; TOKEN_ALL_ACCESS would ask for rights
// such as changing the token's defaults that are never used, and may be
// refused where these are granted.
constexpr DWORD kTokenAccess = TOKEN_QUERY | TOKEN_DUPLICATE | TOKEN_IMPERSONATE;

}  // namespace

struct TThreadToken::TImpl {
  HANDLE Token = nullptr;
};

TThreadToken::TThreadToken(std::unique_ptr<TImpl> Impl) : FImpl(std::move(Impl)) {}

TThreadToken::~TThreadToken() {
  if (FImpl->Token) CloseHandle(FImpl->Token);
}

bool CaptureOwnIdentity() {
  // The process token is the own identity: check that it can be read.
  HANDLE Process = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &Process)) return false;
  CloseHandle(Process);
  GCaptured.store(true);
  return true;
}

std::unique_ptr<TThreadToken> OpenThreadToken() {
  HANDLE Token = nullptr;
  // Opened with the thread's own identity, not the process's (OpenAsSelf false).
  if (!::OpenThreadToken(GetCurrentThread(), kTokenAccess, FALSE, &Token)) return nullptr;
  auto Impl = std::make_unique<TThreadToken::TImpl>();
  Impl->Token = Token;
  return std::unique_ptr<TThreadToken>(new TThreadToken(std::move(Impl)));
}

std::unique_ptr<TThreadToken> OpenThreadTokenUnlessOwn() {
  HANDLE Token = nullptr;
  if (!::OpenThreadToken(GetCurrentThread(), kTokenAccess, FALSE, &Token)) {
    // No token of its own: the thread runs as the process.
    if (GetLastError() == ERROR_NO_TOKEN) return nullptr;
    // Impersonating, but the token cannot be opened: no handle, which no
    // thread can impersonate.
    Token = nullptr;
  }
  auto Impl = std::make_unique<TThreadToken::TImpl>();
  Impl->Token = Token;
  return std::unique_ptr<TThreadToken>(new TThreadToken(std::move(Impl)));
}

bool Impersonate(const TThreadToken& Token) {
  // Without a known own identity the worker takes no other: it could not be
  // sure to come back.
  if (!GCaptured.load()) return false;
  if (ImpersonateLoggedOnUser(Token.FImpl->Token)) return true;
  // Never leave the thread under the identity of an earlier request.
  RevertToSelf();
  return false;
}

// Any thread can go back to the process's identity, captured or not.
bool RevertToOwnIdentity() { return RevertToSelf() != FALSE; }

void ForgetOwnIdentity() { GCaptured.store(false); }

}  // namespace tolvane::platform
