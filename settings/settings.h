// The settings of the setup: section "Common" of setup.ini beside the
// executable. Nothing is cached: every reader opens the file afresh, and on a
// miss tells the user in a message box and hands back the empty string.
#pragma once

#include <string>

namespace vantu {

// The default that every reader passes with its key: "error737". What the
// profile service returns does not tell a missing file, section or key from
// a value (each of them simply yields the default), so a value equal to this
// text, byte for byte, is how a reader knows its key is missing. The text is
// fixed on purpose: a setup.ini value spelled exactly "error737" is read as
// missing too, with the message, while "Error737" is an ordinary value.
extern const char kMissMarker[];
// Caption of every message box of the setup.
extern const char kMessageCaption[];

// The folder of a module path: up to and including its last backslash, else
// its drive part ("D:"), else empty.
std::string FolderOfModulePath(const std::string& modulePath);

// The folder of the running executable, ending in a backslash (or a bare
// drive). Empty when the platform cannot report the executable's path.
std::string ModuleDirectory();

// ModuleDirectory followed by "setup.ini".
std::string SetupIniPath();

std::string ReadServiceName();
// Ends in a backslash unless empty.
std::string ReadInstallPath();
std::string ReadRegistryKey();
std::string ReadExecution();
std::string ReadSetupVersion();

}  // namespace vantu
