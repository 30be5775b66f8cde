// Processes: creating one checks that its program exists and lets the
// test's runner stand in for it; the process has ended by the time
// CreateProcess returns, so a wait returns at once.
#include <cstring>
#include <cwchar>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "fake_win32/control.h"
#include "files.h"
#include "internal.h"

namespace fake_win32 {
namespace {

using internal::Enter;
using internal::Hex;
using internal::Num;
using internal::Ptr;
using internal::Text;

struct ProcessState {
  std::function<DWORD(const std::string&)> runner;
  std::map<uintptr_t, DWORD> exitCodes;  // process handles
  std::map<uintptr_t, bool> threads;     // thread handles
  std::optional<std::vector<std::string>> environment;  // of the last process
  DWORD nextId = 100;
};

ProcessState& State() {
  static ProcessState state;
  return state;
}

// The program named by a command line: the quoted first token, or the text
// up to the first blank.
std::string ProgramOf(const std::string& commandLine) {
  if (!commandLine.empty() && commandLine[0] == '"') {
    const size_t close = commandLine.find('"', 1);
    return commandLine.substr(1, close == std::string::npos ? std::string::npos : close - 1);
  }
  return commandLine.substr(0, commandLine.find_first_of(" \t"));
}

}  // namespace

namespace internal {
void ResetProcesses() {
  State().runner = nullptr;
  State().exitCodes.clear();
  State().threads.clear();
  State().environment.reset();
}
}  // namespace internal

void SetProcessRunner(std::function<DWORD(const std::string& commandLine)> runner) {
  State().runner = std::move(runner);
}

std::optional<std::vector<std::string>> LastProcessEnvironment() { return State().environment; }

}  // namespace fake_win32

namespace fake_win32 {
namespace {

// Creates the process whose command line (and program, when given) are
// UTF-8 here; the runner gets the command line in UTF-8.
BOOL Create(const std::optional<std::string>& applicationName, const std::optional<std::string>& commandLine,
            const std::optional<std::string>& currentDirectory, bool startupGiven,
            LPPROCESS_INFORMATION processInformation) {
  if (!startupGiven || !processInformation || (!applicationName && !commandLine)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  // The new process's current folder must be one.
  if (currentDirectory && internal::AttributesOf(*currentDirectory) != FILE_ATTRIBUTE_DIRECTORY) {
    SetLastError(ERROR_DIRECTORY);
    return FALSE;
  }
  const std::string line = commandLine.value_or("");
  std::string program = applicationName ? *applicationName : ProgramOf(line);
  internal::ResolvedPath path;
  if (program.empty() || !internal::Resolve(program, &path)) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
  }
  DWORD attributes = internal::AttributesOf(path.full);
  // Only a program taken from the command line gets ".exe" added; an
  // application name is used as it is.
  if (attributes == INVALID_FILE_ATTRIBUTES && !applicationName && program.find('.') == std::string::npos) {
    attributes = internal::AttributesOf(path.full + ".exe");
  }
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  auto& state = State();
  const DWORD exitCode = state.runner ? state.runner(line) : 0;
  const uintptr_t process = internal::NewHandleValue();
  const uintptr_t thread = internal::NewHandleValue();
  state.exitCodes[process] = exitCode;
  state.threads[thread] = true;
  processInformation->hProcess = reinterpret_cast<HANDLE>(process);
  processInformation->hThread = reinterpret_cast<HANDLE>(thread);
  processInformation->dwProcessId = state.nextId++;
  processInformation->dwThreadId = state.nextId++;
  internal::Opened("process", processInformation->hProcess);
  internal::Opened("thread", processInformation->hThread);
  return TRUE;
}

}  // namespace
}  // namespace fake_win32

using namespace fake_win32;

BOOL WINAPI CreateProcessW(LPCWSTR applicationName, LPWSTR commandLine, LPSECURITY_ATTRIBUTES processAttributes,
                           LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles, DWORD creationFlags,
                           LPVOID environment, LPCWSTR currentDirectory, LPSTARTUPINFOW startupInfo,
                           LPPROCESS_INFORMATION processInformation) {
  if (auto fault = Enter("CreateProcessW",
                         {Text(applicationName), Text(commandLine), Ptr(processAttributes), Ptr(threadAttributes),
                          Num(inheritHandles), Hex(creationFlags), Ptr(environment), Text(currentDirectory),
                          startupInfo ? Num(startupInfo->cb) : std::string("(null)"), Ptr(processInformation)})) {
    SetLastError(*fault);
    return FALSE;
  }
  auto utf8 = [](const wchar_t* text) {
    return text ? std::optional<std::string>(Text(text)) : std::nullopt;
  };
  State().environment.reset();
  if (environment) {
    if (!(creationFlags & CREATE_UNICODE_ENVIRONMENT)) {
      internal::Misuse("CreateProcessW with an environment block but without CREATE_UNICODE_ENVIRONMENT");
    }
    std::vector<std::string> variables;
    for (const auto* entry = static_cast<const wchar_t*>(environment); *entry; entry += std::wcslen(entry) + 1) {
      variables.push_back(Text(entry));
    }
    State().environment = variables;
  }
  return Create(utf8(applicationName), utf8(commandLine), utf8(currentDirectory), startupInfo != nullptr,
                processInformation);
}

DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  if (auto fault = Enter("WaitForSingleObject", {Ptr(handle), Hex(milliseconds)})) {
    SetLastError(*fault);
    return WAIT_FAILED;
  }
  if (const auto mutexResult = internal::WaitForMutex(handle, milliseconds)) return *mutexResult;
  const auto value = reinterpret_cast<uintptr_t>(handle);
  if (!State().exitCodes.count(value) && !State().threads.count(value)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  return WAIT_OBJECT_0;
}

BOOL WINAPI GetExitCodeProcess(HANDLE process, LPDWORD exitCode) {
  if (auto fault = Enter("GetExitCodeProcess", {Ptr(process)})) {
    SetLastError(*fault);
    return FALSE;
  }
  auto it = State().exitCodes.find(reinterpret_cast<uintptr_t>(process));
  if (it == State().exitCodes.end() || !exitCode) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  *exitCode = it->second;
  return TRUE;
}

BOOL WINAPI CloseHandle(HANDLE handle) {
  auto fault = Enter("CloseHandle", {Ptr(handle)});
  auto& state = State();
  const auto value = reinterpret_cast<uintptr_t>(handle);
  bool closed = false;
  if (internal::CloseFile(handle) || internal::CloseMutex(handle) || internal::CloseToken(handle) ||
      internal::CloseMapping(handle)) {
    closed = true;
  } else if (state.exitCodes.erase(value)) {
    closed = internal::Closed("process", handle);
  } else if (state.threads.erase(value)) {
    closed = internal::Closed("thread", handle);
  } else if (handle) {
    internal::Misuse("CloseHandle of a handle that is not open: " + Ptr(handle));
  }
  if (!closed) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (fault) {
    SetLastError(*fault);
    return FALSE;
  }
  return TRUE;
}

DWORD WINAPI GetCurrentProcessId() { return 4242; }
