// staging_grabber.exe: what a program of the user's own can do to the files
// that an elevated run writes into a folder that users may read (every
// folder below the program-files folder is): it opens each of them the
// moment the run lets go of it, for reading and sharing reading only, so
// that nobody can rename or remove it while it is open.
//
//   staging_grabber.exe <folder> <ready marker> <release marker> <timeout ms> <name>...
//
// Tries to open <folder>\<name> for each name it does not hold yet, in
// turn, again and again (a file that is not there yet, or that the run
// still writes without sharing, fails), and keeps every file it got open,
// until <release marker> exists or the time-out passes. Creates <ready
// marker> (an empty file) once it has tried every name. Then prints one line
// per file it held, "held NAME", and closes them.
//
// Exit code: 0 released, 2 the time-out passed, 3 the ready marker could not
// be made, 4 bad command line.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "base/unique_handle.h"

namespace {

using vantu::UniqueFileHandle;

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 6) {
    std::fprintf(stderr,
                 "usage: staging_grabber.exe <folder> <ready marker> <release marker> <timeout ms> <name>...\n");
    return 4;
  }
  const std::wstring folder = std::wstring(argv[1]) + L"\\";
  const std::wstring ready = argv[2];
  const std::wstring release = argv[3];
  const DWORD timeout = static_cast<DWORD>(std::wcstoul(argv[4], nullptr, 0));
  const std::vector<std::wstring> names(argv + 5, argv + argc);
  std::vector<std::unique_ptr<UniqueFileHandle>> held(names.size());
  const ULONGLONG start = GetTickCount64();
  bool marked = false;
  int result = 0;
  while (!Exists(release)) {
    if (GetTickCount64() - start >= timeout) {
      result = 2;
      break;
    }
    for (size_t i = 0; i < names.size(); ++i) {
      if (held[i]) continue;
      auto file = std::make_unique<UniqueFileHandle>(CreateFileW((folder + names[i]).c_str(), GENERIC_READ,
                                                                 FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
      if (*file) held[i] = std::move(file);
    }
    if (!marked) {
      marked = true;
      UniqueFileHandle marker(
          CreateFileW(ready.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
      if (!marker) {
        result = 3;
        break;
      }
    }
  }
  for (size_t i = 0; i < names.size(); ++i) {
    if (held[i]) std::printf("held %ls\n", names[i].c_str());
  }
  std::fflush(stdout);
  return result;
}
