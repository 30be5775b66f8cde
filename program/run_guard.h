// One setup run at a time on a machine. Two runs at once would copy into the
// same install folder together, each passing over what the other holds, and
// each launch the service executable. A second run waits for the first to
// end, then makes its own decision (normally: the version is installed,
// nothing to do).
//
// The guard belongs to administrators: a named mutex in a private namespace
// whose boundary holds the Administrators group, the namespace and the mutex
// made with a DACL for Administrators and the local system account alone
// (base/admin_only_security.h). No program of a user's own can make, open or
// hold it, so none can make a run wait or take its guard away; a name in
// Global\, where every user may make objects, would let one do both. Where
// the system has no private namespaces (Wine), the guard is a mutex in
// Global\ made with that DACL, and one found there must show it: a name made
// otherwise ends the run at once instead of keeping it waiting.
#pragma once

#include <windows.h>

#include <string>

#include "base/unique_handle.h"

namespace vantu {

// The boundary descriptor's name and the namespace's alias prefix.
constexpr wchar_t kRunGuardNamespace[] = L"FanControlServiceSetup";
// The mutex in that namespace.
constexpr wchar_t kRunGuardName[] = L"FanControlServiceSetup\\Run";
// The mutex where the system has no private namespaces. Not
// Global\FanControlServiceSetup.Run, the guard of earlier versions, which
// any program may have made or hold.
constexpr wchar_t kGlobalRunGuardName[] = L"Global\\FanControlServiceSetup.Guard";
// How long a run waits for the guard: a guard that some other program holds
// must not keep a run waiting forever.
constexpr DWORD kRunGuardLimitMs = 10 * 60 * 1000;

// A private namespace, closed (not destroyed: other runs may have it open)
// through ClosePrivateNamespace, which is looked up at run time.
using ClosePrivateNamespaceFunction = BOOLEAN(WINAPI*)(HANDLE, ULONG);
struct PrivateNamespace {
  HANDLE handle;
  ClosePrivateNamespaceFunction close;
  bool operator!=(const PrivateNamespace& other) const { return handle != other.handle; }
};
struct PrivateNamespacePolicy {
  using Type = PrivateNamespace;
  static Type Invalid() noexcept { return Type{nullptr, nullptr}; }
  static void Close(Type space) noexcept { space.close(space.handle, 0); }
};
using UniquePrivateNamespace = UniqueHandle<PrivateNamespacePolicy>;

class RunGuard {
 public:
  enum class Outcome {
    kTaken,     // at once, or after another run ended
    kTakenOver, // from a run that ended without letting go (killed)
    kTimedOut,  // still held after the limit: the run must not go on
    kFailed,    // it could not be made, opened or waited for (`failure()`):
                // the run must not go on without it
  };

  RunGuard() = default;
  // Lets go of the guard if this run holds it.
  ~RunGuard();
  RunGuard(const RunGuard&) = delete;
  RunGuard& operator=(const RunGuard&) = delete;

  // Takes the guard, waiting at most `limitMs` for another run; says in the
  // log which guard it is, whether, and how long, it waited, and why it
  // failed.
  Outcome Take(DWORD limitMs = kRunGuardLimitMs);
  // Why the guard could not be taken (kFailed), e.g.
  // "CreatePrivateNamespaceW failed: 5 (Access is denied.)".
  const std::string& failure() const { return failure_; }

 private:
  struct NamespaceFunctions;  // kernel32's, looked up at run time
  enum class Made { kYes, kNo, kNoNamespaces };
  Made MakeInNamespace(const NamespaceFunctions& functions);
  Made MakeInGlobal();
  Made Fail(const char* function, DWORD error);
  Made Fail(std::string why);

  // Released in the reverse order: the mutex, then its namespace.
  UniquePrivateNamespace namespace_;
  UniqueKernelHandle mutex_;
  const wchar_t* name_ = kRunGuardNamespace;  // what is being made, for failure()
  bool owned_ = false;
  std::string failure_;
};

}  // namespace vantu
