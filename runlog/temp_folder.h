// The temporary folder that a run log of /LOG alone goes to.
#pragma once

#include <string>

namespace vantu {

// Whether the process runs as the local system account (as a service, or
// started by one), which Windows' temporary folder for it (C:\Windows\Temp)
// lets every user write.
bool RunsAsLocalSystem();

// The folder for the log, ending in a backslash; empty when the platform
// cannot tell. As the local system account, where kernel32 has
// GetTempPath2W (looked up at run time), the system's own temporary folder
// (C:\Windows\SystemTemp), which only the system may reach; otherwise the
// process's temporary folder (GetTempPathW), as before.
std::wstring TemporaryFolderForLog();

}  // namespace vantu
