// Path texts and the directory walker on arbitrary strings.
//
// DrivePart / FileNamePart: the text up to the first colon, and the text
// after the last backslash or colon, as the rules say.
// InstallPathFault: a value that keeps to its rule, joined below the
// program-files folder with a version and made absolute by the platform
// (GetFullPathNameW), lies below that folder; a value refused has a colon,
// a leading separator, an empty component or one of dots and blanks alone.
// FolderOfModulePath / ModuleDirectory with the module path
// taken from the input (up to 70000 bytes): the folder up to the last
// backslash, else the drive, else empty; the module path is asked for with
// 128, 256, ... characters until it fits.
// DirectoryWalker opened on arbitrary roots over a small prepared tree:
// while walking, path() is the root without its trailing backslashes (so
// never ends in one), the entries are exactly the platform's search of that
// folder in its order, CurrentPath() joins them with one backslash, folders
// are never entered; at the end the search is closed; after Close (or
// destruction) the path is empty and every search handle has been closed
// exactly once. Searches made to fail on the way change none of that.
//
// Texts are UTF-16, made from the input by fuzz_support::WideFromFuzz (ASCII
// bytes as themselves, other bytes as characters of other scripts, among
// them ones whose second byte in code page 932 is 0x5C), and the tree holds
// names in other scripts too.
//
// Input (FuzzedDataProvider): from the front, a path text, the module path and
// two roots; from the end, the options byte, the module path's length (option
// bit 0), then for each walk where to stop, a search made to fail (option bit
// 3) and whether to skip folders.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/module_path.h"
#include "base/path_functions.h"
#include "deploy/directory_walker.h"
#include "settings/setting_rules.h"
#include "settings/settings.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using fuzz_support::Shown;
using fuzz_support::Utf8;

void CheckPathParts(const std::wstring& path) {
  const std::wstring drive = vantu::DrivePart(path);
  const size_t colon = path.find(L':');
  const std::string what = Shown(path) + " -> drive " + Shown(drive);
  if (colon == std::wstring::npos) {
    CHECK(drive.empty(), what);
  } else {
    CHECK(drive.size() == colon + 1 && path.compare(0, drive.size(), drive) == 0, what);
  }

  const std::wstring name = vantu::FileNamePart(path);
  const size_t separator = path.find_last_of(L"\\:");
  const std::string nameWhat = Shown(path) + " -> name " + Shown(name);
  CHECK(name.find_first_of(L"\\:") == std::wstring::npos, "a separator in the name: " + nameWhat);
  if (separator == std::wstring::npos) {
    CHECK(name.empty(), nameWhat);
  } else {
    CHECK(name.size() == path.size() - separator - 1 && path.compare(separator + 1, std::wstring::npos, name) == 0,
          nameWhat);
  }
}

// Whether `value` has what the InstallPath rule forbids, found
// independently of the product: components split at both separators, the
// one empty component after a trailing backslash allowed.
bool BreaksTheInstallPathRule(const std::wstring& value) {
  if (value.empty()) return false;
  if (value.find(L':') != std::wstring::npos || value[0] == L'\\' || value[0] == L'/') return true;
  std::vector<std::wstring> parts(1);
  for (const wchar_t c : value) {
    if (c == L'\\' || c == L'/') {
      parts.emplace_back();
    } else {
      parts.back() += c;
    }
  }
  if (value.back() == L'\\') parts.pop_back();
  // Two separators in a row are one, as Windows reads them: an empty part
  // is none.
  for (const auto& part : parts) {
    if (!part.empty() && part.find_first_not_of(L". ") == std::wstring::npos) return true;  // dots and blanks
  }
  return false;
}

void CheckInstallPathRule(const std::wstring& value) {
  const char* fault = vantu::InstallPathFault(value);
  const std::string what = "InstallPath " + Shown(value) + ": " + (fault ? fault : "keeps to its rule");
  CHECK((fault != nullptr) == BreaksTheInstallPathRule(value), what);
  if (fault || value.find(L'\0') != std::wstring::npos) return;
  const std::wstring folder = L"C:\\Program Files (x86)";
  const std::wstring read = vantu::WithoutEmptyComponents(value);
  const std::wstring joined = folder + L"\\" + read + (read.empty() || read.back() == L'\\' ? L"" : L"\\") + L"1.0";
  std::vector<wchar_t> full(joined.size() + 64);
  const DWORD length = GetFullPathNameW(joined.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
  CHECK(length > 0 && length < full.size(), "no full path for " + Shown(joined) + ": " + what);
  CHECK(vantu::LiesBelowFolder(std::wstring(full.data(), length), folder),
        Shown(std::wstring(full.data(), length)) + " is not below the program-files folder: " + what);
}

void CheckModuleFolder(const std::wstring& modulePath) {
  const std::wstring folder = vantu::FolderOfModulePath(modulePath);
  const size_t backslash = modulePath.rfind(L'\\');
  const std::string what = Shown(modulePath) + " -> " + Shown(folder);
  if (backslash != std::wstring::npos) {
    CHECK(folder.size() == backslash + 1 && modulePath.compare(0, folder.size(), folder) == 0, what);
  } else {
    CHECK(folder == vantu::DrivePart(modulePath), what);
  }
  CHECK(folder.empty() || folder.back() == L'\\' || folder.back() == L':',
        "folder ends in neither \\ nor : " + what);

  fake_win32::SetModuleFileName(Utf8(modulePath));
  const int callsBefore = fake_win32::CallCount("GetModuleFileNameW");
  const std::wstring directory = vantu::ModuleDirectory();
  const auto calls = fake_win32::CallsTo("GetModuleFileNameW");
  // Sizes 128, 256, ... while the path is cut; the product gives up after
  // 65536 (no Windows path is that long) and then reports nothing.
  constexpr size_t kLargest = 65536;
  std::vector<std::string> expectedSizes;
  for (size_t size = 128; size <= kLargest; size *= 2) {
    expectedSizes.push_back(std::to_string(size));
    if (modulePath.size() < size) break;
  }
  std::vector<std::string> sizes;
  for (size_t i = static_cast<size_t>(callsBefore); i < calls.size(); ++i) sizes.push_back(calls[i].args.at(1));
  const std::string dirWhat = "module path of " + std::to_string(modulePath.size()) + " characters " +
                              Shown(modulePath) + " -> " + Shown(directory);
  CHECK(sizes == expectedSizes, "sizes asked " + fuzz_support::Joined(sizes) + ": " + dirWhat);
  if (modulePath.size() < kLargest) {
    CHECK(directory == folder, dirWhat);
  } else {
    CHECK(directory.empty(), dirWhat);
  }
}

struct Listed {
  std::wstring name;
  DWORD attributes;
};

// The folder's entries as the platform's own search gives them.
std::vector<Listed> PlatformListing(const std::wstring& folder) {
  std::vector<Listed> entries;
  WIN32_FIND_DATAW data;
  std::memset(&data, 0, sizeof data);
  const HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &data);
  if (search == INVALID_HANDLE_VALUE) return entries;
  do {
    entries.push_back(Listed{data.cFileName, data.dwFileAttributes});
  } while (FindNextFileW(search, &data));
  FindClose(search);
  return entries;
}

std::wstring WithoutTrailingBackslashes(const std::wstring& root) {
  const size_t last = root.find_last_not_of(L'\\');
  return last == std::wstring::npos ? std::wstring() : root.substr(0, last + 1);
}

// What the path becomes when its one level is taken off: cut before its
// last backslash, else its drive part.
std::wstring LevelUp(const std::wstring& path) {
  const size_t backslash = path.rfind(L'\\');
  return backslash != std::wstring::npos ? path.substr(0, backslash) : vantu::DrivePart(path);
}

bool IsFolder(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }

// Walks `root` to its end (or, with `stopAfter`, that many steps) and checks
// every step against the platform's own listing.
void Walk(vantu::DirectoryWalker& walker, const std::wstring& root, FuzzedDataProvider& input, bool injectFaults,
          size_t stopAfter) {
  const std::wstring folder = WithoutTrailingBackslashes(root);
  const std::vector<Listed> listing = PlatformListing(folder);
  bool faulted = false;
  if (injectFaults && input.ConsumeBool()) {
    // The walker's own search (FindFirstFileW) or one of its next calls.
    const char* function = input.ConsumeBool() ? "FindNextFileW" : "FindFirstFileW";
    const int call = function[4] == 'N' ? input.ConsumeIntegralInRange(1, 8) : 1;
    fake_win32::FailCall(function, fake_win32::CallCount(function) + call, ERROR_NOT_ENOUGH_MEMORY);
    faulted = true;
  }
  const std::string what = "root " + Shown(root) + " (" + std::to_string(listing.size()) + " entries)";

  CHECK(walker.Open(root), "Open returned false: " + what);
  const bool filesOnly = input.ConsumeBool();
  size_t index = 0;
  auto skipFolders = [&] {
    while (index < listing.size() && IsFolder(listing[index].attributes)) ++index;
  };
  if (filesOnly) {
    walker.SkipDirectories();
    skipFolders();
  }
  size_t steps = 0;
  while (!walker.AtEnd() && steps < stopAfter) {
    CHECK(walker.depth() == 1, "depth " + std::to_string(walker.depth()) + ": " + what);
    CHECK(walker.path() == folder, "path " + Shown(walker.path()) + " while walking " + what);
    CHECK(walker.path().empty() || walker.path().back() != L'\\', "path ends in a backslash: " + what);
    const WIN32_FIND_DATAW* entry = walker.Current();
    CHECK(entry != nullptr, "no current entry while walking " + what);
    CHECK(index < listing.size(),
          "an entry past the platform's listing: " + Shown(std::wstring(entry->cFileName)) + ", " + what);
    CHECK(listing[index].name == entry->cFileName && listing[index].attributes == entry->dwFileAttributes,
          "entry " + std::to_string(index) + " is " + Shown(std::wstring(entry->cFileName)) +
              ", the platform listed " + Shown(listing[index].name) + ": " + what);
    CHECK(walker.CurrentPath() == folder + L"\\" + entry->cFileName, "CurrentPath " + Shown(walker.CurrentPath()));
    if (filesOnly) CHECK(!IsFolder(entry->dwFileAttributes), "a folder after SkipDirectories: " + what);
    walker.Advance();
    ++index;
    if (filesOnly) {
      walker.SkipDirectories();
      skipFolders();
    }
    ++steps;
  }
  if (steps == stopAfter) return;
  // At the end: nothing current, the search closed.
  if (faulted) {
    CHECK(index <= listing.size(), what);
  } else {
    CHECK(index == listing.size(), "ended after " + std::to_string(index) + " entries: " + what);
  }
  CHECK(walker.depth() == 0 && walker.Current() == nullptr && walker.CurrentPath().empty(), "not at its end: " + what);
  CHECK(walker.path() == LevelUp(folder), "path at the end " + Shown(walker.path()) + ": " + what);
  for (const auto& open : fake_win32::OpenResources()) {
    CHECK(open.compare(0, 5, "find ") != 0, "a search still open at the end: " + what);
  }
}

void PrepareTree() {
  fuzz_support::WriteWindowsFile("C:\\tree\\a.txt", "a");
  fuzz_support::WriteWindowsFile("C:\\tree\\b.bin", std::string(300, 'b'));
  fuzz_support::WriteWindowsFile("C:\\tree\\S\\inner.txt", "inner");
  fuzz_support::MakeWindowsFolder("C:\\tree\\empty");
  fuzz_support::WriteWindowsFile("C:\\tree\\with space\\x.exe", "MZ");
  fuzz_support::WriteWindowsFile("D:\\data\\d.txt", "d");
  fuzz_support::WriteWindowsFile("C:\\tree\\ソ.dll", "so");
  fuzz_support::WriteWindowsFile("C:\\新機能\\表.txt", "hyou");
  fuzz_support::WriteWindowsFile("C:\\新機能\\😀 файл", "emoji");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const uint8_t options = input.ConsumeIntegral<uint8_t>();
  const std::wstring text = fuzz_support::WideFromFuzz(input.ConsumeRandomLengthString(1024));
  std::wstring modulePath = fuzz_support::WideFromFuzz(input.ConsumeRandomLengthString(1024));
  const std::wstring root = fuzz_support::WideFromFuzz(input.ConsumeRandomLengthString(512));
  const std::wstring secondRoot = fuzz_support::WideFromFuzz(input.ConsumeRandomLengthString(512));
  if ((options & 1) && !modulePath.empty()) {
    const size_t length = input.ConsumeIntegralInRange<size_t>(0, 70000);
    const std::wstring unit = modulePath;
    while (modulePath.size() < length) modulePath += unit;
    modulePath.resize(length);
  }

  CheckPathParts(text);
  CheckPathParts(root);

  fake_win32::Reset();
  CheckInstallPathRule(text);
  CheckInstallPathRule(root);
  CheckModuleFolder(modulePath);

  PrepareTree();
  const bool injectFaults = (options & 8) != 0;
  {
    vantu::DirectoryWalker walker;
    if (options & 4) {
      // Opened again part-way: the first search must be closed by Open.
      Walk(walker, root, input, false, input.ConsumeIntegralInRange<size_t>(0, 3));
      Walk(walker, secondRoot, input, injectFaults, SIZE_MAX);
    } else {
      Walk(walker, root, input, injectFaults, SIZE_MAX);
    }
    if (options & 2) {
      walker.Close();
      CHECK(walker.path().empty() && walker.AtEnd(), "Close left " + Shown(walker.path()));
      walker.Close();
    }
  }
  fuzz_support::CheckLedgerClean("DirectoryWalker");
  return 0;
}
