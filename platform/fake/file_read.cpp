// Reading existing files: CreateFile for GENERIC_READ, ReadFile and
// GetFileInformationByHandle, on the host folder of files.cpp. Sharing is
// checked between the handles opened here and against HoldOpen.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <string>

#include "fake_win32/control.h"
#include "files.h"
#include "internal.h"

namespace fake_win32 {
namespace {

using internal::Enter;
using internal::Hex;
using internal::Num;
using internal::Ptr;
using internal::Text;

struct OpenFile {
  int descriptor = -1;    // -1: a link opened as itself, which reads as empty
  std::string key;        // the full Windows path in upper case
  DWORD share = 0;
};

struct ReadState {
  std::map<uintptr_t, OpenFile> files;
};

ReadState& State() {
  static ReadState state;
  return state;
}

std::string Upper(std::string text) {
  for (auto& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

OpenFile* Find(HANDLE file) {
  const auto found = State().files.find(reinterpret_cast<uintptr_t>(file));
  return found == State().files.end() ? nullptr : &found->second;
}

HANDLE Fail(DWORD error) {
  SetLastError(error);
  return INVALID_HANDLE_VALUE;
}

}  // namespace

namespace internal {

void ResetFileReads() {
  for (auto& file : State().files) {
    if (file.second.descriptor >= 0) ::close(file.second.descriptor);
  }
  State().files.clear();
}

bool CloseReadFile(HANDLE handle) {
  auto& files = State().files;
  const auto found = files.find(reinterpret_cast<uintptr_t>(handle));
  if (found == files.end()) return false;
  if (found->second.descriptor >= 0) ::close(found->second.descriptor);
  files.erase(found);
  Closed("file", handle);
  return true;
}

}  // namespace internal

}  // namespace fake_win32

namespace fake_win32::internal {

// CreateFile for GENERIC_READ (files.cpp hands it on): opens an existing
// file to read it. `fileName` is UTF-8, `length` its length in the caller's
// characters.
HANDLE OpenForReading(const std::string& fileName, size_t length, DWORD desiredAccess, DWORD shareMode,
                      DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE templateFile) {
  if (desiredAccess != GENERIC_READ || creationDisposition != OPEN_EXISTING || templateFile) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  const std::string& narrow = fileName;
  if (length >= MAX_PATH) return Fail(ERROR_FILENAME_EXCED_RANGE);
  internal::ResolvedPath path;
  if (!internal::Resolve(narrow, &path)) return Fail(ERROR_PATH_NOT_FOUND);
  struct stat link {};
  if (::lstat(path.host.c_str(), &link) != 0) {
    const std::string parent = path.host.substr(0, path.host.rfind('/'));
    struct stat folder {};
    return Fail(::stat(parent.c_str(), &folder) == 0 && S_ISDIR(folder.st_mode) ? ERROR_FILE_NOT_FOUND
                                                                                 : ERROR_PATH_NOT_FOUND);
  }
  const bool asLink = S_ISLNK(link.st_mode) && (flagsAndAttributes & FILE_FLAG_OPEN_REPARSE_POINT);
  struct stat target {};
  if (!asLink && ::stat(path.host.c_str(), &target) != 0) return Fail(ERROR_FILE_NOT_FOUND);  // a dangling link
  if (!asLink && S_ISDIR(target.st_mode)) return Fail(ERROR_ACCESS_DENIED);
  const std::string key = Upper(path.full);
  if (internal::IsHeld(path)) return Fail(ERROR_SHARING_VIOLATION);
  for (const auto& open : State().files) {
    // Every handle here reads: each must let the other read.
    if (open.second.key == key && (!(open.second.share & FILE_SHARE_READ) || !(shareMode & FILE_SHARE_READ))) {
      return Fail(ERROR_SHARING_VIOLATION);
    }
  }
  int descriptor = -1;
  if (!asLink) {
    descriptor = ::open(path.host.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) return Fail(ERROR_ACCESS_DENIED);
  }
  const uintptr_t value = internal::NewHandleValue();
  State().files[value] = OpenFile{descriptor, key, shareMode};
  HANDLE handle = reinterpret_cast<HANDLE>(value);
  internal::Opened("file", handle);
  SetLastError(ERROR_SUCCESS);
  return handle;
}

}  // namespace fake_win32::internal

using namespace fake_win32;

BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead, LPVOID overlapped) {
  if (bytesRead) *bytesRead = 0;
  if (auto fault = Enter("ReadFile", {Ptr(file), Num(bytesToRead)})) {
    SetLastError(*fault);
    return FALSE;
  }
  OpenFile* open = Find(file);
  if (!open) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (overlapped || !bytesRead || (!buffer && bytesToRead)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  DWORD total = 0;
  while (open->descriptor >= 0 && total < bytesToRead) {
    const ssize_t got = ::read(open->descriptor, static_cast<char*>(buffer) + total, bytesToRead - total);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      SetLastError(ERROR_ACCESS_DENIED);
      return FALSE;
    }
    if (got == 0) break;
    total += static_cast<DWORD>(got);
  }
  *bytesRead = total;
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOL WINAPI GetFileInformationByHandle(HANDLE file, LPBY_HANDLE_FILE_INFORMATION information) {
  if (auto fault = Enter("GetFileInformationByHandle", {Ptr(file), Ptr(information)})) {
    SetLastError(*fault);
    return FALSE;
  }
  OpenFile* open = Find(file);
  if (!open || !information) {
    SetLastError(open ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
    return FALSE;
  }
  *information = BY_HANDLE_FILE_INFORMATION{};
  if (open->descriptor < 0) {
    information->dwFileAttributes = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_REPARSE_POINT;
    information->nNumberOfLinks = 1;
    return TRUE;
  }
  struct stat status {};
  if (::fstat(open->descriptor, &status) != 0) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  information->dwFileAttributes = (status.st_mode & S_IWUSR) ? FILE_ATTRIBUTE_ARCHIVE : FILE_ATTRIBUTE_READONLY;
  const auto size = static_cast<uint64_t>(status.st_size);
  information->nFileSizeHigh = static_cast<DWORD>(size >> 32);
  information->nFileSizeLow = static_cast<DWORD>(size & 0xFFFFFFFFu);
  information->nNumberOfLinks = static_cast<DWORD>(status.st_nlink);
  information->nFileIndexHigh = static_cast<DWORD>(static_cast<uint64_t>(status.st_ino) >> 32);
  information->nFileIndexLow = static_cast<DWORD>(status.st_ino & 0xFFFFFFFFu);
  return TRUE;
}
