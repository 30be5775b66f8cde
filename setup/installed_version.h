// The record of the installed version in the registry: what an earlier
// setup left, and what this one leaves after an install.
#pragma once

#include <string>

namespace vantu {

// "Version" below HKEY_LOCAL_MACHINE at the path of the "RegistryKey"
// setting, in the ANSI code page; empty when the key or the value is missing
// or unreadable.
std::string ReadInstalledVersion();

// Creates the key `keyPath` below HKEY_LOCAL_MACHINE, or opens it when it
// exists, with full access, and sets "Version" to `version`, then "Path" to
// `installFolder`, both REG_SZ (UTF-16, as Windows keeps every string value)
// with their terminating zero counted.
// Writes nothing when the key cannot be created or opened; the results of
// the two writes are not looked at. The key is closed before the return.
void RecordInstall(const std::wstring& keyPath, const std::wstring& version, const std::wstring& installFolder);

}  // namespace vantu
