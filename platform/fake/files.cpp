// Files: Windows paths map onto a real host folder made by Reset, so that
// searches and copies run against real directories. Drive X: is the
// sub-folder X; a file is read-only when its owner-write bit is clear.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <cstdio>
#include <cwchar>
#include <filesystem>
#include <map>
#include <optional>
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
  DWORD reparseTag = 0;
};

struct Search {
  std::vector<FoundEntry> entries;
  size_t next = 0;
};

// Which file a handle is open on: the host's device and inode.
struct FileIdentity {
  uint64_t device = 0;
  uint64_t inode = 0;
  bool operator==(const FileIdentity& other) const { return device == other.device && inode == other.inode; }
};

// A handle from CreateFile.
struct OpenedFile {
  std::FILE* data = nullptr;  // for writing; null for a folder, a reparse point or a handle that reads
  int reader = -1;            // for reading a file (GENERIC_READ); -1 otherwise
  std::string host;           // the host path of what is open (a link itself, or what it leads to)
  bool linkItself = false;    // a reparse point opened as such
  DWORD filterTag = 0;        // a file a filter keeps: its tag, which its handle shows
  bool deleteOnClose = false;  // FileDispositionInfo
  FileIdentity identity;
  DWORD access = 0;
  DWORD share = 0;
};

struct FileState {
  ~FileState() {
    std::error_code ignored;
    if (!hostRoot.empty()) fs::remove_all(hostRoot, ignored);
  }
  std::string hostRoot;
  std::string canonicalRoot;  // hostRoot with every link of the host resolved
  std::string currentFolder = "C:\\";
  std::set<std::string> held;  // full Windows paths, upper-cased
  std::map<std::string, DWORD> reparseTags;  // host paths of links made as reparse points
  std::map<std::string, DWORD> filterTags;   // host paths of files that a filter keeps
  std::map<uintptr_t, Search> searches;
  std::map<uintptr_t, OpenedFile> openFiles;
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

bool IsHostLink(const std::string& host) {
  struct stat info {};
  return ::lstat(host.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

// A link's own place, whatever path led to it: its folder with every link
// resolved, and its name.
std::string LinkKey(const std::string& host) {
  const fs::path path(host);
  std::error_code error;
  const fs::path folder = fs::weakly_canonical(path.parent_path(), error);
  return (error ? path.parent_path() : folder).string() + "/" + path.filename().string();
}

// The reparse tag a link was made with; nullopt for a plain Unix link.
std::optional<DWORD> ReparseTagOf(const std::string& host) {
  const auto& tags = State().reparseTags;
  const auto found = tags.find(LinkKey(host));
  if (found == tags.end() || !IsHostLink(host)) return std::nullopt;
  return found->second;
}

// The tag of a file that a filter keeps; 0 for any other.
DWORD FilterTagOf(const std::string& host) {
  const auto& tags = State().filterTags;
  const auto found = tags.find(LinkKey(host));
  return found == tags.end() || IsHostLink(host) ? 0 : found->second;
}

// Whether a filter of this platform handles the tag, and opens the file's
// data for a caller that does not ask for the reparse point itself.
bool FilterHandles(DWORD tag) {
  return (tag & 0xFFFF0FFFu) == 0x9000001Au || tag == 0x80000013u || tag == 0x80000018u || tag == 0x90001018u;
}

// The attributes of a reparse point itself: a folder when it leads to one
// or is a mount point.
DWORD ReparsePointAttributes(const std::string& host, DWORD tag) {
  const bool folder = tag == IO_REPARSE_TAG_MOUNT_POINT || HostAttributes(host) == FILE_ATTRIBUTE_DIRECTORY;
  return FILE_ATTRIBUTE_REPARSE_POINT | (folder ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE);
}

// False for a name that the search does not show (a dangling Unix link, as
// Wine leaves it out).
bool Entry(const std::string& name, const std::string& host, FoundEntry* out) {
  FoundEntry entry;
  entry.name = name;
  if (const auto tag = ReparseTagOf(host)) {
    entry.attributes = ReparsePointAttributes(host, *tag);
    entry.reparseTag = *tag;
    *out = entry;
    return true;
  }
  entry.attributes = HostAttributes(host);
  if (entry.attributes == INVALID_FILE_ATTRIBUTES) return false;
  if (const DWORD filter = FilterTagOf(host)) {
    entry.attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    entry.reparseTag = filter;
  }
  if (IsHostLink(host) && (entry.attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    entry.attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
  }
  std::error_code error;
  if (!(entry.attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    const auto size = fs::file_size(host, error);
    if (!error) {
      entry.sizeLow = static_cast<DWORD>(size & 0xFFFFFFFFu);
      entry.sizeHigh = static_cast<DWORD>(size >> 32);
    }
  }
  *out = entry;
  return true;
}

// Fills a find-data record of either form; a name that does not fit is cut,
// as no name of the subset's tests is that long.
template <typename FindData>
void Fill(const FoundEntry& entry, FindData* data) {
  *data = FindData{};
  data->dwFileAttributes = entry.attributes;
  data->nFileSizeHigh = entry.sizeHigh;
  data->nFileSizeLow = entry.sizeLow;
  data->dwReserved0 = entry.reparseTag;
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
  state.reparseTags.clear();
  state.filterTags.clear();
  state.searches.clear();
  for (auto& file : state.openFiles) {
    if (file.second.data) std::fclose(file.second.data);
    if (file.second.reader >= 0) ::close(file.second.reader);
  }
  state.openFiles.clear();
  fs::create_directories(state.hostRoot + "/C/Program Files (x86)");
  fs::create_directories(state.hostRoot + "/C/windows/temp");
  // The same folder on Windows, where names ignore case: %SystemRoot%\Temp
  // as the product names it.
  fs::create_directories(state.hostRoot + "/C/windows/Temp");
  fs::create_directories(state.hostRoot + "/C/windows/SystemTemp");
  std::error_code error;
  state.canonicalRoot = fs::canonical(state.hostRoot, error).string();
  if (error) state.canonicalRoot = state.hostRoot;
}

bool CloseFile(HANDLE handle) {
  auto& files = State().openFiles;
  const auto found = files.find(reinterpret_cast<uintptr_t>(handle));
  if (found == files.end()) return false;
  if (found->second.data) std::fclose(found->second.data);
  if (found->second.reader >= 0) ::close(found->second.reader);
  if (found->second.deleteOnClose) ::unlink(found->second.host.c_str());
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

bool IdOfPath(const std::string& windowsPath, FileId* id) {
  ResolvedPath resolved;
  struct stat info {};
  if (!Resolve(windowsPath, &resolved) || ::stat(resolved.host.c_str(), &info) != 0) return false;
  *id = FileId{static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino)};
  return true;
}

bool IdOfHandle(HANDLE handle, FileId* id) {
  const auto& files = State().openFiles;
  const auto found = files.find(reinterpret_cast<uintptr_t>(handle));
  if (found == files.end()) return false;
  *id = FileId{found->second.identity.device, found->second.identity.inode};
  return true;
}

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

void MakeLink(const std::string& windowsPath, const std::string& target, DWORD reparseTag) {
  internal::ResolvedPath link;
  internal::ResolvedPath to;
  if (!internal::Resolve(windowsPath, &link) || !internal::Resolve(target, &to)) std::abort();
  std::error_code error;
  fs::create_symlink(to.host, link.host, error);
  if (error) std::abort();
  if (reparseTag) State().reparseTags[LinkKey(link.host)] = reparseTag;
}

void SetFilterTag(const std::string& windowsPath, DWORD reparseTag) {
  internal::ResolvedPath path;
  if (!internal::Resolve(windowsPath, &path) || HostAttributes(path.host) == INVALID_FILE_ATTRIBUTES) std::abort();
  State().filterTags[LinkKey(path.host)] = reparseTag;
}

void MakeHardLink(const std::string& windowsPath, const std::string& existing) {
  internal::ResolvedPath link;
  internal::ResolvedPath to;
  if (!internal::Resolve(windowsPath, &link) || !internal::Resolve(existing, &to)) std::abort();
  std::error_code error;
  fs::create_hard_link(to.host, link.host, error);
  if (error) std::abort();
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
    FoundEntry entry;
    if (Matches(mask.c_str(), name.c_str()) && Entry(name, resolved.host + "/" + name, &entry)) {
      search.entries.push_back(entry);
    }
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

bool IdentityOf(const std::string& host, bool linkItself, FileIdentity* identity) {
  struct stat info {};
  if ((linkItself ? ::lstat(host.c_str(), &info) : ::stat(host.c_str(), &info)) != 0) return false;
  identity->device = static_cast<uint64_t>(info.st_dev);
  identity->inode = static_cast<uint64_t>(info.st_ino);
  return true;
}

constexpr DWORD kReadAccess = GENERIC_READ | FILE_READ_DATA | FILE_EXECUTE;
constexpr DWORD kWriteAccess = GENERIC_WRITE | FILE_WRITE_DATA | FILE_APPEND_DATA;
constexpr DWORD kDeleteAccess = DELETE;

// Whether an open for `access` with `share` may join the handles open on the
// file now, by Windows' rule: each side's data access must be allowed by the
// other side's share mode. Opens that ask for no data (attributes only) take
// no part.
bool SharingAllows(const FileIdentity& identity, DWORD access, DWORD share) {
  auto allows = [](DWORD wanted, DWORD granted) {
    return !((wanted & kReadAccess) && !(granted & FILE_SHARE_READ)) &&
           !((wanted & kWriteAccess) && !(granted & FILE_SHARE_WRITE)) &&
           !((wanted & kDeleteAccess) && !(granted & FILE_SHARE_DELETE));
  };
  constexpr DWORD kData = kReadAccess | kWriteAccess | kDeleteAccess;
  if (!(access & kData)) return true;
  for (const auto& [value, open] : State().openFiles) {
    (void)value;
    if (!(open.identity == identity) || !(open.access & kData)) continue;
    if (!allows(access, open.share) || !allows(open.access, share)) return false;
  }
  return true;
}

bool SharingAllows(const std::string& host, DWORD access, DWORD share) {
  FileIdentity identity;
  return !IdentityOf(host, false, &identity) || SharingAllows(identity, access, share);
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
  // The source is read as Wine's CopyFile opens it: reading, sharing
  // reading and deletion.
  if (internal::IsHeld(source) || !SharingAllows(source.host, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE)) {
    return Fail(ERROR_SHARING_VIOLATION);
  }
  if (HostAttributes(fs::path(target.host).parent_path().string()) != FILE_ATTRIBUTE_DIRECTORY) {
    return Fail(ERROR_PATH_NOT_FOUND);
  }
  const DWORD targetAttributes = HostAttributes(target.host);
  if (targetAttributes != INVALID_FILE_ATTRIBUTES) {
    if (targetAttributes & FILE_ATTRIBUTE_DIRECTORY) return Fail(ERROR_ACCESS_DENIED);
    if (failIfExists) return Fail(ERROR_FILE_EXISTS);
    if (internal::IsHeld(target) || !SharingAllows(target.host, GENERIC_WRITE, 0)) {
      return Fail(ERROR_SHARING_VIOLATION);
    }
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

// CreateFile on a UTF-8 path. Data is written only; a handle for reading
// stands for the file without reading it.
HANDLE OpenFile(const std::string& fileName, size_t length, DWORD desiredAccess, DWORD shareMode,
                DWORD creationDisposition, DWORD flags) {
  auto fail = [](DWORD error) {
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
  };
  if (creationDisposition < CREATE_NEW || creationDisposition > OPEN_ALWAYS) return fail(ERROR_INVALID_PARAMETER);
  if (length >= MAX_PATH) return fail(ERROR_FILENAME_EXCED_RANGE);
  internal::ResolvedPath path;
  if (!internal::Resolve(fileName, &path)) return fail(ERROR_PATH_NOT_FOUND);
  if (!path.isDriveRoot && HostAttributes(fs::path(path.host).parent_path().string()) != FILE_ATTRIBUTE_DIRECTORY) {
    return fail(ERROR_PATH_NOT_FOUND);
  }
  const bool wantsWrite = (desiredAccess & kWriteAccess) != 0;
  const std::optional<DWORD> tag = ReparseTagOf(path.host);
  const bool linkItself = tag && (flags & FILE_FLAG_OPEN_REPARSE_POINT);
  // A name taken by anything, a dangling link included, exists for CREATE_NEW.
  const bool nameTaken = IsHostLink(path.host) || HostAttributes(path.host) != INVALID_FILE_ATTRIBUTES;
  const DWORD attributes =
      linkItself ? ReparsePointAttributes(path.host, *tag) : HostAttributes(path.host);
  const bool existed = attributes != INVALID_FILE_ATTRIBUTES;
  if (existed && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    // A folder opens only with backup semantics, and never for writing.
    if (!(flags & FILE_FLAG_BACKUP_SEMANTICS) || wantsWrite || creationDisposition == CREATE_ALWAYS) {
      return fail(ERROR_ACCESS_DENIED);
    }
  }
  if (nameTaken && creationDisposition == CREATE_NEW) return fail(ERROR_FILE_EXISTS);
  if (!existed && creationDisposition == OPEN_EXISTING) return fail(ERROR_FILE_NOT_FOUND);
  if (existed && internal::IsHeld(path)) return fail(ERROR_SHARING_VIOLATION);
  if (existed && wantsWrite && (attributes & FILE_ATTRIBUTE_READONLY)) return fail(ERROR_ACCESS_DENIED);
  const DWORD filterTag = existed && !linkItself ? FilterTagOf(path.host) : 0;
  if (filterTag && !(flags & FILE_FLAG_OPEN_REPARSE_POINT) && !FilterHandles(filterTag)) {
    return fail(ERROR_CANT_ACCESS_FILE);
  }
  FileIdentity identity;
  if (existed && IdentityOf(path.host, linkItself, &identity) && !SharingAllows(identity, desiredAccess, shareMode)) {
    return fail(ERROR_SHARING_VIOLATION);
  }
  OpenedFile open;
  open.host = path.host;
  open.linkItself = linkItself;
  open.filterTag = filterTag;
  open.access = desiredAccess;
  open.share = shareMode;
  const bool truncate = creationDisposition == CREATE_ALWAYS || creationDisposition == CREATE_NEW;
  if (wantsWrite && !linkItself) {
    open.data = std::fopen(path.host.c_str(), truncate || !existed ? "wb" : "r+b");
    if (!open.data) return fail(ERROR_ACCESS_DENIED);
  } else if (!existed) {
    std::FILE* made = std::fopen(path.host.c_str(), "wb");
    if (!made) return fail(ERROR_ACCESS_DENIED);
    std::fclose(made);
  }
  if ((desiredAccess & GENERIC_READ) && !linkItself && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    open.reader = ::open(path.host.c_str(), O_RDONLY | O_CLOEXEC);
    if (open.reader < 0) {
      if (open.data) std::fclose(open.data);
      return fail(ERROR_ACCESS_DENIED);
    }
  }
  IdentityOf(path.host, linkItself, &open.identity);
  const uintptr_t value = internal::NewHandleValue();
  State().openFiles[value] = open;
  HANDLE handle = reinterpret_cast<HANDLE>(value);
  internal::Opened("file", handle);
  // As on Windows: CREATE_ALWAYS or OPEN_ALWAYS over an existing file
  // succeeds and says so.
  const bool opensExisting = creationDisposition == CREATE_ALWAYS || creationDisposition == OPEN_ALWAYS;
  SetLastError(existed && opensExisting ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return handle;
}

OpenedFile* FindOpenFile(HANDLE handle) {
  auto& files = State().openFiles;
  const auto found = files.find(reinterpret_cast<uintptr_t>(handle));
  return found == files.end() ? nullptr : &found->second;
}

// The Windows path of a host path: below the platform's root on its drive,
// elsewhere on Z:, as Wine shows the host's root.
std::string WindowsPathOfHost(const std::string& host) {
  const std::string& root = State().canonicalRoot;
  std::string windows;
  if (host.size() > root.size() + 1 && host.compare(0, root.size(), root) == 0 && host[root.size()] == '/') {
    const std::string rest = host.substr(root.size() + 1);  // "C/a/b"
    const size_t slash = rest.find('/');
    windows = rest.substr(0, slash) + ":" + (slash == std::string::npos ? std::string("\\") : rest.substr(slash));
  } else {
    windows = "Z:" + host;
  }
  std::replace(windows.begin(), windows.end(), '/', '\\');
  return windows;
}

// What a handle is open on, every link resolved (but a link opened as itself).
std::string FinalWindowsPath(const OpenedFile& open) {
  std::error_code error;
  fs::path resolved;
  if (open.linkItself) {
    const fs::path path(open.host);
    resolved = fs::weakly_canonical(path.parent_path(), error) / path.filename();
  } else {
    resolved = fs::weakly_canonical(open.host, error);
  }
  return WindowsPathOfHost((error ? fs::path(open.host) : resolved).string());
}

constexpr char kTempFolder[] = "C:\\windows\\temp\\";
constexpr char kSystemTempFolder[] = "C:\\windows\\SystemTemp\\";

// Too small: the size needed, terminator included, and nothing copied.
template <typename Char, size_t N>
DWORD CopyTempPath(const char (&folder)[N], DWORD size, Char* buffer) {
  const DWORD length = static_cast<DWORD>(N - 1);
  if (!buffer || size <= length) return length + 1;
  std::copy(folder, folder + N, buffer);
  return length;
}

}  // namespace
}  // namespace fake_win32

using namespace fake_win32;

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
  return OpenFile(Text(fileName), std::wcslen(fileName), desiredAccess, shareMode, creationDisposition,
                  flagsAndAttributes);
}

BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite, LPDWORD bytesWritten, LPVOID overlapped) {
  if (bytesWritten) *bytesWritten = 0;
  if (auto fault = Enter("WriteFile", {Ptr(file), internal::Num(bytesToWrite)})) return Fail(*fault);
  if (buffer && internal::WriteStandard(file, buffer, bytesToWrite)) {
    if (bytesWritten) *bytesWritten = bytesToWrite;
    return TRUE;
  }
  OpenedFile* open = FindOpenFile(file);
  if (!open || overlapped || (!buffer && bytesToWrite)) return Fail(ERROR_INVALID_HANDLE);
  if (!open->data) return Fail(ERROR_ACCESS_DENIED);  // not open for writing
  // Unbuffered, like the platform: what was written is in the file at once.
  const size_t written = bytesToWrite ? std::fwrite(buffer, 1, bytesToWrite, open->data) : 0;
  std::fflush(open->data);
  if (bytesWritten) *bytesWritten = static_cast<DWORD>(written);
  if (written != bytesToWrite) return Fail(ERROR_DISK_FULL);
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

DWORD WINAPI GetTempPathW(DWORD size, LPWSTR buffer) {
  if (auto fault = Enter("GetTempPathW", {internal::Num(size)})) {
    SetLastError(*fault);
    return 0;
  }
  return CopyTempPath(kTempFolder, size, buffer);
}

namespace fake_win32::internal {

DWORD WINAPI GetTempPath2W(DWORD size, LPWSTR buffer) {
  if (auto fault = Enter("GetTempPath2W", {Num(size)})) {
    SetLastError(*fault);
    return 0;
  }
  return RunningAsLocalSystem() ? CopyTempPath(kSystemTempFolder, size, buffer)
                                : CopyTempPath(kTempFolder, size, buffer);
}

}  // namespace fake_win32::internal

// Reads from the file's current position; a link opened as itself, or a
// folder, reads as empty.
BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead, LPVOID overlapped) {
  if (bytesRead) *bytesRead = 0;
  if (auto fault = Enter("ReadFile", {Ptr(file), internal::Num(bytesToRead)})) return Fail(*fault);
  OpenedFile* open = FindOpenFile(file);
  if (!open) return Fail(ERROR_INVALID_HANDLE);
  if (overlapped || !bytesRead || (!buffer && bytesToRead)) return Fail(ERROR_INVALID_PARAMETER);
  if (!(open->access & GENERIC_READ)) return Fail(ERROR_ACCESS_DENIED);
  DWORD total = 0;
  while (open->reader >= 0 && total < bytesToRead) {
    const ssize_t got = ::read(open->reader, static_cast<char*>(buffer) + total, bytesToRead - total);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return Fail(ERROR_ACCESS_DENIED);
    if (got == 0) break;
    total += static_cast<DWORD>(got);
  }
  *bytesRead = total;
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOL WINAPI SetEndOfFile(HANDLE file) {
  if (auto fault = Enter("SetEndOfFile", {Ptr(file)})) return Fail(*fault);
  OpenedFile* open = FindOpenFile(file);
  if (!open) return Fail(ERROR_INVALID_HANDLE);
  if (!open->data) return Fail(ERROR_ACCESS_DENIED);
  std::fflush(open->data);
  const long position = std::ftell(open->data);
  if (position < 0 || ::ftruncate(::fileno(open->data), position) != 0) return Fail(ERROR_ACCESS_DENIED);
  return TRUE;
}

BOOL WINAPI GetFileInformationByHandleEx(HANDLE file, FILE_INFO_BY_HANDLE_CLASS informationClass, LPVOID information,
                                         DWORD size) {
  if (auto fault = Enter("GetFileInformationByHandleEx", {Ptr(file), internal::Num(informationClass),
                                                          internal::Num(size)})) {
    return Fail(*fault);
  }
  const OpenedFile* open = FindOpenFile(file);
  if (!open) return Fail(ERROR_INVALID_HANDLE);
  if (!information) return Fail(ERROR_INVALID_PARAMETER);
  if (informationClass == FileStandardInfo || informationClass == FileAttributeTagInfo) {
    struct stat info {};
    if ((open->linkItself ? ::lstat(open->host.c_str(), &info) : ::stat(open->host.c_str(), &info)) != 0) {
      return Fail(ERROR_FILE_NOT_FOUND);
    }
    DWORD attributes =
        open->linkItself ? ReparsePointAttributes(open->host, *ReparseTagOf(open->host)) : HostAttributes(open->host);
    if (open->filterTag) attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    const bool folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (informationClass == FileAttributeTagInfo) {
      if (size < sizeof(FILE_ATTRIBUTE_TAG_INFO)) return Fail(ERROR_BAD_LENGTH);
      auto* tag = static_cast<FILE_ATTRIBUTE_TAG_INFO*>(information);
      tag->FileAttributes = attributes;
      tag->ReparseTag = open->linkItself ? *ReparseTagOf(open->host) : open->filterTag;
      return TRUE;
    }
    if (size < sizeof(FILE_STANDARD_INFO)) return Fail(ERROR_BAD_LENGTH);
    auto* standard = static_cast<FILE_STANDARD_INFO*>(information);
    *standard = FILE_STANDARD_INFO{};
    standard->EndOfFile.QuadPart = folder ? 0 : static_cast<LONGLONG>(info.st_size);
    standard->AllocationSize.QuadPart = standard->EndOfFile.QuadPart;
    // A folder has one name on Windows, whatever the host counts.
    standard->NumberOfLinks = folder ? 1 : static_cast<DWORD>(info.st_nlink);
    standard->Directory = folder ? 1 : 0;
    return TRUE;
  }
  if (informationClass != FileNameInfo) return Fail(ERROR_INVALID_PARAMETER);
  const std::wstring name = internal::WideFromUtf8(FinalWindowsPath(*open).substr(2));  // without "C:"
  const size_t needed = offsetof(FILE_NAME_INFO, FileName) + name.size() * sizeof(WCHAR);
  if (size < needed) return Fail(ERROR_MORE_DATA);
  auto* info = static_cast<FILE_NAME_INFO*>(information);
  info->FileNameLength = static_cast<DWORD>(name.size() * sizeof(WCHAR));
  std::copy(name.begin(), name.end(), info->FileName);
  return TRUE;
}

namespace {

// Copies `text` with its terminator when it fits `size` characters and
// returns its length; otherwise copies nothing and returns the size needed,
// terminator included.
DWORD CopyOut(const std::wstring& text, LPWSTR buffer, DWORD size) {
  if (!buffer || size <= text.size()) return static_cast<DWORD>(text.size() + 1);
  std::copy(text.c_str(), text.c_str() + text.size() + 1, buffer);
  return static_cast<DWORD>(text.size());
}

}  // namespace

DWORD WINAPI GetFinalPathNameByHandleW(HANDLE file, LPWSTR path, DWORD size, DWORD flags) {
  if (auto fault = Enter("GetFinalPathNameByHandleW", {Ptr(file), internal::Num(size), internal::Hex(flags)})) {
    SetLastError(*fault);
    return 0;
  }
  const OpenedFile* open = FindOpenFile(file);
  if (!open) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  if (flags != (FILE_NAME_NORMALIZED | VOLUME_NAME_DOS)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  return CopyOut(internal::WideFromUtf8("\\\\?\\" + FinalWindowsPath(*open)), path, size);
}

DWORD WINAPI GetFullPathNameW(LPCWSTR fileName, DWORD size, LPWSTR buffer, LPWSTR* filePart) {
  if (auto fault = Enter("GetFullPathNameW", {Text(fileName), internal::Num(size)})) {
    SetLastError(*fault);
    return 0;
  }
  internal::ResolvedPath resolved;
  if (!fileName || !internal::Resolve(Text(fileName), &resolved)) {
    SetLastError(ERROR_INVALID_NAME);
    return 0;
  }
  const std::wstring name(fileName);
  std::string full = resolved.full;
  const bool trailing = !name.empty() && (name.back() == L'\\' || name.back() == L'/');
  if (trailing && !resolved.isDriveRoot) full += "\\";
  const std::wstring wide = internal::WideFromUtf8(full);
  const DWORD result = CopyOut(wide, buffer, size);
  if (filePart && result == wide.size()) {
    *filePart = trailing ? nullptr : buffer + wide.rfind(L'\\') + 1;
  }
  return result;
}

DWORD WINAPI GetLongPathNameW(LPCWSTR shortPath, LPWSTR longPath, DWORD size) {
  if (auto fault = Enter("GetLongPathNameW", {Text(shortPath), internal::Num(size)})) {
    SetLastError(*fault);
    return 0;
  }
  if (!shortPath) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (internal::AttributesOf(Text(shortPath)) == INVALID_FILE_ATTRIBUTES) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return 0;
  }
  return CopyOut(std::wstring(shortPath), longPath, size);
}

namespace {

// Whether a handle of this platform is open on the file, whatever its
// sharing.
bool AnyHandleOn(const std::string& host) {
  FileIdentity identity;
  if (!IdentityOf(host, false, &identity)) return false;
  for (const auto& [value, open] : State().openFiles) {
    (void)value;
    if (open.identity == identity) return true;
  }
  return false;
}

// Whether the file may be removed or renamed now: nobody holds it, and
// every handle on it shares deletion.
bool MayGo(const internal::ResolvedPath& path) {
  return !internal::IsHeld(path) && SharingAllows(path.host, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
}

DWORD MissingError(const std::string& host) {
  return HostAttributes(fs::path(host).parent_path().string()) == FILE_ATTRIBUTE_DIRECTORY ? ERROR_FILE_NOT_FOUND
                                                                                            : ERROR_PATH_NOT_FOUND;
}

}  // namespace

BOOL WINAPI DeleteFileW(LPCWSTR fileName) {
  if (auto fault = Enter("DeleteFileW", {Text(fileName)})) return Fail(*fault);
  internal::ResolvedPath path;
  if (!fileName || !internal::Resolve(Text(fileName), &path)) return Fail(ERROR_PATH_NOT_FOUND);
  const bool link = IsHostLink(path.host);
  const DWORD attributes = link ? FILE_ATTRIBUTE_ARCHIVE : HostAttributes(path.host);
  if (attributes == INVALID_FILE_ATTRIBUTES) return Fail(MissingError(path.host));
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return Fail(ERROR_ACCESS_DENIED);
  if (!MayGo(path)) return Fail(ERROR_SHARING_VIOLATION);
  if (attributes & FILE_ATTRIBUTE_READONLY) return Fail(ERROR_ACCESS_DENIED);
  if (::unlink(path.host.c_str()) != 0) return Fail(ERROR_ACCESS_DENIED);
  return TRUE;
}

BOOL WINAPI MoveFileExW(LPCWSTR existingFileName, LPCWSTR newFileName, DWORD flags) {
  if (auto fault = Enter("MoveFileExW", {Text(existingFileName), Text(newFileName), internal::Hex(flags)})) return Fail(*fault);
  internal::ResolvedPath source;
  internal::ResolvedPath target;
  if (!existingFileName || !newFileName || !internal::Resolve(Text(existingFileName), &source) ||
      !internal::Resolve(Text(newFileName), &target)) {
    return Fail(ERROR_PATH_NOT_FOUND);
  }
  if (!IsHostLink(source.host) && HostAttributes(source.host) == INVALID_FILE_ATTRIBUTES) {
    return Fail(MissingError(source.host));
  }
  if (!MayGo(source)) return Fail(ERROR_SHARING_VIOLATION);
  if (HostAttributes(fs::path(target.host).parent_path().string()) != FILE_ATTRIBUTE_DIRECTORY) {
    return Fail(ERROR_PATH_NOT_FOUND);
  }
  const DWORD targetAttributes = HostAttributes(target.host);
  if (targetAttributes != INVALID_FILE_ATTRIBUTES || IsHostLink(target.host)) {
    if (!(flags & MOVEFILE_REPLACE_EXISTING)) return Fail(ERROR_ALREADY_EXISTS);
    // As Wine answers: a target that is a folder, read-only, or open.
    if ((targetAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) ||
        internal::IsHeld(target) || AnyHandleOn(target.host)) {
      return Fail(ERROR_ACCESS_DENIED);
    }
  }
  if (::rename(source.host.c_str(), target.host.c_str()) != 0) return Fail(ERROR_ACCESS_DENIED);
  return TRUE;
}


BOOL WINAPI CreateDirectoryW(LPCWSTR pathName, LPSECURITY_ATTRIBUTES security) {
  if (auto fault = Enter("CreateDirectoryW", {Text(pathName), Ptr(security)})) return Fail(*fault);
  internal::ResolvedPath path;
  if (!pathName || !internal::Resolve(Text(pathName), &path)) return Fail(ERROR_PATH_NOT_FOUND);
  if (IsHostLink(path.host) || HostAttributes(path.host) != INVALID_FILE_ATTRIBUTES) {
    return Fail(ERROR_ALREADY_EXISTS);
  }
  if (HostAttributes(fs::path(path.host).parent_path().string()) != FILE_ATTRIBUTE_DIRECTORY) {
    return Fail(ERROR_PATH_NOT_FOUND);
  }
  if (::mkdir(path.host.c_str(), 0755) != 0) return Fail(ERROR_ACCESS_DENIED);
  return TRUE;
}

BOOL WINAPI RemoveDirectoryW(LPCWSTR pathName) {
  if (auto fault = Enter("RemoveDirectoryW", {Text(pathName)})) return Fail(*fault);
  internal::ResolvedPath path;
  if (!pathName || !internal::Resolve(Text(pathName), &path)) return Fail(ERROR_PATH_NOT_FOUND);
  const DWORD attributes = IsHostLink(path.host) ? FILE_ATTRIBUTE_ARCHIVE : HostAttributes(path.host);
  if (attributes == INVALID_FILE_ATTRIBUTES) return Fail(MissingError(path.host));
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return Fail(ERROR_DIRECTORY);
  if (::rmdir(path.host.c_str()) != 0) return Fail(errno == ENOTEMPTY ? ERROR_DIR_NOT_EMPTY : ERROR_ACCESS_DENIED);
  return TRUE;
}

namespace {

// FILETIME counts 100 ns from 1601; the host's times count from 1970.
constexpr uint64_t kFileTimeAt1970 = 116444736000000000ULL;

}  // namespace

BOOL WINAPI GetFileTime(HANDLE file, FILETIME* creation, FILETIME* lastAccess, FILETIME* lastWrite) {
  if (auto fault = Enter("GetFileTime", {Ptr(file)})) return Fail(*fault);
  const OpenedFile* open = FindOpenFile(file);
  struct stat info {};
  if (!open || ::stat(open->host.c_str(), &info) != 0) return Fail(ERROR_INVALID_HANDLE);
  const uint64_t ticks = kFileTimeAt1970 + static_cast<uint64_t>(info.st_mtim.tv_sec) * 10000000ULL +
                         static_cast<uint64_t>(info.st_mtim.tv_nsec) / 100;
  for (FILETIME* time : {creation, lastAccess, lastWrite}) {
    if (time) *time = FILETIME{static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)};
  }
  return TRUE;
}

BOOL WINAPI SetFileTime(HANDLE file, const FILETIME* creation, const FILETIME* lastAccess, const FILETIME* lastWrite) {
  if (auto fault = Enter("SetFileTime", {Ptr(file)})) return Fail(*fault);
  (void)creation;
  (void)lastAccess;
  const OpenedFile* open = FindOpenFile(file);
  if (!open) return Fail(ERROR_INVALID_HANDLE);
  if (!(open->access & kWriteAccess)) return Fail(ERROR_ACCESS_DENIED);
  if (!lastWrite) return TRUE;
  if (open->data) std::fflush(open->data);
  const uint64_t ticks = (static_cast<uint64_t>(lastWrite->dwHighDateTime) << 32 | lastWrite->dwLowDateTime) -
                         kFileTimeAt1970;
  const struct timespec times[2] = {{0, UTIME_OMIT},
                                    {static_cast<time_t>(ticks / 10000000ULL), static_cast<long>(ticks % 10000000ULL) * 100}};
  if (::utimensat(AT_FDCWD, open->host.c_str(), times, 0) != 0) return Fail(ERROR_ACCESS_DENIED);
  return TRUE;
}

BOOL WINAPI SetFileInformationByHandle(HANDLE file, FILE_INFO_BY_HANDLE_CLASS informationClass, LPVOID information,
                                       DWORD size) {
  if (auto fault = Enter("SetFileInformationByHandle", {Ptr(file), internal::Num(informationClass),
                                                        internal::Num(size)})) {
    return Fail(*fault);
  }
  OpenedFile* open = FindOpenFile(file);
  if (!open) return Fail(ERROR_INVALID_HANDLE);
  if (!information) return Fail(ERROR_INVALID_PARAMETER);
  if (!(open->access & DELETE)) return Fail(ERROR_ACCESS_DENIED);
  if (informationClass == FileDispositionInfo) {
    if (size < sizeof(FILE_DISPOSITION_INFO)) return Fail(ERROR_BAD_LENGTH);
    open->deleteOnClose = static_cast<const FILE_DISPOSITION_INFO*>(information)->DeleteFile != 0;
    return TRUE;
  }
  if (informationClass != FileRenameInfo || size < sizeof(FILE_RENAME_INFO)) return Fail(ERROR_INVALID_PARAMETER);
  const auto* rename = static_cast<const FILE_RENAME_INFO*>(information);
  // As Wine knows it: an absolute path, no name relative to a folder.
  if (rename->RootDirectory) return Fail(ERROR_INVALID_PARAMETER);
  const std::string name = internal::Utf8FromWide(rename->FileName, rename->FileNameLength / sizeof(WCHAR));
  internal::ResolvedPath target;
  if (name.size() < 3 || name[1] != ':' || !internal::Resolve(name, &target)) return Fail(ERROR_INVALID_NAME);
  // Every other handle on the file must share deletion.
  for (const auto& [value, other] : State().openFiles) {
    if (&other != open && other.identity == open->identity && !(other.share & FILE_SHARE_DELETE)) {
      return Fail(ERROR_SHARING_VIOLATION);
    }
    (void)value;
  }
  const DWORD targetAttributes = HostAttributes(target.host);
  if (targetAttributes != INVALID_FILE_ATTRIBUTES || IsHostLink(target.host)) {
    if (!rename->ReplaceIfExists) return Fail(ERROR_ALREADY_EXISTS);
    if ((targetAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) || internal::IsHeld(target) ||
        AnyHandleOn(target.host)) {
      return Fail(ERROR_ACCESS_DENIED);
    }
  }
  if (::rename(open->host.c_str(), target.host.c_str()) != 0) return Fail(ERROR_ACCESS_DENIED);
  open->host = target.host;
  return TRUE;
}
