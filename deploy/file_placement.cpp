#include "deploy/file_placement.h"

#include <algorithm>

#include "base/unique_handle.h"
#include "runlog/run_log.h"

namespace vantu {

const wchar_t kStagingFolderName[] = L"~FanServiceSetup.staging";

namespace {

// Whether another program holds `target` open or locked: it cannot be
// opened for writing, whatever sharing is offered, and says so with a
// sharing or lock violation (a running executable and a loaded DLL answer
// so too). A folder, or nothing, is not held.
bool IsHeldByAnother(const std::wstring& target, DWORD* error) {
  const DWORD attributes = GetFileAttributesW(target.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
  UniqueFileHandle probe(CreateFileW(target.c_str(), GENERIC_WRITE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (probe) return false;
  *error = GetLastError();
  return *error == ERROR_SHARING_VIOLATION || *error == ERROR_LOCK_VIOLATION;
}

}  // namespace

FilePlacer::FilePlacer(std::wstring installFolder)
    : folder_(std::move(installFolder)), staging_(folder_ + kStagingFolderName + L"\\") {}

FilePlacer::~FilePlacer() {
  for (const std::wstring& temporary : temporaries_) DeleteFileW(temporary.c_str());
  if (stagingMade_) RemoveDirectoryW(staging_.c_str());
}

bool FilePlacer::PrepareStaging() {
  if (stagingMade_) return true;
  if (stagingError_) return false;
  if (CreateDirectoryW(staging_.c_str(), nullptr)) {
    stagingMade_ = true;
    return true;
  }
  stagingError_ = GetLastError();
  if (stagingError_ == ERROR_ALREADY_EXISTS) {
    // Left by a run that was killed: emptied of its files.
    const std::wstring pattern = staging_ + L"*";
    WIN32_FIND_DATAW found{};
    UniqueFindHandle search(FindFirstFileW(pattern.c_str(), &found));
    for (bool more = static_cast<bool>(search); more; more = FindNextFileW(search.get(), &found) != FALSE) {
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
      const std::wstring left = staging_ + found.cFileName;
      SetFileAttributesW(left.c_str(), FILE_ATTRIBUTE_NORMAL);
      DeleteFileW(left.c_str());
    }
    stagingError_ = 0;
    stagingMade_ = true;
    return true;
  }
  if (LogEnabled()) LogLine({"no staging folder ", staging_, ": ", ErrorText(stagingError_)});
  return false;
}

void FilePlacer::Forget(const std::wstring& temporary) {
  temporaries_.erase(std::remove(temporaries_.begin(), temporaries_.end(), temporary), temporaries_.end());
}

void FilePlacer::Remove(const std::wstring& temporary) {
  DeleteFileW(temporary.c_str());
  Forget(temporary);
}

FilePlacer::Result FilePlacer::Fail(const std::wstring& temporary) {
  if (!temporary.empty()) Remove(temporary);
  return Result::kFailed;
}

FilePlacer::Result FilePlacer::Place(HANDLE source, const std::wstring& name, FileCheck* check) {
  const std::wstring target = folder_ + name;
  if (!PrepareStaging()) return Result::kFailed;
  // CREATE_NEW follows no link and replaces nothing.
  const std::wstring temporary = staging_ + name;
  DWORD error = 0;
  DataCopy copied;
  {
    UniqueFileHandle written(
        CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!written) {
      if (LogEnabled()) LogLine({"could not copy ", name, ": ", ErrorText(GetLastError())});
      return Result::kFailed;
    }
    temporaries_.push_back(temporary);
    copied = copier_.Copy(source, written.get(), check);
    // As a copy of the file keeps it: when it was last written.
    FILETIME lastWritten{};
    if (copied.copied && GetFileTime(source, nullptr, nullptr, &lastWritten)) {
      SetFileTime(written.get(), nullptr, nullptr, &lastWritten);
    }
  }
  if (!copied.copied && !copied.error) {
    // The check stopped the copy, and said why.
    Remove(temporary);
    return Result::kRejected;
  }
  if (!copied.copied) {
    if (LogEnabled()) {
      LogLine({"could not copy ", name, ": ", ErrorText(copied.error),
               copied.readFailed ? " (reading it)" : " (writing it)"});
    }
    return Fail(temporary);
  }
  if (check && !check->Passed(copied.bytes)) {
    Remove(temporary);
    return Result::kRejected;
  }

  if (MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    Forget(temporary);  // it has its own name now
    return Result::kPlaced;
  }
  error = GetLastError();
  DWORD held = 0;
  if (IsHeldByAnother(target, &held)) {
    if (LogEnabled()) LogLine({"passed over ", name, ": ", ErrorText(held), " (the install folder has it)"});
    Remove(temporary);
    return Result::kPassedOver;
  }
  if (error == ERROR_ACCESS_DENIED) {
    // Clears a read-only, hidden or system mark on the existing target.
    SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
      Forget(temporary);
      if (LogEnabled()) {
        LogLine({"copied ", name, " after resetting the target's attributes (first try: ", ErrorText(error), ")"});
      }
      return Result::kPlaced;
    }
    if (LogEnabled()) {
      LogLine({"could not copy ", name, ": ", ErrorText(GetLastError()),
               " even after resetting the target's attributes"});
    }
    return Fail(temporary);
  }
  if (LogEnabled()) LogLine({"could not copy ", name, ": ", ErrorText(error)});
  return Fail(temporary);
}

}  // namespace vantu
