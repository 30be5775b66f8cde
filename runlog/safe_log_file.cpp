#include "runlog/safe_log_file.h"

#include <windows.h>

#include <memory>

#include "base/opened_file.h"
#include "base/path_functions.h"
#include "base/text_encoding.h"
#include "runlog/run_log.h"
#include "runlog/temp_folder.h"

namespace vantu {
namespace {

constexpr DWORD kLargestPath = 32768;

// The folder of the log, open as itself, and its final path.
struct LogFolder {
  UniqueFileHandle handle;
  std::wstring path;
};

std::string Shown(const std::wstring& path) { return Utf8FromWide(path); }

// A folder's text without its trailing backslash, which could make Windows
// go through a link that the folder's own name is; a drive's root keeps its
// own (C:\).
std::wstring FolderName(std::wstring text) {
  if (text.size() > 3 && text.back() == L'\\') text.pop_back();
  return text;
}

// Opens `text` as the log's folder, holding it (no rename or removal gets
// through while it is open), or says why not in `refusal`.
bool OpenLogFolder(const std::wstring& folderText, const std::wstring& programFolder, LogFolder* folder,
                   std::string* refusal) {
  const std::wstring text = FolderName(folderText);
  folder->handle.reset(CreateFileW(text.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                   nullptr));
  if (!folder->handle) {
    *refusal = "its folder " + Shown(text) + " cannot be opened: " + ErrorText(GetLastError());
    return false;
  }
  FileFacts facts;
  if (!QueryFileFacts(folder->handle.get(), &facts)) {
    *refusal = "its folder " + Shown(text) + " cannot be looked at: " + ErrorText(GetLastError());
    return false;
  }
  if (facts.reparse_point()) {
    *refusal = "its folder " + Shown(text) + " is a link (a reparse point)";
    return false;
  }
  if (!facts.folder()) {
    *refusal = Shown(text) + " is no folder";
    return false;
  }
  folder->path = FinalPathOf(folder->handle.get());
  // The folder's final path against its name written out in full (long
  // names for short ones): they differ only when a link on the way led
  // somewhere else.
  std::unique_ptr<wchar_t[]> named(new wchar_t[kLargestPath]);
  const DWORD length = GetLongPathNameW(text.c_str(), named.get(), kLargestPath);
  if (folder->path.empty() || length == 0 || length >= kLargestPath) {
    *refusal = "its folder " + Shown(text) + " cannot be told: " + ErrorText(GetLastError());
    return false;
  }
  if (!SamePathText(folder->path, std::wstring(named.get(), length))) {
    *refusal = "its folder " + Shown(text) + " leads to " + Shown(folder->path) + " (through a link)";
    return false;
  }
  if (programFolder.empty()) {
    *refusal = "the program folder is unknown, and the log could lie in it";
    return false;
  }
  if (SamePathText(folder->path, programFolder)) {
    *refusal = "it would lie in the program folder " + Shown(programFolder) + ", whose files are the payload";
    return false;
  }
  return true;
}

// Checks the log's open file by its handle.
bool CheckLogFile(const LogFileOpening& opening, std::string* refusal) {
  const OpenedFileCheck check = CheckOpenedFile(opening.file.get(), opening.path);
  if (check.plain_file()) return true;
  *refusal = "it is no plain file of its own: " + check.Describe();
  return false;
}

template <typename Char>
void PutDigits(Char* at, unsigned value, int width) {
  for (int i = width - 1; i >= 0; --i, value /= 10) at[i] = static_cast<Char>('0' + value % 10);
}

LogFileOpening Refused(std::string refusal) {
  LogFileOpening opening;
  opening.refusal = std::move(refusal);
  return opening;
}

}  // namespace

std::wstring TemporaryLogName(const SYSTEMTIME& now, unsigned counter) {
  wchar_t name[] = L"FanServiceSetup_00000000_000.log";
  PutDigits(name + 16, now.wYear, 4);
  PutDigits(name + 20, now.wMonth, 2);
  PutDigits(name + 22, now.wDay, 2);
  PutDigits(name + 25, counter, 3);
  return name;
}

LogFileOpening OpenLogFileAt(const std::wstring& path, const std::wstring& programFolder) {
  std::unique_ptr<wchar_t[]> full(new wchar_t[kLargestPath]);
  wchar_t* namePart = nullptr;
  const DWORD length = GetFullPathNameW(path.c_str(), kLargestPath, full.get(), &namePart);
  if (length == 0 || length >= kLargestPath) return Refused("it is no path: " + ErrorText(GetLastError()));
  if (namePart == nullptr || *namePart == L'\0') return Refused("it names a folder");
  const std::wstring name(namePart);
  LogFolder folder;
  std::string refusal;
  if (!OpenLogFolder(std::wstring(full.get(), static_cast<size_t>(namePart - full.get())), programFolder, &folder,
                     &refusal)) {
    return Refused(std::move(refusal));
  }
  LogFileOpening opening;
  opening.path = JoinPath(folder.path, name);
  // Never replaced by creation: an existing name is opened as itself
  // (FILE_FLAG_OPEN_REPARSE_POINT), checked, and only then emptied; a new one
  // is made only where no name is (CREATE_NEW follows no link, dangling or
  // not).
  bool made = false;
  opening.file.reset(CreateFileW(opening.path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!opening.file) {
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND) return Refused("it cannot be opened: " + ErrorText(error));
    opening.file.reset(CreateFileW(opening.path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                   FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!opening.file) return Refused("it cannot be made: " + ErrorText(GetLastError()));
    made = true;
  }
  if (!CheckLogFile(opening, &refusal)) return Refused(std::move(refusal));
  if (!made && !SetEndOfFile(opening.file.get())) {
    return Refused("it cannot be emptied: " + ErrorText(GetLastError()));
  }
  return opening;
}

LogFileOpening CreateLogFileInTemp(const std::wstring& programFolder) {
  const std::wstring temp = TemporaryFolderForLog();
  if (temp.empty()) return Refused("there is no temporary folder: " + ErrorText(GetLastError()));
  LogFolder folder;
  std::string refusal;
  if (!OpenLogFolder(temp, programFolder, &folder, &refusal)) return Refused(std::move(refusal));
  SYSTEMTIME now;
  GetLocalTime(&now);
  LogFileOpening opening;
  for (unsigned counter = 1; counter <= 999; ++counter) {
    opening.path = JoinPath(folder.path, TemporaryLogName(now, counter));
    opening.file.reset(CreateFileW(opening.path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                   FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (opening.file) break;
    // Only a name already taken (by a file or by a link) is worth another try.
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
      return Refused("it cannot be made in " + Shown(folder.path) + ": " + ErrorText(error));
    }
  }
  if (!opening.file) return Refused("every name of the day is taken in " + Shown(folder.path));
  if (!CheckLogFile(opening, &refusal)) return Refused(std::move(refusal));
  return opening;
}

}  // namespace vantu
