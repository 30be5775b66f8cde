// The running executable's own path and folder, as Windows reports them.
#pragma once

#include <string>

namespace vantu {

// The folder of a module path: up to and including its last backslash, else
// its drive part ("D:"), else empty.
std::wstring FolderOfModulePath(const std::wstring& modulePath);

// The running executable's full path; empty when the platform cannot
// report it.
std::wstring ModulePath();

// The folder of the running executable, ending in a backslash (or a bare
// drive). Empty when the platform cannot report the executable's path.
std::wstring ModuleDirectory();

}  // namespace vantu
