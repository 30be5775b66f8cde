// Files: Windows paths map onto a real host folder made by Reset, so that
// searches and copies run against real directories. Drive X: is the
// sub-folder X; a file is read-only when its owner-write bit is clear.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <system_error>
#include <type_traits>

#include "fake_win32/control.h"
#include "files.h"
#include "internal.h"

namespace fs = std::filesystem;

namespace fake_win32 {
namespace {

using internal::Enter;
using internal::Ptr;
using internal::Text;

// One entry of a search, with its name in UTF-8; each form of the find
// functions hands it out in its own encoding.
struct FoundEntry {
  std::string name;
  DWORD attributes = 0;
  DWORD sizeHigh = 0;
  DWORD sizeLow = 0;
};

struct Search {
  std::vector<FoundEntry> entries;
  size_t next = 0;
};

struct FileState {
  ~FileState() {
    std::error_code ignored;
    if (!hostRoot.empty()) fs::remove_all(hostRoot, ignored);
  }
  std::string hostRoot;
  std::string currentFolder = "C:\\";
  std::set<std::string> held;  // full Windows paths, upper-cased
  std::map<uintptr_t, Search> searches;
  std::map<uintptr_t, std::FILE*> openFiles;  // from CreateFileA, for writing
};

FileState& State() {
  static FileState state;
  return state;
}

std::string Upper(std::string text) {
  for (auto& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// Windows wildcard match, ignoring case. "*.*" matches names without a dot.
// Greedy, going back only to the last '*': at most (mask length) x (name
// length) steps, also for a mask full of '*'.
bool Matches(const char* mask, const char* name) {
  const char* star = nullptr;
  const char* resume = nullptr;
  for (;;) {
    if (std::strcmp(mask, "*.*") == 0) return true;
    if (*mask == '*') {
      star = mask++;
      resume = name;
      continue;
    }
    if (*name && (*mask == '?' || (*mask && std::tolower(static_cast<unsigned char>(*mask)) ==
                                                std::tolower(static_cast<unsigned char>(*name))))) {
      ++mask;
      ++name;
      continue;
    }
    if (!*name && !*mask) return true;
    if (!star || !*resume) return false;
    mask = star + 1;
    name = ++resume;
  }
}

DWORD HostAttributes(const std::string& host) {
  struct stat info {};
  if (::stat(host.c_str(), &info) != 0) return INVALID_FILE_ATTRIBUTES;
  if (S_ISDIR(info.st_mode)) return FILE_ATTRIBUTE_DIRECTORY;
  return (info.st_mode & S_IWUSR) ? FILE_ATTRIBUTE_ARCHIVE : FILE_ATTRIBUTE_READONLY;
}

FoundEntry Entry(const std::string& name, const std::string& host) {
  FoundEntry entry;
  entry.name = name;
  entry.attributes = HostAttributes(host);
  std::error_code error;
  if (!(entry.attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    const auto size = fs::file_size(host, error);
    if (!error) {
      entry.sizeLow = static_cast<DWORD>(size & 0xFFFFFFFFu);
      entry.sizeHigh = static_cast<DWORD>(size >> 32);
    }
  }
  return entry;
}

// Fills a find-data record of either form; a name that does not fit is cut,
// as no name of the subset's tests is that long.
template <typename FindData>
void Fill(const FoundEntry& entry, FindData* data) {
  *data = FindData{};
  data->dwFileAttributes = entry.attributes;
  data->nFileSizeHigh = entry.sizeHigh;
  data->nFileSizeLow = entry.sizeLow;
  using Char = std::remove_reference_t<decltype(data->cFileName[0])>;
  std::basic_string<Char> name;
  if constexpr (std::is_same_v<Char, wchar_t>) {
    name = internal::WideFromUtf8(entry.name);
  } else {
    name = internal::AnsiFromUtf8(entry.name);
  }
  const size_t length = std::min<size_t>(name.size(), MAX_PATH - 1);
  std::copy(name.data(), name.data() + length, data->cFileName);
  data->cFileName[length] = Char(0);
}

}  // namespace

namespace internal {

void ResetFiles() {
  auto& state = State();
  std::error_code ignored;
  if (!state.hostRoot.empty()) fs::remove_all(state.hostRoot, ignored);
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/fake-win32-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (!::mkdtemp(buffer.data())) std::abort();
  state.hostRoot = buffer.data();
  state.currentFolder = "C:\\";
  state.held.clear();
  state.searches.clear();
  for (auto& file : state.openFiles) std::fclose(file.second);
  state.openFiles.clear();
  fs::create_directories(state.hostRoot + "/C/Program Files (x86)");
  fs::create_directories(state.hostRoot + "/C/windows/temp");
}

bool CloseFile(HANDLE handle) {
  auto& files = State().openFiles;
  const auto found = files.find(reinterpret_cast<uintptr_t>(handle));
  if (found == files.end()) return CloseReadFile(handle);
  std::fclose(found->second);
  files.erase(found);
  Closed("file", handle);
  return true;
}

bool Resolve(const std::string& windowsPath, ResolvedPath* out) {
  auto& state = State();
  if (windowsPath.empty()) return false;
  if (windowsPath.size() >= 2 && IsSeparator(windowsPath[0]) && IsSeparator(windowsPath[1])) return false;  // UNC
  char drive;
  std::string rest;
  std::vector<std::string> parts;
  auto push = [&parts](const std::string& text) {
    size_t start = 0;
    while (start <= text.size()) {
      size_t end = start;
      while (end < text.size() && !IsSeparator(text[end])) ++end;
      const std::string part = text.substr(start, end - start);
      if (part == "..") {
        if (!parts.empty()) parts.pop_back();
      } else if (!part.empty() && part != ".") {
        parts.push_back(part);
      }
      start = end + 1;
    }
  };
  const std::string& current = state.currentFolder;
  if (windowsPath.size() >= 2 && windowsPath[1] == ':' && std::isalpha(static_cast<unsigned char>(windowsPath[0]))) {
    drive = static_cast<char>(std::toupper(static_cast<unsigned char>(windowsPath[0])));
    rest = windowsPath.substr(2);
    if (rest.empty() || !IsSeparator(rest[0])) {
      // Drive-relative: from the current folder when it is on that drive.
      if (std::toupper(static_cast<unsigned char>(current[0])) == drive) push(current.substr(2));
    }
  } else {
    drive = static_cast<char>(std::toupper(static_cast<unsigned char>(current[0])));
    rest = windowsPath;
    if (!IsSeparator(rest[0])) push(current.substr(2));
  }
  push(rest);
  out->full = std::string(1, drive) + ":";
  out->host = state.hostRoot + "/" + std::string(1, drive);
  for (const auto& part : parts) {
    out->full += "\\" + part;
    out->host += "/" + part;
  }
  if (parts.empty()) out->full += "\\";
  out->isDriveRoot = parts.empty();
  return true;
}

bool IsHeld(const ResolvedPath& path) { return State().held.count(Upper(path.full)) != 0; }

DWORD AttributesOf(const std::string& windowsPath) {
  ResolvedPath resolved;
  if (!Resolve(windowsPath, &resolved)) return INVALID_FILE_ATTRIBUTES;
  return HostAttributes(resolved.host);
}

}  // namespace internal

std::string HostPath(const std::string& windowsPath) {
  internal::ResolvedPath resolved;
  if (!internal::Resolve(windowsPath, &resolved)) return std::string();
  return resolved.host;
}

std::string ProgramFilesFolder() { return "C:\\Program Files (x86)"; }
std::string WindowsFolder() { return "C:\\windows"; }

void SetCurrentFolder(const std::string& path) {
  internal::ResolvedPath resolved;
  if (internal::Resolve(path, &resolved)) State().currentFolder = resolved.full;
}

void HoldOpen(const std::string& windowsPath) {
  internal::ResolvedPath resolved;
  if (internal::Resolve(windowsPath, &resolved)) State().held.insert(Upper(resolved.full));
}

void LetGo(const std::string& windowsPath) {
  internal::ResolvedPath resolved;
  if (internal::Resolve(windowsPath, &resolved)) State().held.erase(Upper(resolved.full));
}

}  // namespace fake_win32

namespace fake_win32 {
namespace {

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

// The search behind FindFirstFile: `pattern` is UTF-8.
HANDLE FindFirst(const std::string& pattern, const FoundEntry** first) {
  if (pattern.size() >= MAX_PATH) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return INVALID_HANDLE_VALUE;
  }
  size_t cut = pattern.find_last_of("\\/");
  std::string folder;
  std::string mask;
  if (cut != std::string::npos) {
    folder = pattern.substr(0, cut + 1);
    mask = pattern.substr(cut + 1);
  } else if (pattern.size() >= 2 && pattern[1] == ':') {
    folder = pattern.substr(0, 2);
    mask = pattern.substr(2);
  } else {
    folder = ".";
    mask = pattern;
  }
  internal::ResolvedPath resolved;
  if (mask.empty() || !internal::Resolve(folder, &resolved) || HostAttributes(resolved.host) != FILE_ATTRIBUTE_DIRECTORY) {
    SetLastError(mask.empty() ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  Search search;
  std::vector<std::string> names;
  if (!resolved.isDriveRoot) {
    names.push_back(".");
    names.push_back("..");
  }
  std::vector<std::string> listed;
  std::error_code error;
  for (const auto& item : fs::directory_iterator(resolved.host, error)) listed.push_back(item.path().filename().string());
  std::sort(listed.begin(), listed.end());
  names.insert(names.end(), listed.begin(), listed.end());
  for (const auto& name : names) {
    if (Matches(mask.c_str(), name.c_str())) search.entries.push_back(Entry(name, resolved.host + "/" + name));
  }
  if (search.entries.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  search.next = 1;
  const uintptr_t value = internal::NewHandleValue();
  auto& stored = State().searches[value];
  stored = std::move(search);
  *first = &stored.entries[0];
  HANDLE handle = reinterpret_cast<HANDLE>(value);
  internal::Opened("find", handle);
  return handle;
}

const FoundEntry* FindNext(HANDLE find) {
  auto it = State().searches.find(reinterpret_cast<uintptr_t>(find));
  if (it == State().searches.end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  Search& search = it->second;
  if (search.next >= search.entries.size()) {
    SetLastError(ERROR_NO_MORE_FILES);
    return nullptr;
  }
  return &search.entries[search.next++];
}

// Paths are UTF-8 here; `length` is the path's length in the caller's
// characters, which is what MAX_PATH limits.
BOOL Copy(const std::string& existingFileName, size_t existingLength, const std::string& newFileName,
          BOOL failIfExists) {
  if (existingLength >= MAX_PATH) return Fail(ERROR_FILENAME_EXCED_RANGE);
  internal::ResolvedPath source;
  internal::ResolvedPath target;
  if (!internal::Resolve(existingFileName, &source)) return Fail(ERROR_PATH_NOT_FOUND);
  if (!internal::Resolve(newFileName, &target)) return Fail(ERROR_PATH_NOT_FOUND);
  const DWORD sourceAttributes = HostAttributes(source.host);
  if (sourceAttributes == INVALID_FILE_ATTRIBUTES) {
    return Fail(HostAttributes(fs::path(source.host).parent_path().string()) == FILE_ATTRIBUTE_DIRECTORY
                    ? ERROR_FILE_NOT_FOUND
                    : ERROR_PATH_NOT_FOUND);
  }
  if (sourceAttributes & FILE_ATTRIBUTE_DIRECTORY) return Fail(ERROR_ACCESS_DENIED);
  if (internal::IsHeld(source)) return Fail(ERROR_SHARING_VIOLATION);
  if (HostAttributes(fs::path(target.host).parent_path().string()) != FILE_ATTRIBUTE_DIRECTORY) {
    return Fail(ERROR_PATH_NOT_FOUND);
  }
  const DWORD targetAttributes = HostAttributes(target.host);
  if (targetAttributes != INVALID_FILE_ATTRIBUTES) {
    if (targetAttributes & FILE_ATTRIBUTE_DIRECTORY) return Fail(ERROR_ACCESS_DENIED);
    if (failIfExists) return Fail(ERROR_FILE_EXISTS);
    if (internal::IsHeld(target)) return Fail(ERROR_SHARING_VIOLATION);
    if (targetAttributes & FILE_ATTRIBUTE_READONLY) return Fail(ERROR_ACCESS_DENIED);
  }
  std::error_code error;
  fs::copy_file(source.host, target.host, fs::copy_options::overwrite_existing, error);
  if (error) return Fail(ERROR_ACCESS_DENIED);
  // Attributes travel with the copy, the read-only mark included.
  ::chmod(target.host.c_str(), (sourceAttributes & FILE_ATTRIBUTE_READONLY) ? 0444 : 0644);
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOL SetAttributes(const std::string& fileName, DWORD attributes) {
  internal::ResolvedPath resolved;
  if (!internal::Resolve(fileName, &resolved)) return Fail(ERROR_PATH_NOT_FOUND);
  const DWORD current = HostAttributes(resolved.host);
  if (current == INVALID_FILE_ATTRIBUTES) return Fail(ERROR_FILE_NOT_FOUND);
  if (!(current & FILE_ATTRIBUTE_DIRECTORY)) {
    ::chmod(resolved.host.c_str(), (attributes & FILE_ATTRIBUTE_READONLY) ? 0444 : 0644);
  }
  return TRUE;
}

DWORD GetAttributes(const std::string& fileName) {
  internal::ResolvedPath resolved;
  if (!internal::Resolve(fileName, &resolved)) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_FILE_ATTRIBUTES;
  }
  const DWORD attributes = HostAttributes(resolved.host);
  if (attributes == INVALID_FILE_ATTRIBUTES) SetLastError(ERROR_FILE_NOT_FOUND);
  return attributes;
}

HANDLE CreateForWriting(const std::string& fileName, size_t length, DWORD desiredAccess, DWORD creationDisposition) {
  auto fail = [](DWORD error) {
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
  };
  // Only what the product does: create a file to write it from the start.
  if (desiredAccess != GENERIC_WRITE || (creationDisposition != CREATE_NEW && creationDisposition != CREATE_ALWAYS)) {
    return fail(ERROR_INVALID_PARAMETER);
  }
  if (length >= MAX_PATH) return fail(ERROR_FILENAME_EXCED_RANGE);
  internal::ResolvedPath path;
  if (!internal::Resolve(fileName, &path)) return fail(ERROR_PATH_NOT_FOUND);
  if (HostAttributes(fs::path(path.host).parent_path().string()) != FILE_ATTRIBUTE_DIRECTORY) {
    return fail(ERROR_PATH_NOT_FOUND);
  }
  const DWORD attributes = HostAttributes(path.host);
  const bool existed = attributes != INVALID_FILE_ATTRIBUTES;
  if (existed && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return fail(ERROR_ACCESS_DENIED);
  if (existed && creationDisposition == CREATE_NEW) return fail(ERROR_FILE_EXISTS);
  if (existed && internal::IsHeld(path)) return fail(ERROR_SHARING_VIOLATION);
  if (existed && (attributes & FILE_ATTRIBUTE_READONLY)) return fail(ERROR_ACCESS_DENIED);
  std::FILE* file = std::fopen(path.host.c_str(), "wb");
  if (!file) return fail(ERROR_ACCESS_DENIED);
  const uintptr_t value = internal::NewHandleValue();
  State().openFiles[value] = file;
  HANDLE handle = reinterpret_cast<HANDLE>(value);
  internal::Opened("file", handle);
  // As on Windows: CREATE_ALWAYS over an existing file succeeds and says so.
  SetLastError(existed && creationDisposition == CREATE_ALWAYS ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return handle;
}

constexpr char kTempFolder[] = "C:\\windows\\temp\\";

// Too small: the size needed, terminator included, and nothing copied.
template <typename Char>
DWORD CopyTempPath(DWORD size, Char* buffer) {
  const DWORD length = static_cast<DWORD>(sizeof kTempFolder - 1);
  if (!buffer || size <= length) return length + 1;
  std::copy(kTempFolder, kTempFolder + sizeof kTempFolder, buffer);
  return length;
}

}  // namespace
}  // namespace fake_win32

using namespace fake_win32;

HANDLE WINAPI FindFirstFileA(LPCSTR fileName, LPWIN32_FIND_DATAA findData) {
  if (auto fault = Enter("FindFirstFileA", {Text(fileName), Ptr(findData)})) {
    SetLastError(*fault);
    return INVALID_HANDLE_VALUE;
  }
  if (!fileName || !findData) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  if (std::strlen(fileName) >= MAX_PATH) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return INVALID_HANDLE_VALUE;
  }
  const FoundEntry* first = nullptr;
  const HANDLE handle = FindFirst(internal::Utf8FromAnsi(fileName), &first);
  if (first) Fill(*first, findData);
  return handle;
}

HANDLE WINAPI FindFirstFileW(LPCWSTR fileName, LPWIN32_FIND_DATAW findData) {
  if (auto fault = Enter("FindFirstFileW", {Text(fileName), Ptr(findData)})) {
    SetLastError(*fault);
    return INVALID_HANDLE_VALUE;
  }
  if (!fileName || !findData) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  if (std::wcslen(fileName) >= MAX_PATH) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return INVALID_HANDLE_VALUE;
  }
  const FoundEntry* first = nullptr;
  const HANDLE handle = FindFirst(Text(fileName), &first);
  if (first) Fill(*first, findData);
  return handle;
}

BOOL WINAPI FindNextFileA(HANDLE find, LPWIN32_FIND_DATAA findData) {
  if (auto fault = Enter("FindNextFileA", {Ptr(find), Ptr(findData)})) return Fail(*fault);
  if (!findData) return Fail(ERROR_INVALID_HANDLE);
  const FoundEntry* next = FindNext(find);
  if (!next) return FALSE;
  Fill(*next, findData);
  return TRUE;
}

BOOL WINAPI FindNextFileW(HANDLE find, LPWIN32_FIND_DATAW findData) {
  if (auto fault = Enter("FindNextFileW", {Ptr(find), Ptr(findData)})) return Fail(*fault);
  if (!findData) return Fail(ERROR_INVALID_HANDLE);
  const FoundEntry* next = FindNext(find);
  if (!next) return FALSE;
  Fill(*next, findData);
  return TRUE;
}

BOOL WINAPI FindClose(HANDLE find) {
  auto fault = Enter("FindClose", {Ptr(find)});
  if (!internal::Closed("find", find)) return Fail(ERROR_INVALID_HANDLE);
  State().searches.erase(reinterpret_cast<uintptr_t>(find));
  if (fault) return Fail(*fault);
  return TRUE;
}

BOOL WINAPI CopyFileA(LPCSTR existingFileName, LPCSTR newFileName, BOOL failIfExists) {
  if (auto fault = Enter("CopyFileA", {Text(existingFileName), Text(newFileName), std::to_string(failIfExists)})) {
    return Fail(*fault);
  }
  if (!existingFileName || !newFileName) return Fail(ERROR_INVALID_PARAMETER);
  return Copy(internal::Utf8FromAnsi(existingFileName), std::strlen(existingFileName),
              internal::Utf8FromAnsi(newFileName), failIfExists);
}

BOOL WINAPI CopyFileW(LPCWSTR existingFileName, LPCWSTR newFileName, BOOL failIfExists) {
  if (auto fault = Enter("CopyFileW", {Text(existingFileName), Text(newFileName), std::to_string(failIfExists)})) {
    return Fail(*fault);
  }
  if (!existingFileName || !newFileName) return Fail(ERROR_INVALID_PARAMETER);
  return Copy(Text(existingFileName), std::wcslen(existingFileName), Text(newFileName), failIfExists);
}

BOOL WINAPI SetFileAttributesA(LPCSTR fileName, DWORD attributes) {
  if (auto fault = Enter("SetFileAttributesA", {Text(fileName), internal::Hex(attributes)})) return Fail(*fault);
  if (!fileName) return Fail(ERROR_PATH_NOT_FOUND);
  return SetAttributes(internal::Utf8FromAnsi(fileName), attributes);
}

BOOL WINAPI SetFileAttributesW(LPCWSTR fileName, DWORD attributes) {
  if (auto fault = Enter("SetFileAttributesW", {Text(fileName), internal::Hex(attributes)})) return Fail(*fault);
  if (!fileName) return Fail(ERROR_PATH_NOT_FOUND);
  return SetAttributes(Text(fileName), attributes);
}

DWORD WINAPI GetFileAttributesA(LPCSTR fileName) {
  if (auto fault = Enter("GetFileAttributesA", {Text(fileName)})) {
    SetLastError(*fault);
    return INVALID_FILE_ATTRIBUTES;
  }
  if (!fileName) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_FILE_ATTRIBUTES;
  }
  return GetAttributes(internal::Utf8FromAnsi(fileName));
}

DWORD WINAPI GetFileAttributesW(LPCWSTR fileName) {
  if (auto fault = Enter("GetFileAttributesW", {Text(fileName)})) {
    SetLastError(*fault);
    return INVALID_FILE_ATTRIBUTES;
  }
  if (!fileName) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_FILE_ATTRIBUTES;
  }
  return GetAttributes(Text(fileName));
}

HANDLE WINAPI CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                          DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE templateFile) {
  if (auto fault = Enter("CreateFileA", {Text(fileName), internal::Hex(desiredAccess), internal::Hex(shareMode),
                                         Ptr(security), internal::Num(creationDisposition),
                                         internal::Hex(flagsAndAttributes), Ptr(templateFile)})) {
    SetLastError(*fault);
    return INVALID_HANDLE_VALUE;
  }
  if (!fileName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  return CreateForWriting(internal::Utf8FromAnsi(fileName), std::strlen(fileName), desiredAccess,
                          creationDisposition);
}

HANDLE WINAPI CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                          DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE templateFile) {
  if (auto fault = Enter("CreateFileW", {Text(fileName), internal::Hex(desiredAccess), internal::Hex(shareMode),
                                         Ptr(security), internal::Num(creationDisposition),
                                         internal::Hex(flagsAndAttributes), Ptr(templateFile)})) {
    SetLastError(*fault);
    return INVALID_HANDLE_VALUE;
  }
  if (!fileName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  if (desiredAccess == GENERIC_READ) {
    return internal::OpenForReading(Text(fileName), std::wcslen(fileName), desiredAccess, shareMode,
                                    creationDisposition, flagsAndAttributes, templateFile);
  }
  return CreateForWriting(Text(fileName), std::wcslen(fileName), desiredAccess, creationDisposition);
}

BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite, LPDWORD bytesWritten, LPVOID overlapped) {
  if (bytesWritten) *bytesWritten = 0;
  if (auto fault = Enter("WriteFile", {Ptr(file), internal::Num(bytesToWrite)})) return Fail(*fault);
  if (buffer && internal::WriteStandard(file, buffer, bytesToWrite)) {
    if (bytesWritten) *bytesWritten = bytesToWrite;
    return TRUE;
  }
  const auto found = State().openFiles.find(reinterpret_cast<uintptr_t>(file));
  if (found == State().openFiles.end() || overlapped || (!buffer && bytesToWrite)) return Fail(ERROR_INVALID_HANDLE);
  // Unbuffered, like the platform: what was written is in the file at once.
  const size_t written = bytesToWrite ? std::fwrite(buffer, 1, bytesToWrite, found->second) : 0;
  std::fflush(found->second);
  if (bytesWritten) *bytesWritten = static_cast<DWORD>(written);
  if (written != bytesToWrite) return Fail(ERROR_DISK_FULL);
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

DWORD WINAPI GetTempPathA(DWORD size, LPSTR buffer) {
  if (auto fault = Enter("GetTempPathA", {internal::Num(size)})) {
    SetLastError(*fault);
    return 0;
  }
  return CopyTempPath(size, buffer);
}

DWORD WINAPI GetTempPathW(DWORD size, LPWSTR buffer) {
  if (auto fault = Enter("GetTempPathW", {internal::Num(size)})) {
    SetLastError(*fault);
    return 0;
  }
  return CopyTempPath(size, buffer);
}
