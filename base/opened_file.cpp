#include "base/opened_file.h"

#include <memory>

#include "base/path_functions.h"
#include "base/text_encoding.h"

namespace vantu {

std::wstring FinalPathOf(HANDLE handle) {
  DWORD size = MAX_PATH + 1;
  // The first answer may ask for more room; a path that keeps growing
  // between two asks is not one to trust.
  for (int attempt = 0; attempt < 2; ++attempt) {
    std::unique_ptr<wchar_t[]> buffer(new wchar_t[size]);
    const DWORD length = GetFinalPathNameByHandleW(handle, buffer.get(), size, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0) return std::wstring();
    if (length < size) return PathFromFinalPath(std::wstring(buffer.get(), length));
    size = length;
  }
  return std::wstring();
}

OpenedFileCheck CheckOpenedFile(HANDLE handle, const std::wstring& expectedPath) {
  OpenedFileCheck check;
  BY_HANDLE_FILE_INFORMATION information{};
  if (!GetFileInformationByHandle(handle, &information)) {
    check.error = GetLastError();
    return check;
  }
  check.names = information.nNumberOfLinks;
  if (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    check.kind = OpenedFileCheck::Kind::kReparsePoint;
  } else if (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
    check.kind = OpenedFileCheck::Kind::kFolder;
  } else if (information.nNumberOfLinks != 1) {
    check.kind = OpenedFileCheck::Kind::kSeveralNames;
  } else {
    check.finalPath = FinalPathOf(handle);
    if (check.finalPath.empty()) {
      check.error = GetLastError();
    } else {
      check.kind = SamePathText(check.finalPath, expectedPath) ? OpenedFileCheck::Kind::kPlainFile
                                                               : OpenedFileCheck::Kind::kElsewhere;
    }
  }
  return check;
}

std::string OpenedFileCheck::Describe() const {
  switch (kind) {
    case Kind::kPlainFile:
      return "a plain file";
    case Kind::kUnknown:
      return "what it is could not be told (error " + std::to_string(error) + ")";
    case Kind::kFolder:
      return "it is a folder";
    case Kind::kReparsePoint:
      return "it is a reparse point (a link)";
    case Kind::kSeveralNames:
      return "it is a file of " + std::to_string(names) + " names (a hard link)";
    case Kind::kElsewhere:
      return "it leads to " + Utf8FromWide(finalPath) + " (a link)";
  }
  return std::string();
}

}  // namespace vantu
