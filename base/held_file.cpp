#include "base/held_file.h"

#include "base/text_encoding.h"

namespace vantu {
namespace {

// A payload file may be one that a filter keeps, and may lie on a volume
// that tells no final path (its name was opened as itself all the same).
constexpr OpenedFileRules kPayloadFileRules{true, true};

constexpr DWORD kSymbolicLinkTag = 0xA000000C;
constexpr DWORD kMountPointTag = 0xA0000003;

}  // namespace

std::string ReparsePointKind(DWORD tag) {
  switch (tag) {
    case kSymbolicLinkTag:
      return "a symbolic link";
    case kMountPointTag:
      return "a junction or mount point";
    default:
      return "a reparse point (tag " + HexWord(tag) + ")";
  }
}

bool HeldFile::Refuse(DWORD openError) {
  openError_ = openError;
  Close();
  return false;
}

void HeldFile::Close() {
  data_.reset();
  itself_.reset();
}

bool HeldFile::Open(const std::wstring& path) {
  data_.reset();
  openError_ = 0;
  check_ = OpenedFileCheck{};
  itself_.reset(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!itself_) return Refuse(GetLastError());
  check_ = CheckOpenedFile(itself_.get(), path, kPayloadFileRules);
  if (!check_.plain_file()) return Refuse(0);
  if (check_.filterTag == 0) return true;
  // Kept by a filter: its data comes through the filter. Nobody can rename,
  // remove or replace the name while the first handle is open, so this opens
  // the same file.
  data_.reset(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!data_) return Refuse(GetLastError());
  check_ = CheckOpenedFile(data_.get(), path, kPayloadFileRules);
  if (!check_.plain_file()) return Refuse(0);
  return true;
}

}  // namespace vantu
