#include "deploy/payload_source.h"

#include "runlog/run_log.h"

namespace vantu {

bool IsReparsePointEntry(const WIN32_FIND_DATAW& entry) {
  return (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

std::string ReparsePointKind(DWORD tag) {
  switch (tag) {
    case IO_REPARSE_TAG_SYMLINK:
      return "a symbolic link";
    case IO_REPARSE_TAG_MOUNT_POINT:
      return "a junction or mount point";
    default:
      return "a reparse point (tag " + HexWord(tag) + ")";
  }
}

bool PayloadSource::Open(const std::wstring& path) {
  handle_.reset(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!handle_) {
    openError_ = GetLastError();
    return false;
  }
  check_ = CheckOpenedFile(handle_.get(), path);
  if (check_.plain_file()) return true;
  handle_.reset();
  return false;
}

void PayloadSource::LogRefusal(const std::wstring& name) const {
  if (!LogEnabled()) return;
  if (openError_ != 0) {
    LogLine({"could not copy ", name, ": ", ErrorText(openError_)});
  } else {
    LogLine({"not copied ", name, ": ", check_.Describe(), "; the program folder may hold plain files only"});
  }
}

}  // namespace vantu
