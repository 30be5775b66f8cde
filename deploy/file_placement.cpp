#include "deploy/file_placement.h"

#include <cstring>
#include <memory>

#include "base/opened_file.h"
#include "base/path_functions.h"
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

// A folder opened as itself and held (no deletion shared); with `inside`,
// it must be a plain folder (no reparse point) whose final path is
// `inside`'s final path and its name. Empty otherwise, with the reason.
UniqueFileHandle OpenFolder(const std::wstring& path, HANDLE inside, DWORD* error) {
  UniqueFileHandle folder(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                      nullptr));
  if (!folder) {
    *error = GetLastError();
    return folder;
  }
  if (!inside) return folder;
  FileFacts facts;
  if (!QueryFileFacts(folder.get(), &facts)) {
    *error = GetLastError();
    folder.reset();
    return folder;
  }
  // A link (a junction, a symbolic link) named like the staging folder.
  DWORD finalError = 0;
  const std::wstring final = FinalPathOf(folder.get(), &finalError);
  const std::wstring parent = FinalPathOf(inside, &finalError);
  const bool elsewhere = !final.empty() && !parent.empty() && !SamePathText(final, JoinPath(parent, FileNamePart(path)));
  if (facts.reparse_point() || !facts.folder() || elsewhere) {
    *error = ERROR_CANT_ACCESS_FILE;
    folder.reset();
  }
  return folder;
}

// One staged file, open for writing and deletion, shared with nobody; gone
// when this goes, unless it was moved into place.
class StagedFile {
 public:
  explicit StagedFile(const std::wstring& path)
      : handle_(CreateFileW(path.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                            nullptr)),
        path_(path) {}
  ~StagedFile() {
    if (!handle_ || placed_) return;
    FILE_DISPOSITION_INFO dispose{};
    dispose.DeleteFile = TRUE;
    if (SetFileInformationByHandle(handle_.get(), FileDispositionInfo, &dispose, sizeof dispose)) return;
    handle_.reset();
    DeleteFileW(path_.c_str());
  }
  StagedFile(const StagedFile&) = delete;
  StagedFile& operator=(const StagedFile&) = delete;

  HANDLE get() const { return handle_.get(); }
  explicit operator bool() const { return static_cast<bool>(handle_); }
  void Placed() { placed_ = true; }

 private:
  UniqueFileHandle handle_;
  std::wstring path_;
  bool placed_ = false;
};

}  // namespace

FilePlacer::FilePlacer(std::wstring installFolder)
    : folder_(std::move(installFolder)), staging_(folder_ + kStagingFolderName + L"\\") {}

FilePlacer::~FilePlacer() {
  if (!stagingFolder_) return;
  stagingFolder_.reset();
  RemoveDirectoryW(staging_.c_str());
}

bool FilePlacer::PrepareStaging() {
  if (stagingFolder_) return true;
  if (stagingFailed_) return false;
  DWORD error = 0;
  const std::wstring folder = staging_.substr(0, staging_.size() - 1);
  installFolder_ = OpenFolder(folder_.substr(0, folder_.size() - 1), nullptr, &error);
  bool made = false;
  if (installFolder_) {
    made = CreateDirectoryW(folder.c_str(), nullptr) != FALSE;
    if (!made) error = GetLastError();
    if (made || error == ERROR_ALREADY_EXISTS) stagingFolder_ = OpenFolder(folder, installFolder_.get(), &error);
  }
  if (!stagingFolder_) {
    stagingFailed_ = true;
    installFolder_.reset();
    if (LogEnabled()) LogLine({"no staging folder ", folder, ": ", ErrorText(error)});
    return false;
  }
  if (made) return true;
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
  return true;
}

bool FilePlacer::MoveIntoPlace(HANDLE staged, const std::wstring& name) {
  // The new name as an absolute path (Wine knows no name relative to a
  // folder's handle here).
  const std::wstring target = folder_ + name;
  const size_t nameBytes = target.size() * sizeof(wchar_t);
  const size_t size = sizeof(FILE_RENAME_INFO) + nameBytes;
  std::unique_ptr<DWORD[]> buffer(new DWORD[size / sizeof(DWORD) + 1]());
  auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.get());
  rename->ReplaceIfExists = TRUE;
  rename->RootDirectory = nullptr;
  rename->FileNameLength = static_cast<DWORD>(nameBytes);
  std::memcpy(rename->FileName, target.c_str(), nameBytes);
  return SetFileInformationByHandle(staged, FileRenameInfo, rename, static_cast<DWORD>(size)) != FALSE;
}

FilePlacer::Result FilePlacer::Place(HANDLE source, const std::wstring& name, FileCheck* check) {
  const std::wstring target = folder_ + name;
  if (!PrepareStaging()) return Result::kFailed;
  // CREATE_NEW follows no link and replaces nothing.
  StagedFile staged(staging_ + name);
  if (!staged) {
    if (LogEnabled()) LogLine({"could not copy ", name, ": ", ErrorText(GetLastError())});
    return Result::kFailed;
  }
  const DataCopy copied = copier_.Copy(source, staged.get(), check);
  // The check stopped the copy, or did not pass it: it said why.
  if (!copied.copied && !copied.error) return Result::kRejected;
  if (!copied.copied) {
    if (LogEnabled()) {
      LogLine({"could not copy ", name, ": ", ErrorText(copied.error),
               copied.readFailed ? " (reading it)" : " (writing it)"});
    }
    return Result::kFailed;
  }
  if (check && !check->Passed(copied.bytes)) return Result::kRejected;
  // As a copy of the file keeps it: when it was last written.
  FILETIME lastWritten{};
  if (GetFileTime(source, nullptr, nullptr, &lastWritten)) SetFileTime(staged.get(), nullptr, nullptr, &lastWritten);

  if (MoveIntoPlace(staged.get(), name)) {
    staged.Placed();
    return Result::kPlaced;
  }
  const DWORD error = GetLastError();
  DWORD held = 0;
  if (IsHeldByAnother(target, &held)) {
    if (LogEnabled()) LogLine({"passed over ", name, ": ", ErrorText(held), " (the install folder has it)"});
    return Result::kPassedOver;
  }
  if (error == ERROR_ACCESS_DENIED) {
    // Clears a read-only, hidden or system mark on the existing target.
    SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (MoveIntoPlace(staged.get(), name)) {
      staged.Placed();
      if (LogEnabled()) {
        LogLine({"copied ", name, " after resetting the target's attributes (first try: ", ErrorText(error), ")"});
      }
      return Result::kPlaced;
    }
    if (LogEnabled()) {
      LogLine({"could not copy ", name, ": ", ErrorText(GetLastError()),
               " even after resetting the target's attributes"});
    }
    return Result::kFailed;
  }
  if (LogEnabled()) LogLine({"could not copy ", name, ": ", ErrorText(error)});
  return Result::kFailed;
}

}  // namespace vantu
