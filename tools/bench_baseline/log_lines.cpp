// log_lines.exe: times the run log's own work, the part of `setup.exe /LOG`
// that a run without the switch does not do. Opens a log at <path> as /LOG
// does (emptying the file) and writes <count> lines through the product's
// RunLog, each shaped like a line of a deployment ("copying
// payload00042.bin", time stamp first), timed from before the log is opened
// to after it is closed.
//
//   log_lines.exe <path> <count>
//
// Prints one JSON line: {"lines": 1020, "us": 1534}. Exit code: 0 every line
// written, 1 the log could not be opened or a line is missing, 2 bad
// command line.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "runlog/run_log.h"

namespace {

LONGLONG Ticks() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return now.QuadPart;
}

// Same digits as the payload files the benchmark deploys; UTF-16, as the
// run has the names it logs.
std::wstring PayloadName(unsigned number) {
  std::wstring digits = std::to_wstring(number);
  if (digits.size() < 5) digits.insert(0, 5 - digits.size(), L'0');
  return L"payload" + digits + L".bin";
}

// The folder of this program, as setup.exe keeps its own program folder out
// of its log's way.
std::wstring OwnFolder() {
  wchar_t path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  const std::wstring text(path, length < MAX_PATH ? length : 0);
  return text.substr(0, text.rfind(L'\\') + 1);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: log_lines.exe <path> <count>\n");
    return 2;
  }
  char* end = nullptr;
  const unsigned long count = std::strtoul(argv[2], &end, 10);
  if (*argv[2] == '\0' || *end != '\0' || count > 1000000) {
    std::fprintf(stderr, "log_lines.exe: count must be a number up to 1000000\n");
    return 2;
  }
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  const LONGLONG start = Ticks();
  {
    vantu::RunLog log;
    wchar_t path[MAX_PATH] = {};
    std::string refusal = "no path";
    if (!MultiByteToWideChar(CP_ACP, 0, argv[1], -1, path, MAX_PATH) ||
        !vantu::RunLog::OpenPath(path, OwnFolder(), log, &refusal)) {
      std::fprintf(stderr, "log_lines.exe: cannot create %s: %s\n", argv[1], refusal.c_str());
      return 1;
    }
    for (unsigned long i = 0; i < count; ++i) vantu::LogLine({"copying ", PayloadName(i)});
  }
  const LONGLONG stop = Ticks();
  std::printf("{\"lines\": %lu, \"us\": %lld}\n", count, (stop - start) * 1000000 / frequency.QuadPart);
  // The file must hold every line, or the time says nothing.
  const HANDLE file = CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  unsigned long lines = 0;
  char buffer[65536];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) {
    for (DWORD i = 0; i < got; ++i) lines += buffer[i] == '\n';
  }
  CloseHandle(file);
  return lines == count ? 0 : 1;
}
