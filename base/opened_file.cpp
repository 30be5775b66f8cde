#include "base/opened_file.h"

#include <memory>

#include "base/path_functions.h"
#include "base/text_encoding.h"

namespace vantu {

namespace {

// The path below the volume's root of what `handle` is open on (\a\b), every
// link resolved, as FileNameInfo tells it; empty when the platform cannot.
std::wstring VolumePathOf(HANDLE handle) {
  const DWORD size = sizeof(FILE_NAME_INFO) + 32768 * sizeof(wchar_t);
  std::unique_ptr<DWORD[]> buffer(new DWORD[size / sizeof(DWORD) + 1]);
  auto* info = reinterpret_cast<FILE_NAME_INFO*>(buffer.get());
  if (!GetFileInformationByHandleEx(handle, FileNameInfo, info, size)) return std::wstring();
  return std::wstring(info->FileName, info->FileNameLength / sizeof(wchar_t));
}

// C:\a\b without its drive (\a\b); empty for a path of another form.
std::wstring WithoutDrive(const std::wstring& path) {
  if (path.size() < 3 || path[1] != L':' || path[2] != L'\\') return std::wstring();
  return path.substr(2);
}

}  // namespace

std::wstring FinalPathOf(HANDLE handle, DWORD* error) {
  // A path of MAX_PATH first, the longest Windows path after that: Windows
  // answers a buffer too small with the size it needs, Wine with 0 and
  // ERROR_MORE_DATA (and keeps answering so for a path longer than MAX_PATH).
  DWORD failure = 0;
  for (const DWORD size : {DWORD{MAX_PATH + 1}, DWORD{32768}}) {
    std::unique_ptr<wchar_t[]> buffer(new wchar_t[size]);
    const DWORD length = GetFinalPathNameByHandleW(handle, buffer.get(), size, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length > 0 && length < size) return PathFromFinalPath(std::wstring(buffer.get(), length));
    failure = length == 0 ? GetLastError() : ERROR_MORE_DATA;
    if (failure != ERROR_MORE_DATA) break;
  }
  if (error) *error = failure;
  return std::wstring();
}

bool IsNameSurrogateTag(DWORD tag) {
  constexpr DWORD kNameSurrogateBit = 0x20000000;
  return (tag & kNameSurrogateBit) != 0;
}

bool FinalPathNotSupported(DWORD error) {
  return error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION || error == ERROR_INVALID_PARAMETER;
}

bool QueryFileFacts(HANDLE handle, FileFacts* facts) {
  FILE_ATTRIBUTE_TAG_INFO tag{};
  FILE_STANDARD_INFO standard{};
  if (!GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag) ||
      !GetFileInformationByHandleEx(handle, FileStandardInfo, &standard, sizeof standard)) {
    return false;
  }
  facts->attributes = tag.FileAttributes;
  facts->reparseTag = tag.ReparseTag;
  facts->names = standard.NumberOfLinks;
  facts->size = standard.Directory ? 0 : static_cast<uint64_t>(standard.EndOfFile.QuadPart);
  if (standard.Directory) facts->attributes |= FILE_ATTRIBUTE_DIRECTORY;
  return true;
}

OpenedFileCheck CheckOpenedFile(HANDLE handle, const std::wstring& expectedPath, OpenedFileRules rules) {
  OpenedFileCheck check;
  FileFacts facts;
  if (!QueryFileFacts(handle, &facts)) {
    check.error = GetLastError();
    return check;
  }
  check.names = facts.names;
  check.size = facts.size;
  const bool filtered = facts.reparse_point() && !IsNameSurrogateTag(facts.reparseTag);
  if (facts.reparse_point() && !(filtered && rules.filteredFiles)) {
    check.kind = OpenedFileCheck::Kind::kReparsePoint;
    check.reparseTag = facts.reparseTag;
  } else if (facts.folder()) {
    check.kind = OpenedFileCheck::Kind::kFolder;
  } else if (facts.names != 1) {
    check.kind = OpenedFileCheck::Kind::kSeveralNames;
  } else {
    DWORD error = 0;
    check.finalPath = FinalPathOf(handle, &error);
    std::wstring expected = expectedPath;
    if (check.finalPath.empty() && error == ERROR_MORE_DATA) {
      // Wine tells no final path longer than MAX_PATH; the path below the
      // volume's root, which it does tell, is compared instead.
      check.finalPath = VolumePathOf(handle);
      expected = WithoutDrive(expectedPath);
      if (check.finalPath.empty() || expected.empty()) error = GetLastError();
    }
    if (check.finalPath.empty() && rules.unknownFinalPath && FinalPathNotSupported(error)) {
      // The name was opened as itself: no link was followed to reach it.
      check.kind = OpenedFileCheck::Kind::kPlainFile;
      check.finalPathUnknown = true;
    } else if (check.finalPath.empty() || expected.empty()) {
      check.error = error;
    } else {
      check.kind = SamePathText(check.finalPath, expected) ? OpenedFileCheck::Kind::kPlainFile
                                                           : OpenedFileCheck::Kind::kElsewhere;
    }
    if (check.plain_file() && facts.reparse_point()) check.filterTag = facts.reparseTag;
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
