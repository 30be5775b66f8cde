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

#include "fake_win32/control.h"
#include "files.h"
#include "internal.h"

namespace fs = std::filesystem;

namespace fake_win32 {
namespace {

using internal::Enter;
using internal::Ptr;
using internal::Text;

struct Search {
  std::vector<WIN32_FIND_DATAA> entries;
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

WIN32_FIND_DATAA Entry(const std::string& name, const std::string& host) {
  WIN32_FIND_DATAA data{};
  data.dwFileAttributes = HostAttributes(host);
  std::error_code error;
  if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    const auto size = fs::file_size(host, error);
    if (!error) {
      data.nFileSizeLow = static_cast<DWORD>(size & 0xFFFFFFFFu);
      data.nFileSizeHigh = static_cast<DWORD>(size >> 32);
    }
  }
  std::strncpy(data.cFileName, name.c_str(), MAX_PATH - 1);
  return data;
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
  const std::string pattern(fileName);
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
  *findData = search.entries[0];
  search.next = 1;
  const uintptr_t value = internal::NewHandleValue();
  State().searches[value] = std::move(search);
  HANDLE handle = reinterpret_cast<HANDLE>(value);
  internal::Opened("find", handle);
  return handle;
}

BOOL WINAPI FindNextFileA(HANDLE find, LPWIN32_FIND_DATAA findData) {
  if (auto fault = Enter("FindNextFileA", {Ptr(find), Ptr(findData)})) {
    SetLastError(*fault);
    return FALSE;
  }
  auto it = State().searches.find(reinterpret_cast<uintptr_t>(find));
  if (it == State().searches.end() || !findData) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  Search& search = it->second;
  if (search.next >= search.entries.size()) {
    SetLastError(ERROR_NO_MORE_FILES);
    return FALSE;
  }
  *findData = search.entries[search.next++];
  return TRUE;
}

BOOL WINAPI FindClose(HANDLE find) {
  auto fault = Enter("FindClose", {Ptr(find)});
  if (!internal::Closed("find", find)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  State().searches.erase(reinterpret_cast<uintptr_t>(find));
  if (fault) {
    SetLastError(*fault);
    return FALSE;
  }
  return TRUE;
}

BOOL WINAPI CopyFileA(LPCSTR existingFileName, LPCSTR newFileName, BOOL failIfExists) {
  if (auto fault = Enter("CopyFileA", {Text(existingFileName), Text(newFileName), std::to_string(failIfExists)})) {
    SetLastError(*fault);
    return FALSE;
  }
  auto fail = [](DWORD error) {
    SetLastError(error);
    return FALSE;
  };
  if (!existingFileName || !newFileName) return fail(ERROR_INVALID_PARAMETER);
  if (std::strlen(existingFileName) >= MAX_PATH) return fail(ERROR_FILENAME_EXCED_RANGE);
  internal::ResolvedPath source;
  internal::ResolvedPath target;
  if (!internal::Resolve(existingFileName, &source)) return fail(ERROR_PATH_NOT_FOUND);
  if (!internal::Resolve(newFileName, &target)) return fail(ERROR_PATH_NOT_FOUND);
  const DWORD sourceAttributes = HostAttributes(source.host);
  if (sourceAttributes == INVALID_FILE_ATTRIBUTES) {
    return fail(HostAttributes(fs::path(source.host).parent_path().string()) == FILE_ATTRIBUTE_DIRECTORY
                    ? ERROR_FILE_NOT_FOUND
                    : ERROR_PATH_NOT_FOUND);
  }
  if (sourceAttributes & FILE_ATTRIBUTE_DIRECTORY) return fail(ERROR_ACCESS_DENIED);
  if (internal::IsHeld(source)) return fail(ERROR_SHARING_VIOLATION);
  if (HostAttributes(fs::path(target.host).parent_path().string()) != FILE_ATTRIBUTE_DIRECTORY) {
    return fail(ERROR_PATH_NOT_FOUND);
  }
  const DWORD targetAttributes = HostAttributes(target.host);
  if (targetAttributes != INVALID_FILE_ATTRIBUTES) {
    if (targetAttributes & FILE_ATTRIBUTE_DIRECTORY) return fail(ERROR_ACCESS_DENIED);
    if (failIfExists) return fail(ERROR_FILE_EXISTS);
    if (internal::IsHeld(target)) return fail(ERROR_SHARING_VIOLATION);
    if (targetAttributes & FILE_ATTRIBUTE_READONLY) return fail(ERROR_ACCESS_DENIED);
  }
  std::error_code error;
  fs::copy_file(source.host, target.host, fs::copy_options::overwrite_existing, error);
  if (error) return fail(ERROR_ACCESS_DENIED);
  // Attributes travel with the copy, the read-only mark included.
  ::chmod(target.host.c_str(), (sourceAttributes & FILE_ATTRIBUTE_READONLY) ? 0444 : 0644);
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOL WINAPI SetFileAttributesA(LPCSTR fileName, DWORD attributes) {
  if (auto fault = Enter("SetFileAttributesA", {Text(fileName), internal::Hex(attributes)})) {
    SetLastError(*fault);
    return FALSE;
  }
  internal::ResolvedPath resolved;
  if (!fileName || !internal::Resolve(fileName, &resolved)) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  const DWORD current = HostAttributes(resolved.host);
  if (current == INVALID_FILE_ATTRIBUTES) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
  }
  if (!(current & FILE_ATTRIBUTE_DIRECTORY)) {
    ::chmod(resolved.host.c_str(), (attributes & FILE_ATTRIBUTE_READONLY) ? 0444 : 0644);
  }
  return TRUE;
}

DWORD WINAPI GetFileAttributesA(LPCSTR fileName) {
  if (auto fault = Enter("GetFileAttributesA", {Text(fileName)})) {
    SetLastError(*fault);
    return INVALID_FILE_ATTRIBUTES;
  }
  internal::ResolvedPath resolved;
  if (!fileName || !internal::Resolve(fileName, &resolved)) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_FILE_ATTRIBUTES;
  }
  const DWORD attributes = HostAttributes(resolved.host);
  if (attributes == INVALID_FILE_ATTRIBUTES) SetLastError(ERROR_FILE_NOT_FOUND);
  return attributes;
}

HANDLE WINAPI CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                          DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE templateFile) {
  if (auto fault = Enter("CreateFileA", {Text(fileName), internal::Hex(desiredAccess), internal::Hex(shareMode),
                                         Ptr(security), internal::Num(creationDisposition),
                                         internal::Hex(flagsAndAttributes), Ptr(templateFile)})) {
    SetLastError(*fault);
    return INVALID_HANDLE_VALUE;
  }
  auto fail = [](DWORD error) {
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
  };
  // Only what the product does: create a file to write it from the start.
  if (!fileName || desiredAccess != GENERIC_WRITE ||
      (creationDisposition != CREATE_NEW && creationDisposition != CREATE_ALWAYS)) {
    return fail(ERROR_INVALID_PARAMETER);
  }
  if (std::strlen(fileName) >= MAX_PATH) return fail(ERROR_FILENAME_EXCED_RANGE);
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

BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite, LPDWORD bytesWritten, LPVOID overlapped) {
  if (bytesWritten) *bytesWritten = 0;
  if (auto fault = Enter("WriteFile", {Ptr(file), internal::Num(bytesToWrite)})) {
    SetLastError(*fault);
    return FALSE;
  }
  const auto found = State().openFiles.find(reinterpret_cast<uintptr_t>(file));
  if (found == State().openFiles.end() || overlapped || (!buffer && bytesToWrite)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  // Unbuffered, like the platform: what was written is in the file at once.
  const size_t written = bytesToWrite ? std::fwrite(buffer, 1, bytesToWrite, found->second) : 0;
  std::fflush(found->second);
  if (bytesWritten) *bytesWritten = static_cast<DWORD>(written);
  if (written != bytesToWrite) {
    SetLastError(ERROR_DISK_FULL);
    return FALSE;
  }
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

DWORD WINAPI GetTempPathA(DWORD size, LPSTR buffer) {
  if (auto fault = Enter("GetTempPathA", {internal::Num(size)})) {
    SetLastError(*fault);
    return 0;
  }
  static const char kTemp[] = "C:\\windows\\temp\\";
  const DWORD length = static_cast<DWORD>(sizeof kTemp - 1);
  // Too small: the size needed, terminator included, and nothing copied.
  if (!buffer || size <= length) return length + 1;
  std::memcpy(buffer, kTemp, sizeof kTemp);
  return length;
}
