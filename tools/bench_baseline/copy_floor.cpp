// copy_floor.exe: the floor under the deployment of a payload: copies every
// file directly in <source> (sub-folders are left out) into <target>, which
// must exist, with one CopyFileA each (overwriting). The folder is listed
// with FindFirstFileA/FindNextFileA, as a copy of "the files of a folder"
// has to.
//
//   copy_floor.exe <source folder> <target folder>
//
// Exit code: 0 every file copied, 1 a copy failed or the source cannot be
// listed, 2 bad command line.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

std::string WithBackslash(std::string folder) {
  if (folder.empty() || folder.back() != '\\') folder += '\\';
  return folder;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: copy_floor.exe <source folder> <target folder>\n");
    return 2;
  }
  const std::string source = WithBackslash(argv[1]);
  const std::string target = WithBackslash(argv[2]);
  WIN32_FIND_DATAA entry;
  const HANDLE search = FindFirstFileA((source + "*").c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return 1;
  int result = 0;
  do {
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    if (!CopyFileA((source + entry.cFileName).c_str(), (target + entry.cFileName).c_str(), FALSE)) result = 1;
  } while (FindNextFileA(search, &entry));
  FindClose(search);
  return result;
}
