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
