// The record of the installed version in the registry: what an earlier
// setup left ("Version" of the key that RegistryKey names), and what this
// one leaves after an install ("Version" and "Path").
#pragma once

#include <windows.h>

#include <string>

#include "settings/settings_file.h"

namespace vantu {

// Reads the string value "Version" (REG_SZ, REG_EXPAND_SZ or REG_MULTI_SZ),
// in the ANSI code page, the form in which the run compares versions,
// into `*version`: unexpanded, and of a multi-string only the first string;
// data without a terminator is taken whole. False, with `*version` left as
// it was, when the value is missing, of another type or cannot be read.
bool QueryVersionValue(HKEY key, std::string* version);

struct InstalledVersion {
  std::string ansi;      // in the ANSI code page
  bool refused = false;  // "RegistryKey" breaks its rule: nothing was read
};

// "Version" below HKEY_LOCAL_MACHINE at the path of the "RegistryKey"
// setting, in the ANSI code page; empty when the setting is empty (nothing
// is read at the root of HKEY_LOCAL_MACHINE), or the key or the value is
// missing or unreadable. A setting that breaks its rule (setting_rules.h)
// is refused, and the log says why.
InstalledVersion ReadInstalledVersion(const SettingsFile& settings);

// Creates the key `keyPath` below HKEY_LOCAL_MACHINE, or opens it when it
// exists, with full access, and sets "Version" to `version`, then "Path" to
// `installFolder`, both REG_SZ (UTF-16, as Windows keeps every string value)
// with their terminating zero counted. Writes nothing when `keyPath` is
// empty (never at the root of HKEY_LOCAL_MACHINE) or breaks its rule, or the
// key cannot be created or opened. True when both values were written; the
// log says what was written, or why not. The key is closed before the
// return.
bool RecordInstall(const std::wstring& keyPath, const std::wstring& version, const std::wstring& installFolder);

}  // namespace vantu
