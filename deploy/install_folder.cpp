#include "deploy/install_folder.h"

#include <windows.h>
#include <shlobj.h>

#include <cwchar>
#include <memory>

#include "base/path_functions.h"
#include "runlog/run_log.h"
#include "settings/setting_rules.h"
#include "settings/settings.h"

namespace vantu {
namespace {

// `path` made absolute and normalised as Windows itself will read it
// ("." and ".." taken out, "/" read as "\"); empty when it cannot be.
std::wstring FullPath(const std::wstring& path) {
  const DWORD size = 32768;
  std::unique_ptr<wchar_t[]> buffer(new wchar_t[size]);
  const DWORD length = GetFullPathNameW(path.c_str(), size, buffer.get(), nullptr);
  return length > 0 && length < size ? std::wstring(buffer.get(), length) : std::wstring();
}

// Whether the folder that the shell made lies below the program-files
// folder. The rule on InstallPath keeps it there already; this checks the
// result, as the platform resolved it.
bool LiesBelowProgramFiles(const std::wstring& folder) {
  wchar_t programFiles[MAX_PATH] = {};
  if (SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES, nullptr, SHGFP_TYPE_CURRENT, programFiles) != S_OK) {
    LogLine({"install folder ", folder, " not used: the program-files folder could not be told"});
    return false;
  }
  const std::wstring base = FullPath(programFiles);
  const std::wstring resolved = FullPath(folder);
  if (!base.empty() && !resolved.empty() && LiesBelowFolder(resolved, base)) return true;
  LogLine({"install folder ", folder, " not used: it does not lie below the program-files folder ", base,
           "; nothing deployed"});
  return false;
}

}  // namespace

InstallFolder ResolveInstallFolder(const SettingsFile& settings, std::wstring version) {
  const std::wstring installPath = ReadInstallPath(settings);
  // Before anything is made: a value that leads out of the program-files
  // folder would have the shell make its folders wherever it leads.
  if (const char* fault = InstallPathFault(installPath)) {
    LogBrokenRule("InstallPath", installPath, kInstallPathRule, fault, "nothing deployed");
    return InstallFolder{std::wstring(), true};
  }
  const std::wstring subPath = WithoutEmptyComponents(installPath) + version;
  wchar_t buffer[MAX_PATH] = {};
  const HRESULT result = SHGetFolderPathAndSubDirW(nullptr, CSIDL_PROGRAM_FILES | CSIDL_FLAG_CREATE, nullptr,
                                                   SHGFP_TYPE_CURRENT, subPath.c_str(), buffer);
  // Only S_OK counts: any other code, success codes included, is a failure.
  if (result != S_OK) return InstallFolder{};
  const wchar_t* end = std::wmemchr(buffer, L'\0', MAX_PATH);
  const size_t length = end ? static_cast<size_t>(end - buffer) : MAX_PATH;
  std::wstring folder = std::wstring(buffer, length) + L"\\";
  if (!LiesBelowProgramFiles(folder)) return InstallFolder{std::wstring(), true};
  return InstallFolder{std::move(folder), false};
}

}  // namespace vantu
