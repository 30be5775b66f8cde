// The version that an earlier setup recorded in the registry.
#pragma once

#include <string>

namespace vantu {

// "Version" below HKEY_LOCAL_MACHINE at the path of the "RegistryKey"
// setting; empty when the key or the value is missing or unreadable.
std::string ReadInstalledVersion();

}  // namespace vantu
