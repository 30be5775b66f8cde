#include "setup/run_guard.h"

#include <string>

#include "runlog/run_log.h"

namespace vantu {

RunGuard::~RunGuard() {
  if (owned_) ReleaseMutex(mutex_.get());
}

RunGuard::Outcome RunGuard::Take(DWORD limitMs) {
  mutex_.reset(CreateMutexW(nullptr, FALSE, kRunGuardName));
  if (!mutex_) {
    if (LogEnabled()) {
      LogLine({"no machine-wide run guard (", ErrorText(GetLastError()), "): going on without it"});
    }
    return Outcome::kUnavailable;
  }
  DWORD wait = WaitForSingleObject(mutex_.get(), 0);
  const bool held = wait == WAIT_TIMEOUT;
  ULONGLONG waited = 0;
  if (held) {
    LogLine({"another setup run is in progress: waiting for it to end (at most ", std::to_string(limitMs / 1000),
             " s)"});
    const ULONGLONG started = GetTickCount64();
    wait = WaitForSingleObject(mutex_.get(), limitMs);
    waited = GetTickCount64() - started;
  }
  switch (wait) {
    case WAIT_OBJECT_0:
      owned_ = true;
      if (held) LogLine({"the other setup run ended: waited ", std::to_string(waited), " ms"});
      return Outcome::kTaken;
    case WAIT_ABANDONED:
      owned_ = true;
      LogLine({"took over the run guard of a setup run that ended without letting go of it (waited ",
               std::to_string(waited), " ms)"});
      return Outcome::kTakenOver;
    case WAIT_TIMEOUT:
      LogLine({"another setup run still holds the run guard after ", std::to_string(limitMs / 1000),
               " s: giving up"});
      return Outcome::kTimedOut;
    default:
      if (LogEnabled()) {
        LogLine({"the run guard could not be waited for (", ErrorText(GetLastError()), "): going on without it"});
      }
      return Outcome::kUnavailable;
  }
}

}  // namespace vantu
