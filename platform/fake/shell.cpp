// Shell folders: the program-files folder of a 32-bit program, as Wine
// reports it, with sub-folders made on request.
#include <cstring>
#include <filesystem>
#include <system_error>

#include "fake_win32/control.h"
#include "files.h"
#include "internal.h"

namespace fake_win32 {
namespace internal {
void ResetShell() {}
}  // namespace internal
}  // namespace fake_win32

using namespace fake_win32;

namespace {

// Makes every missing folder of `full` (an absolute Windows path).
HRESULT MakeFolders(const std::string& full) {
  internal::ResolvedPath resolved;
  if (!internal::Resolve(full, &resolved)) return HRESULT_FROM_WIN32(ERROR_BAD_PATHNAME);
  for (const char c : full.substr(2)) {
    if (std::strchr("<>:\"|?*", c)) return HRESULT_FROM_WIN32(ERROR_INVALID_NAME);
  }
  std::error_code error;
  std::filesystem::create_directories(resolved.host, error);
  if (error) {
    return HRESULT_FROM_WIN32(error == std::errc::not_a_directory || error == std::errc::file_exists
                                  ? ERROR_PATH_NOT_FOUND
                                  : ERROR_ACCESS_DENIED);
  }
  if (!std::filesystem::is_directory(resolved.host, error)) return HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);
  return S_OK;
}

HRESULT FolderPath(int folder, std::string* path) {
  if ((folder & 0xFF) != CSIDL_PROGRAM_FILES) return E_INVALIDARG;
  *path = ProgramFilesFolder();
  return S_OK;
}

}  // namespace

HRESULT WINAPI SHGetFolderPathAndSubDirA(HWND owner, int folder, HANDLE token, DWORD flags, LPCSTR subDir,
                                         LPSTR path) {
  if (auto fault = internal::Enter("SHGetFolderPathAndSubDirA",
                         {internal::Ptr(owner), internal::Hex(static_cast<uint32_t>(folder)), internal::Ptr(token),
                          internal::Num(flags), internal::Text(subDir), internal::Ptr(path)})) {
    return static_cast<HRESULT>(*fault);
  }
  if (!path) return E_INVALIDARG;
  std::string base;
  HRESULT result = FolderPath(folder, &base);
  if (FAILED(result)) return result;
  std::string full = base;
  if (subDir && *subDir) full += "\\" + std::string(subDir);
  if (full.size() >= MAX_PATH) return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
  if (folder & CSIDL_FLAG_CREATE) {
    result = MakeFolders(full);
    if (FAILED(result)) return result;
  } else if (internal::AttributesOf(full) == INVALID_FILE_ATTRIBUTES) {
    return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
  }
  std::memcpy(path, full.c_str(), full.size() + 1);
  return S_OK;
}

HRESULT WINAPI SHGetFolderPathA(HWND owner, int folder, HANDLE token, DWORD flags, LPSTR path) {
  if (auto fault = internal::Enter("SHGetFolderPathA", {internal::Ptr(owner), internal::Hex(static_cast<uint32_t>(folder)),
                                              internal::Ptr(token), internal::Num(flags), internal::Ptr(path)})) {
    return static_cast<HRESULT>(*fault);
  }
  if (!path) return E_INVALIDARG;
  std::string base;
  const HRESULT result = FolderPath(folder, &base);
  if (FAILED(result)) return result;
  std::memcpy(path, base.c_str(), base.size() + 1);
  return S_OK;
}
