#include "setup/installed_version.h"

#include <windows.h>

#include "registry/reg_reader.h"
#include "registry/reg_writer.h"
#include "registry/version_value.h"
#include "runlog/run_log.h"
#include "settings/settings.h"

namespace vantu {
namespace {

// A REG_SZ value with its terminating zero counted.
void SetStringValue(HKEY key, const wchar_t* name, const std::wstring& text) {
  RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                 static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

}  // namespace

std::string ReadInstalledVersion() {
  RegReader reader;
  const std::wstring keyPath = ReadRegistryKey();
  std::string version;
  if (reader.Open(keyPath)) QueryVersionValue(reader.key(), &version);
  return version;
}

void RecordInstall(const std::wstring& keyPath, const std::wstring& version, const std::wstring& installFolder) {
  RegWriter writer;
  if (!writer.Create(keyPath)) {
    LogLine({"no record: the key HKLM\\", keyPath, " could not be created or opened"});
    return;
  }
  SetStringValue(writer.key(), L"Version", version);
  SetStringValue(writer.key(), L"Path", installFolder);
  LogLine({"recorded HKLM\\", keyPath, ": Version = \"", version, "\", Path = \"", installFolder, "\""});
}

}  // namespace vantu
