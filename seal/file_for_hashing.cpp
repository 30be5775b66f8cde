#include "seal/file_for_hashing.h"

#include "base/opened_file.h"

namespace vantu {

DWORD OpenFileForHashing(const std::wstring& path, UniqueFileHandle* file, uint64_t* size) {
  file->reset();
  UniqueFileHandle opened(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!opened) return GetLastError();
  FileFacts facts;
  if (!QueryFileFacts(opened.get(), &facts)) return GetLastError();
  if (facts.reparse_point()) return ERROR_CANT_ACCESS_FILE;
  if (facts.folder()) return ERROR_ACCESS_DENIED;
  if (size) *size = facts.size;
  *file = std::move(opened);
  return ERROR_SUCCESS;
}

}  // namespace vantu
