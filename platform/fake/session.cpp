// What a process sees of its session: its window station (visible or not),
// its standard output and error (captured for tests) and the tick count.
#include <map>
#include <string>

#include "fake_win32/control.h"
#include "internal.h"

namespace fake_win32 {
namespace {

using internal::Enter;
using internal::Hex;
using internal::Num;
using internal::Ptr;
using internal::Text;

// Handle values that stand for the standard handles and the window station.
const HANDLE kStandardOutput = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x7001));
const HANDLE kStandardError = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x7002));
const HWINSTA kWindowStation = reinterpret_cast<HWINSTA>(static_cast<uintptr_t>(0x7003));

struct SessionState {
  bool stationVisible = true;
  std::string output;
  std::string error;
  ULONGLONG ticks = 1000000;
};

SessionState& State() {
  static SessionState state;
  return state;
}

}  // namespace

namespace internal {

void ResetSession() {
  auto& state = State();
  state.stationVisible = true;
  state.output.clear();
  state.error.clear();
  state.ticks = 1000000;
}

bool WriteStandard(HANDLE handle, const void* data, DWORD size) {
  auto& state = State();
  if (handle != kStandardOutput && handle != kStandardError) return false;
  (handle == kStandardOutput ? state.output : state.error).append(static_cast<const char*>(data), size);
  return true;
}

void AdvanceTicks(ULONGLONG milliseconds) { State().ticks += milliseconds; }

}  // namespace internal

void SetWindowStationVisible(bool visible) { State().stationVisible = visible; }
const std::string& StandardOutput() { return State().output; }
const std::string& StandardError() { return State().error; }

}  // namespace fake_win32

using namespace fake_win32;

HWINSTA WINAPI GetProcessWindowStation() {
  if (auto fault = Enter("GetProcessWindowStation", {})) {
    SetLastError(*fault);
    return nullptr;
  }
  return kWindowStation;
}

BOOL WINAPI GetUserObjectInformationW(HANDLE object, int index, PVOID information, DWORD length, LPDWORD needed) {
  if (auto fault = Enter("GetUserObjectInformationW", {Ptr(object), Num(index), Ptr(information), Num(length)})) {
    SetLastError(*fault);
    return FALSE;
  }
  if (object != kWindowStation || index != UOI_FLAGS) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (needed) *needed = sizeof(USEROBJECTFLAGS);
  if (!information || length < sizeof(USEROBJECTFLAGS)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  auto* flags = static_cast<USEROBJECTFLAGS*>(information);
  *flags = USEROBJECTFLAGS{};
  flags->dwFlags = State().stationVisible ? WSF_VISIBLE : 0;
  return TRUE;
}

HANDLE WINAPI GetStdHandle(DWORD which) {
  internal::Record("GetStdHandle", {Hex(which)});
  if (which == STD_OUTPUT_HANDLE) return kStandardOutput;
  if (which == STD_ERROR_HANDLE) return kStandardError;
  return nullptr;
}

ULONGLONG WINAPI GetTickCount64() {
  internal::Record("GetTickCount64", {});
  return State().ticks;
}
