#include "seal/file_for_hashing.h"

namespace vantu {

DWORD OpenFileForHashing(const std::wstring& path, UniqueFileHandle* file, uint64_t* size) {
  file->reset();
  UniqueFileHandle opened(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!opened) return GetLastError();
  BY_HANDLE_FILE_INFORMATION information;
  if (!GetFileInformationByHandle(opened.get(), &information)) return GetLastError();
  if (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return ERROR_CANT_ACCESS_FILE;
  if (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return ERROR_ACCESS_DENIED;
  if (size) *size = static_cast<uint64_t>(information.nFileSizeHigh) << 32 | information.nFileSizeLow;
  *file = std::move(opened);
  return ERROR_SUCCESS;
}

}  // namespace vantu
