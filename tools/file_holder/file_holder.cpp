// file_holder.exe: keeps a file open without sharing, so that every other
// open of it fails with a sharing violation while it is held.
//
//   file_holder.exe <file> <ready marker> <release marker> [<timeout ms>]
//
// Opens <file> (it must exist) for reading and writing with share mode 0,
// then creates <ready marker> (an empty file) and waits until <release
// marker> exists, or until <timeout ms> (default 60000) have passed. Then it
// closes the file and ends.
//
// Exit code: 0 released, 1 the file could not be opened (the error code on
// standard error; no ready marker), 2 the time-out passed, 3 the ready
// marker could not be made, 4 bad command line.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "base/unique_handle.h"

namespace {

using vantu::UniqueFileHandle;

bool Exists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4 || argc > 5) {
    std::fprintf(stderr, "usage: file_holder.exe <file> <ready marker> <release marker> [<timeout ms>]\n");
    return 4;
  }
  const DWORD timeout = argc == 5 ? static_cast<DWORD>(std::strtoul(argv[4], nullptr, 0)) : 60000;
  UniqueFileHandle held(CreateFileA(argv[1], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!held) {
    std::fprintf(stderr, "file_holder: cannot open %s: error %lu\n", argv[1], GetLastError());
    return 1;
  }
  UniqueFileHandle ready(CreateFileA(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                     nullptr));
  if (!ready) {
    std::fprintf(stderr, "file_holder: cannot make %s: error %lu\n", argv[2], GetLastError());
    return 3;
  }
  ready.reset();
  const ULONGLONG start = GetTickCount64();
  int result = 0;
  while (!Exists(argv[3])) {
    if (GetTickCount64() - start >= timeout) {
      result = 2;
      break;
    }
    Sleep(20);
  }
  held.reset();
  return result;
}
