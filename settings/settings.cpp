#include "settings/settings.h"

#include <windows.h>

#include <memory>

#include "base/path_functions.h"
#include "notice/notice.h"
#include "runlog/run_log.h"
#include "settings/ini_reader.h"

namespace vantu {

const wchar_t kMissMarker[] = L"error737";
const char kMessageCaption[] = "Fan Contrl Service Setup";

namespace {

constexpr DWORD kInitialModulePathSize = 128;
// Windows paths are at most 32767 characters; a path still cut at this size
// is not a path the setup can use.
constexpr DWORD kLargestModulePathSize = 65536;

// Tells the user of a setting that cannot be read, in a message box where
// someone can see one, and logs what became of the message.
void ReportMiss(const char* key, const std::wstring& path, const char* message) {
  const NoticeOutcome outcome = Notify(message, kMessageCaption);
  if (!LogEnabled()) return;
  if (outcome.shown) {
    LogLine({"setting \"", key, "\" missing from ", path, ": message shown: ", message});
    return;
  }
  std::string why = outcome.reason;
  if (outcome.error) why += ": " + ErrorText(outcome.error);
  LogLine({"setting \"", key, "\" missing from ", path, ": message not shown (", why,
           "), written to standard error: ", message});
}

std::wstring ReadSetting(const SettingsFile& file, const wchar_t* key, const char* keyText, const char* message) {
  const std::wstring& path = file.shown_path();
  IniReader reader;
  if (!file.present() || !reader.Open(file.read_path())) {
    ReportMiss(keyText, path, message);
    return std::wstring();
  }
  std::wstring value;
  reader.Read(key, kMissMarker, &value);
  if (value == kMissMarker) {
    ReportMiss(keyText, path, message);
    return std::wstring();
  }
  LogLine({"setting \"", keyText, "\" = \"", value, "\""});
  return value;
}

}  // namespace

std::wstring FolderOfModulePath(const std::wstring& modulePath) {
  const size_t backslash = modulePath.rfind(L'\\');
  if (backslash != std::wstring::npos) return modulePath.substr(0, backslash + 1);
  return DrivePart(modulePath);
}

std::wstring ModulePath() {
  for (DWORD size = kInitialModulePathSize; size <= kLargestModulePathSize; size *= 2) {
    std::unique_ptr<wchar_t[]> buffer(new wchar_t[size]);
    const DWORD count = GetModuleFileNameW(nullptr, buffer.get(), size);
    if (count == 0) return std::wstring();
    if (count >= size) continue;
    std::wstring path(buffer.get(), count);
    // Wine 8 gives the path of an image started from a share as
    // UNC\server\share\... (its NT name, \??\UNC\..., without the \??\);
    // Windows gives \\server\share\..., which this makes of it. No path
    // that Windows gives starts so (it would be a relative one).
    if (path.compare(0, 4, L"UNC\\") == 0) path.replace(0, 3, L"\\");
    return path;
  }
  return std::wstring();
}

std::wstring ModuleDirectory() { return FolderOfModulePath(ModulePath()); }

std::wstring ReadServiceName(const SettingsFile& file) {
  return ReadSetting(file, L"ServiceName", "ServiceName", "Can not read service name from setup.ini");
}

std::wstring ReadInstallPath(const SettingsFile& file) {
  std::wstring value = ReadSetting(file, L"InstallPath", "InstallPath", "Can not read install path from setup.ini");
  if (!value.empty() && value.back() != L'\\') value += L'\\';
  return value;
}

std::wstring ReadRegistryKey(const SettingsFile& file) {
  return ReadSetting(file, L"RegistryKey", "RegistryKey", "Can not read registry key from setup.ini");
}

std::wstring ReadExecution(const SettingsFile& file) {
  return ReadSetting(file, L"Execution", "Execution", "Can not read executable file name from setup.ini");
}

std::wstring ReadSetupVersion(const SettingsFile& file) {
  return ReadSetting(file, L"version", "version", "Can not read version from setup.ini");
}

std::wstring PeekExecution(const SettingsFile& file) {
  IniReader reader;
  if (!file.present() || !reader.Open(file.read_path())) return std::wstring();
  std::wstring value;
  reader.Read(L"Execution", kMissMarker, &value);
  return value == kMissMarker ? std::wstring() : value;
}

}  // namespace vantu
