#include "setup/installed_version.h"

#include <windows.h>

#include "registry/reg_reader.h"
#include "registry/reg_writer.h"
#include "registry/version_value.h"
#include "runlog/run_log.h"
#include "settings/settings.h"

namespace vantu {
namespace {

// A REG_SZ value with its terminating zero byte counted.
void SetStringValue(HKEY key, const char* name, const std::string& text) {
  RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                 static_cast<DWORD>(text.size() + 1));
}

}  // namespace

std::string ReadInstalledVersion() {
  RegReader reader;
  const std::string keyPath = ReadRegistryKey();
  std::string version;
  if (reader.Open(keyPath)) QueryVersionValue(reader.key(), &version);
  return version;
}

void RecordInstall(const std::string& keyPath, const std::string& version, const std::string& installFolder) {
  RegWriter writer;
  if (!writer.Create(keyPath)) {
    LogLine({"no record: the key HKLM\\", keyPath, " could not be created or opened"});
    return;
  }
  SetStringValue(writer.key(), "Version", version);
  SetStringValue(writer.key(), "Path", installFolder);
  LogLine({"recorded HKLM\\", keyPath, ": Version = \"", version, "\", Path = \"", installFolder, "\""});
}

}  // namespace vantu
