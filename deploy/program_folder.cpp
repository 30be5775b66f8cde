#include "deploy/program_folder.h"

#include <windows.h>

#include "base/opened_file.h"

namespace vantu {

bool ProgramFolder::Open(const std::wstring& folder) {
  handle_.reset();
  path_.clear();
  error_ = ERROR_PATH_NOT_FOUND;
  if (folder.empty()) return false;
  // Reading (listing) is data access, which takes part in sharing: without
  // FILE_SHARE_DELETE no rename or removal of the folder gets through while
  // it is open. Other programs may still read it and write in it.
  handle_.reset(CreateFileW(folder.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!handle_) {
    error_ = GetLastError();
    return false;
  }
  error_ = 0;
  std::wstring final = FinalPathOf(handle_.get(), &error_);
  if (final.empty() && FinalPathNotSupported(error_)) {
    final = folder;
  } else if (final.empty()) {
    handle_.reset();
    return false;
  }
  if (final.back() != L'\\') final += L'\\';
  path_ = std::move(final);
  return true;
}

}  // namespace vantu
