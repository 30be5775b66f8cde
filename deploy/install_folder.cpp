#include "deploy/install_folder.h"

#include <windows.h>
#include <shlobj.h>

#include <cwchar>

#include "settings/settings.h"

namespace vantu {

std::wstring ResolveInstallFolder(std::wstring version) {
  const std::wstring subPath = ReadInstallPath() + version;
  wchar_t buffer[MAX_PATH] = {};
  const HRESULT result = SHGetFolderPathAndSubDirW(nullptr, CSIDL_PROGRAM_FILES | CSIDL_FLAG_CREATE, nullptr,
                                                   SHGFP_TYPE_CURRENT, subPath.c_str(), buffer);
  // Only S_OK counts: any other code, success codes included, is a failure.
  if (result != S_OK) return std::wstring();
  const wchar_t* end = std::wmemchr(buffer, L'\0', MAX_PATH);
  const size_t length = end ? static_cast<size_t>(end - buffer) : MAX_PATH;
  return std::wstring(buffer, length) + L"\\";
}

}  // namespace vantu
