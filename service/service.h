// The Windows service that the payload provides: is it there, and running
// its executable with "/Service".
#pragma once

#include <cstddef>
#include <string>

#include "settings/settings_file.h"

namespace vantu {

// Size, in characters, of the writable command-line buffer given to process
// creation; the command line and its terminator must fit.
constexpr size_t kCommandLineBufferSize = 520;

// True when the service control manager can be opened and a service named
// by the "ServiceName" setting exists in it.
bool IsServiceInstalled(const SettingsFile& settings);

// The command line that runs `executable` from `installFolder`: the joined
// path, quoted unless it is shorter than 2 characters or already begins or ends
// with a quote, followed by " /Service".
std::wstring ServiceCommandLine(const std::wstring& installFolder, const std::wstring& executable);

// Whether the "Execution" setting, looked at ahead without a message, keeps
// to its rule (setting_rules.h); logs the broken rule when it does not.
bool ExecutionKeepsToItsRule(const SettingsFile& settings);

// Runs the executable named by the "Execution" setting from `installFolder`
// with "/Service", without a window, and waits until it has ended: its full
// path is the application name (nothing is looked for on a search path or
// in the command line), `installFolder` is its current folder, and its
// environment is the machine's default (machine_environment.h), not
// setup.exe's. True when the process was created. A value that breaks the
// setting's rule, an empty install folder, a command line that does not fit
// the buffer and a machine environment that cannot be made create no
// process.
bool LaunchServiceExecutable(const SettingsFile& settings, const std::wstring& installFolder);

}  // namespace vantu
