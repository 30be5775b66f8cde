#include "deploy/file_placement.h"

#include <algorithm>

#include "base/unique_handle.h"
#include "runlog/run_log.h"

namespace vantu {
namespace {

// Names tried for one temporary file before the placement gives up.
constexpr unsigned kTemporaryNamesTried = 100;

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

FilePlacer::FilePlacer(std::wstring installFolder) : folder_(std::move(installFolder)) {}

FilePlacer::~FilePlacer() {
  for (const std::wstring& temporary : temporaries_) DeleteFileW(temporary.c_str());
}

HANDLE FilePlacer::NewTemporary(std::wstring* path, DWORD* error) {
  const std::wstring stem = folder_ + L"~FanServiceSetup-" + std::to_wstring(GetCurrentProcessId()) + L"-";
  for (unsigned tried = 0; tried < kTemporaryNamesTried; ++tried) {
    *path = stem + std::to_wstring(next_++) + L".tmp";
    const HANDLE file =
        CreateFileW(path->c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      temporaries_.push_back(*path);
      return file;
    }
    *error = GetLastError();
    if (*error != ERROR_FILE_EXISTS && *error != ERROR_ALREADY_EXISTS) return INVALID_HANDLE_VALUE;
  }
  return INVALID_HANDLE_VALUE;
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
  std::wstring temporary;
  DWORD error = 0;
  DataCopy copied;
  {
    UniqueFileHandle written(NewTemporary(&temporary, &error));
    if (!written) {
      if (LogEnabled()) LogLine({"could not copy ", name, ": ", ErrorText(error)});
      return Result::kFailed;
    }
    copied = copier_.Copy(source, written.get(), check);
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
