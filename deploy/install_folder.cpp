#include "deploy/install_folder.h"

#include <windows.h>
#include <shlobj.h>

#include <cstring>

#include "settings/settings.h"

namespace vantu {

std::string ResolveInstallFolder(std::string version) {
  const std::string subPath = ReadInstallPath() + version;
  char buffer[MAX_PATH] = {};
  const HRESULT result = SHGetFolderPathAndSubDirA(nullptr, CSIDL_PROGRAM_FILES | CSIDL_FLAG_CREATE, nullptr,
                                                   SHGFP_TYPE_CURRENT, subPath.c_str(), buffer);
  // Only S_OK counts: any other code, success codes included, is a failure.
  if (result != S_OK) return std::string();
  const void* end = std::memchr(buffer, '\0', sizeof buffer);
  const size_t length = end ? static_cast<size_t>(static_cast<const char*>(end) - buffer) : sizeof buffer;
  return std::string(buffer, length) + "\\";
}

}  // namespace vantu
