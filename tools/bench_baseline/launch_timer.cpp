// launch_timer.exe: starts a program and times it, from just before
// CreateProcessA to the moment its process has ended, in this process, so
// that Wine's own start-up of the timing program does not count.
//
//   launch_timer.exe [--timeout-ms N] <program> [args...]
//
// The child inherits this process's console and standard handles (its
// output lands where this program's goes, before the result line); its
// environment gets BENCH_LAUNCH_QPC, the QueryPerformanceCounter reading
// taken just before CreateProcessA (a floor program may report its own
// start-up against it). With --timeout-ms, a child still running after N ms
// is ended (TerminateProcess) and reported as timed out: now and then a
// fresh client of an out-of-process COM server hangs in its activation
// under Wine, and a benchmark must be able to repeat that run.
// Prints one JSON line last:
//   {"us": 412345, "exitCode": 0, "timedOut": false}
// Exit code: 0 the program ran (also when timed out), 1 usage, 2 it could not
// be started.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/command_line.h"

namespace {

using tools::QuoteArgument;

int Usage() {
  std::fprintf(stderr, "usage: launch_timer.exe [--timeout-ms N] <program> [args...]\n");
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  int first = 1;
  DWORD timeout = INFINITE;
  if (argc > 2 && std::strcmp(argv[1], "--timeout-ms") == 0) {
    timeout = static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10));
    first = 3;
  }
  if (argc <= first) return Usage();
  std::string commandLine = QuoteArgument(argv[first]);
  for (int i = first + 1; i < argc; ++i) commandLine += " " + QuoteArgument(argv[i]);
  std::fflush(stdout);

  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  LARGE_INTEGER frequency;
  LARGE_INTEGER before;
  LARGE_INTEGER after;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&before);
  SetEnvironmentVariableA("BENCH_LAUNCH_QPC", std::to_string(before.QuadPart).c_str());
  if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
    std::fprintf(stderr, "launch_timer: cannot start %s: error %lu\n", argv[first], GetLastError());
    return 2;
  }
  const bool timedOut = WaitForSingleObject(process.hProcess, timeout) == WAIT_TIMEOUT;
  if (timedOut) {
    TerminateProcess(process.hProcess, 0xDEAD);
    WaitForSingleObject(process.hProcess, INFINITE);
  }
  QueryPerformanceCounter(&after);
  DWORD exitCode = 0;
  GetExitCodeProcess(process.hProcess, &exitCode);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  std::printf("{\"us\": %lld, \"exitCode\": %lu, \"timedOut\": %s}\n",
              (after.QuadPart - before.QuadPart) * 1000000 / frequency.QuadPart, static_cast<unsigned long>(exitCode),
              timedOut ? "true" : "false");
  return 0;
}
