// The process's token and the functions found at run time: whose account
// the process runs as, kernel32's functions that GetProcAddress hands out,
// and the process mitigation policy.
#include <cstring>
#include <map>
#include <set>
#include <string>

#include "fake_win32/control.h"
#include "internal.h"

namespace fake_win32 {
namespace {

using internal::Enter;
using internal::Hex;
using internal::Num;
using internal::Ptr;

struct SecurityState {
  bool localSystem = false;
  std::set<uintptr_t> tokens;
  std::set<std::string> kernel32Functions;
};

SecurityState& State() {
  static SecurityState state;
  return state;
}

// S-1-5-18 (the local system account) and S-1-5-21-1-2-3-500 (an
// administrator's account), laid out as Windows keeps a SID.
const BYTE kLocalSystemSid[] = {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};
const BYTE kAdministratorSid[] = {1, 5, 0, 0, 0, 0, 0, 5, 21, 0, 0, 0, 1, 0, 0, 0,
                                  2, 0, 0, 0, 3, 0, 0, 0, 0xF4, 1, 0, 0};

// The address of kernel32 as GetModuleHandleW hands it out.
BYTE g_kernel32;

}  // namespace

namespace internal {

void ResetSecurity() {
  State().localSystem = false;
  State().tokens.clear();
  State().kernel32Functions.clear();
}

bool CloseToken(HANDLE handle) {
  if (State().tokens.erase(reinterpret_cast<uintptr_t>(handle)) == 0) return false;
  Closed("token", handle);
  return true;
}

BOOL WINAPI SetProcessMitigationPolicy(int policy, PVOID buffer, SIZE_T length) {
  DWORD flags = 0;
  if (buffer && length >= sizeof flags) std::memcpy(&flags, buffer, sizeof flags);
  if (auto fault = Enter("SetProcessMitigationPolicy", {Num(policy), Hex(flags), Num(static_cast<int64_t>(length))})) {
    SetLastError(*fault);
    return FALSE;
  }
  return TRUE;
}

}  // namespace internal

void SetRunningAsLocalSystem(bool system) { State().localSystem = system; }
bool RunningAsLocalSystem() { return State().localSystem; }

void ProvideKernel32Function(const std::string& name) { State().kernel32Functions.insert(name); }

}  // namespace fake_win32

using namespace fake_win32;

HANDLE WINAPI GetCurrentProcess() { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)); }

BOOL WINAPI OpenProcessToken(HANDLE process, DWORD desiredAccess, PHANDLE token) {
  if (auto fault = Enter("OpenProcessToken", {Ptr(process), Hex(desiredAccess)})) {
    SetLastError(*fault);
    return FALSE;
  }
  if (!token || process != GetCurrentProcess()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  const uintptr_t value = internal::NewHandleValue();
  State().tokens.insert(value);
  *token = reinterpret_cast<HANDLE>(value);
  internal::Opened("token", *token);
  return TRUE;
}

BOOL WINAPI GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS informationClass, LPVOID information,
                                DWORD length, LPDWORD returnLength) {
  if (auto fault = Enter("GetTokenInformation", {Ptr(token), Num(informationClass), Num(length)})) {
    SetLastError(*fault);
    return FALSE;
  }
  if (!State().tokens.count(reinterpret_cast<uintptr_t>(token))) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (informationClass != TokenUser || !returnLength) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const BYTE* sid = State().localSystem ? kLocalSystemSid : kAdministratorSid;
  const size_t sidSize = State().localSystem ? sizeof kLocalSystemSid : sizeof kAdministratorSid;
  // The SID follows the record, as Windows lays it out.
  const DWORD needed = static_cast<DWORD>(sizeof(TOKEN_USER) + sidSize);
  *returnLength = needed;
  if (!information || length < needed) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  auto* user = static_cast<TOKEN_USER*>(information);
  BYTE* sidCopy = static_cast<BYTE*>(information) + sizeof(TOKEN_USER);
  std::memcpy(sidCopy, sid, sidSize);
  user->User.Sid = sidCopy;
  user->User.Attributes = 0;
  return TRUE;
}

BOOL WINAPI IsWellKnownSid(PSID sid, WELL_KNOWN_SID_TYPE type) {
  internal::Record("IsWellKnownSid", {Ptr(sid), Num(type)});
  if (!sid || type != WinLocalSystemSid) return FALSE;
  return std::memcmp(sid, kLocalSystemSid, sizeof kLocalSystemSid) == 0 ? TRUE : FALSE;
}

HMODULE WINAPI GetModuleHandleW(LPCWSTR moduleName) {
  if (auto fault = Enter("GetModuleHandleW", {internal::Text(moduleName)})) {
    SetLastError(*fault);
    return nullptr;
  }
  if (!moduleName) return internal::RunningModule();
  if (internal::EqualsNoCase(internal::Text(moduleName), "ntdll.dll")) return internal::Ntdll();
  if (!internal::EqualsNoCase(internal::Text(moduleName), "kernel32.dll")) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<HMODULE>(&g_kernel32);
}

namespace fake_win32::internal {

bool IsKernel32(HMODULE module) { return module == reinterpret_cast<HMODULE>(&g_kernel32); }

// What GetProcAddress (library.cpp) hands out for kernel32.
FARPROC Kernel32Function(LPCSTR procName) {
  const std::string name = procName && !IS_INTRESOURCE(procName) ? procName : "";
  if (!State().kernel32Functions.count(name)) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  // Through void(*)(), the way to say that the change of type is meant.
  if (name == "GetTempPath2W") {
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&internal::GetTempPath2W));
  }
  if (name == "SetProcessMitigationPolicy") {
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&internal::SetProcessMitigationPolicy));
  }
  SetLastError(ERROR_PROC_NOT_FOUND);
  return nullptr;
}

}  // namespace fake_win32::internal
