#include "program/redirection_guard.h"

#include <windows.h>

#include "base/kernel32_function.h"

namespace vantu {
namespace {

// SetProcessMitigationPolicy: Windows 8 and later. Its first parameter is
// the PROCESS_MITIGATION_POLICY enumeration, which older SDK headers do not
// know the policy of; an int is what it is passed as.
using SetProcessMitigationPolicyFunction = BOOL(WINAPI*)(int, PVOID, SIZE_T);

// PROCESS_MITIGATION_REDIRECTION_TRUST_POLICY: one DWORD of flags.
struct RedirectionTrustPolicy {
  DWORD flags;
};

}  // namespace

bool EnforceRedirectionTrust() {
  const auto setPolicy = FindKernel32Function<SetProcessMitigationPolicyFunction>("SetProcessMitigationPolicy");
  if (setPolicy == nullptr) return false;
  RedirectionTrustPolicy policy{kEnforceRedirectionTrust};
  return setPolicy(kProcessRedirectionTrustPolicy, &policy, sizeof policy) != FALSE;
}

}  // namespace vantu
