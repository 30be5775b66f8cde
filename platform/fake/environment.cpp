// The machine's default environment, as userenv.dll's CreateEnvironmentBlock
// hands it out without a user's token, and the Windows folder.
#include <cstring>
#include <cwchar>
#include <set>
#include <string>
#include <vector>

#include "fake_win32/control.h"
#include "internal.h"

namespace fake_win32 {
namespace {

using internal::Enter;
using internal::Num;
using internal::Ptr;

const wchar_t kWindowsFolder[] = L"C:\\windows";

struct EnvironmentState {
  std::vector<std::string> machine;
  std::set<uintptr_t> blocks;
};

EnvironmentState& State() {
  static EnvironmentState state;
  return state;
}

}  // namespace

namespace internal {

void ResetEnvironment() {
  State().machine = {"ALLUSERSPROFILE=C:\\ProgramData", "ComSpec=C:\\windows\\system32\\cmd.exe",
                     "Path=C:\\windows\\system32;C:\\windows", "SystemDrive=C:", "SystemRoot=C:\\windows",
                     "TEMP=C:\\windows\\TEMP", "TMP=C:\\windows\\TEMP", "windir=C:\\windows"};
  State().blocks.clear();
}

// Only the machine's own variables: without a token, and without this
// process's (which would be the caller's).
BOOL WINAPI CreateEnvironmentBlock(LPVOID* environment, HANDLE token, BOOL inherit) {
  if (auto fault = Enter("CreateEnvironmentBlock", {Ptr(environment), Ptr(token), Num(inherit)})) {
    SetLastError(*fault);
    return FALSE;
  }
  if (!environment || token) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (inherit) Misuse("CreateEnvironmentBlock taking in the calling process's environment");
  std::wstring block;
  for (const std::string& variable : State().machine) block += WideFromUtf8(variable) + L'\0';
  block += L'\0';
  auto* memory = new wchar_t[block.size()];
  std::wmemcpy(memory, block.data(), block.size());
  State().blocks.insert(reinterpret_cast<uintptr_t>(memory));
  Opened("environment", memory);
  *environment = memory;
  return TRUE;
}

// Releases the block even when it is made to fail.
BOOL WINAPI DestroyEnvironmentBlock(LPVOID environment) {
  auto fault = Enter("DestroyEnvironmentBlock", {Ptr(environment)});
  if (!State().blocks.erase(reinterpret_cast<uintptr_t>(environment))) {
    Misuse("DestroyEnvironmentBlock of a block that was not handed out: " + Ptr(environment));
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  Closed("environment", environment);
  delete[] static_cast<wchar_t*>(environment);
  if (fault) {
    SetLastError(*fault);
    return FALSE;
  }
  return TRUE;
}

}  // namespace internal

void SetMachineEnvironment(const std::vector<std::string>& variables) { State().machine = variables; }

}  // namespace fake_win32

UINT WINAPI GetSystemWindowsDirectoryW(LPWSTR buffer, UINT size) {
  if (auto fault = fake_win32::internal::Enter("GetSystemWindowsDirectoryW", {fake_win32::internal::Num(size)})) {
    SetLastError(*fault);
    return 0;
  }
  const UINT length = static_cast<UINT>(std::wcslen(fake_win32::kWindowsFolder));
  if (!buffer || size <= length) return length + 1;
  std::wmemcpy(buffer, fake_win32::kWindowsFolder, length + 1);
  return length;
}
