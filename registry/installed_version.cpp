#include "registry/installed_version.h"

#include <windows.h>

#include <limits>
#include <memory>

#include "registry/registry_key.h"
#include "runlog/run_log.h"
#include "settings/setting_rules.h"
#include "settings/settings.h"

namespace vantu {
namespace {

// A REG_SZ value with its terminating zero counted.
LSTATUS SetStringValue(HKEY key, const wchar_t* name, const std::wstring& text) {
  return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

}  // namespace

bool QueryVersionValue(HKEY key, std::string* version) {
  DWORD type = REG_NONE;
  DWORD size = 0;
  if (RegQueryValueExA(key, "Version", nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return false;
  if (type != REG_SZ && type != REG_EXPAND_SZ && type != REG_MULTI_SZ) return false;
  if (size == std::numeric_limits<DWORD>::max()) return false;
  // One byte more than the data, always zero, so that the text ends even when
  // the stored data has no terminator.
  std::unique_ptr<char[]> buffer(new char[static_cast<size_t>(size) + 1]());
  DWORD read = size;
  if (RegQueryValueExA(key, "Version", nullptr, &type, reinterpret_cast<BYTE*>(buffer.get()), &read) !=
      ERROR_SUCCESS) {
    return false;
  }
  version->assign(buffer.get());
  return true;
}

InstalledVersion ReadInstalledVersion(const SettingsFile& settings) {
  InstalledVersion installed;
  const std::wstring keyPath = ReadRegistryKey(settings);
  if (const char* fault = RegistryKeyFault(keyPath)) {
    LogBrokenRule("RegistryKey", keyPath, kRegistryKeyRule, fault, "nothing deployed");
    installed.refused = true;
    return installed;
  }
  RegReader reader;
  if (!keyPath.empty() && reader.Open(keyPath)) QueryVersionValue(reader.key(), &installed.ansi);
  return installed;
}

bool RecordInstall(const std::wstring& keyPath, const std::wstring& version, const std::wstring& installFolder) {
  if (keyPath.empty()) {
    LogLine({"no record: no registry key (the \"RegistryKey\" setting is empty or missing)"});
    return false;
  }
  if (const char* fault = RegistryKeyFault(keyPath)) {
    LogBrokenRule("RegistryKey", keyPath, kRegistryKeyRule, fault, "no record");
    return false;
  }
  RegWriter writer;
  if (!writer.Create(keyPath)) {
    LogLine({"no record: the key HKLM\\", keyPath, " could not be created or opened"});
    return false;
  }
  const LSTATUS versionWritten = SetStringValue(writer.key(), L"Version", version);
  const LSTATUS pathWritten = SetStringValue(writer.key(), L"Path", installFolder);
  if (versionWritten == ERROR_SUCCESS && pathWritten == ERROR_SUCCESS) {
    LogLine({"recorded HKLM\\", keyPath, ": Version = \"", version, "\", Path = \"", installFolder, "\""});
    return true;
  }
  if (LogEnabled()) {
    const auto outcome = [](LSTATUS status) {
      return status == ERROR_SUCCESS ? std::string("written") : "not written: " + ErrorText(static_cast<DWORD>(status));
    };
    LogLine({"record incomplete in HKLM\\", keyPath, ": Version = \"", version, "\" ", outcome(versionWritten),
             "; Path = \"", installFolder, "\" ", outcome(pathWritten)});
  }
  return false;
}

}  // namespace vantu
