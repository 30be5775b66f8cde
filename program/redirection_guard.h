// Links that users other than administrators made are not followed by this
// process, where Windows can see to it.
#pragma once

namespace vantu {

// PROCESS_MITIGATION_POLICY's ProcessRedirectionTrustPolicy, and its flag
// EnforceRedirectionTrust (PROCESS_MITIGATION_REDIRECTION_TRUST_POLICY).
constexpr int kProcessRedirectionTrustPolicy = 16;
constexpr unsigned long kEnforceRedirectionTrust = 0x1;

// Turns on the process mitigation that makes this process ignore junctions
// and other file-system redirections made by users other than
// administrators (SetProcessMitigationPolicy with
// ProcessRedirectionTrustPolicy): setup.exe runs with administrator rights
// in folders that the user's own programs may change. kernel32's function
// is looked up at run time, so that setup.exe still starts on a Windows
// without it, where nothing happens; a Windows that has the function but
// not the policy refuses the call, which changes nothing either. True when
// the policy was taken.
//
// Called early in main, and only there: a program that loads setup.exe to
// call its exports keeps its own policies.
bool EnforceRedirectionTrust();

}  // namespace vantu
