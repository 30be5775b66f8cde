#include "settings/settings.h"

#include <windows.h>

#include <memory>

#include "base/path_functions.h"
#include "runlog/run_log.h"
#include "settings/ini_reader.h"

namespace vantu {

const char kMissMarker[] = "error737";
const char kMessageCaption[] = "Fan Contrl Service Setup";

namespace {

constexpr DWORD kInitialModulePathSize = 128;
// Windows paths are at most 32767 characters; a path still cut at this size
// is not a path the setup can use.
constexpr DWORD kLargestModulePathSize = 65536;

void ShowSettingMessage(const char* text) { MessageBoxA(nullptr, text, kMessageCaption, MB_OK); }

void LogMiss(const char* key, const std::string& path, const char* message) {
  LogLine({"setting \"", key, "\" missing from ", path, ": message shown: ", message});
}

std::string ReadSetting(const char* key, const char* message) {
  const std::string path = SetupIniPath();
  IniReader reader;
  if (!reader.Open(path)) {
    LogMiss(key, path, message);
    ShowSettingMessage(message);
    return std::string();
  }
  std::string value;
  reader.Read(key, kMissMarker, &value);
  if (value == kMissMarker) {
    LogMiss(key, path, message);
    ShowSettingMessage(message);
    return std::string();
  }
  LogLine({"setting \"", key, "\" = \"", value, "\""});
  return value;
}

}  // namespace

std::string FolderOfModulePath(const std::string& modulePath) {
  const size_t backslash = modulePath.rfind('\\');
  if (backslash != std::string::npos) return modulePath.substr(0, backslash + 1);
  return DrivePart(modulePath);
}

std::string ModuleDirectory() {
  for (DWORD size = kInitialModulePathSize; size <= kLargestModulePathSize; size *= 2) {
    std::unique_ptr<char[]> buffer(new char[size]);
    const DWORD count = GetModuleFileNameA(nullptr, buffer.get(), size);
    if (count == 0) return std::string();
    if (count < size) return FolderOfModulePath(std::string(buffer.get(), count));
  }
  return std::string();
}

std::string SetupIniPath() { return ModuleDirectory() + "setup.ini"; }

std::string ReadServiceName() { return ReadSetting("ServiceName", "Can not read service name from setup.ini"); }

std::string ReadInstallPath() {
  std::string value = ReadSetting("InstallPath", "Can not read install path from setup.ini");
  if (!value.empty() && value.back() != '\\') value += '\\';
  return value;
}

std::string ReadRegistryKey() { return ReadSetting("RegistryKey", "Can not read registry key from setup.ini"); }

std::string ReadExecution() {
  return ReadSetting("Execution", "Can not read executable file name from setup.ini");
}

std::string ReadSetupVersion() { return ReadSetting("version", "Can not read version from setup.ini"); }

}  // namespace vantu
