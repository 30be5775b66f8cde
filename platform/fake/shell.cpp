// Shell folders: the program-files folder of a 32-bit program, as Wine
// reports it, with sub-folders made on request.
#include <cstring>
#include <cwchar>
#include <string>
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

namespace {

// The folder path, with the sub-path (UTF-8 here) joined and made on request.
HRESULT FolderWithSubPath(int folder, const std::string& subDir, size_t subDirLength, std::string* full) {
  std::string base;
  HRESULT result = FolderPath(folder, &base);
  if (FAILED(result)) return result;
  *full = base;
  if (!subDir.empty()) *full += "\\" + subDir;
  // MAX_PATH counts the caller's characters: the base is ASCII.
  if (base.size() + (subDir.empty() ? 0 : 1 + subDirLength) >= MAX_PATH) {
    return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
  }
  if (folder & CSIDL_FLAG_CREATE) {
    result = MakeFolders(*full);
    if (FAILED(result)) return result;
  } else if (internal::AttributesOf(*full) == INVALID_FILE_ATTRIBUTES) {
    return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
  }
  return S_OK;
}

}  // namespace

HRESULT WINAPI SHGetFolderPathAndSubDirW(HWND owner, int folder, HANDLE token, DWORD flags, LPCWSTR subDir,
                                         LPWSTR path) {
  if (auto fault = internal::Enter("SHGetFolderPathAndSubDirW",
                         {internal::Ptr(owner), internal::Hex(static_cast<uint32_t>(folder)), internal::Ptr(token),
                          internal::Num(flags), internal::Text(subDir), internal::Ptr(path)})) {
    return static_cast<HRESULT>(*fault);
  }
  if (!path) return E_INVALIDARG;
  std::string full;
  const HRESULT result = FolderWithSubPath(folder, subDir ? internal::Text(subDir) : std::string(),
                                           subDir ? std::wcslen(subDir) : 0, &full);
  if (FAILED(result)) return result;
  const std::wstring text = internal::WideFromUtf8(full);
  std::wmemcpy(path, text.c_str(), text.size() + 1);
  return S_OK;
}

HRESULT WINAPI SHGetFolderPathW(HWND owner, int folder, HANDLE token, DWORD flags, LPWSTR path) {
  if (auto fault = internal::Enter("SHGetFolderPathW", {internal::Ptr(owner), internal::Hex(static_cast<uint32_t>(folder)),
                                              internal::Ptr(token), internal::Num(flags), internal::Ptr(path)})) {
    return static_cast<HRESULT>(*fault);
  }
  if (!path) return E_INVALIDARG;
  std::string base;
  const HRESULT result = FolderPath(folder, &base);
  if (FAILED(result)) return result;
  const std::wstring text = internal::WideFromUtf8(base);
  std::wmemcpy(path, text.c_str(), text.size() + 1);
  return S_OK;
}
