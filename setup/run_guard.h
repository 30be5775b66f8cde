// One setup run at a time on a machine. Two runs at once would copy into the
// same install folder together, each passing over what the other holds, and
// each launch the service executable. The guard is a named mutex in the
// global namespace: a second run waits for the first to end, then makes its
// own decision (normally: the version is installed, nothing to do).
#pragma once

#include <windows.h>

#include "base/unique_handle.h"

namespace vantu {

constexpr wchar_t kRunGuardName[] = L"Global\\FanControlServiceSetup.Run";
// How long a run waits for the guard: a guard that some other program holds
// must not keep a run waiting forever.
constexpr DWORD kRunGuardLimitMs = 10 * 60 * 1000;

class RunGuard {
 public:
  enum class Outcome {
    kTaken,        // at once, or after another run ended
    kTakenOver,    // from a run that ended without letting go (killed)
    kTimedOut,     // still held after the limit: the run must not go on
    kUnavailable,  // no guard could be made: the run goes on without one
  };

  RunGuard() = default;
  // Lets go of the guard if this run holds it.
  ~RunGuard();
  RunGuard(const RunGuard&) = delete;
  RunGuard& operator=(const RunGuard&) = delete;

  // Takes the guard, waiting at most `limitMs` for another run; says in the
  // log whether, and how long, it waited.
  Outcome Take(DWORD limitMs = kRunGuardLimitMs);

 private:
  UniqueKernelHandle mutex_;
  bool owned_ = false;
};

}  // namespace vantu
