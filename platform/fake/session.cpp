// What a process sees of its session: its window station (visible or not),
// its standard output and error (captured for tests), named mutexes and the
// tick count.
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

struct Mutex {
  std::string name;   // UTF-8, empty for an unnamed one
  int handles = 0;    // open handles to it
  bool ownedHere = false;   // owned by this process's thread
  OtherOwner other = OtherOwner::kNone;
};

struct SessionState {
  bool stationVisible = true;
  std::string output;
  std::string error;
  std::map<uintptr_t, std::string> mutexHandles;  // handle -> name key
  std::map<std::string, Mutex> mutexes;           // by upper-cased name (or a handle's own key)
  ULONGLONG ticks = 1000000;
  ULONGLONG tickStep = 0;
};

SessionState& State() {
  static SessionState state;
  return state;
}

std::string Key(const std::string& name) {
  std::string key;
  for (const char c : name) key += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  return key;
}

}  // namespace

namespace internal {

void ResetSession() {
  auto& state = State();
  state.stationVisible = true;
  state.output.clear();
  state.error.clear();
  state.mutexHandles.clear();
  state.mutexes.clear();
  state.ticks = 1000000;
  state.tickStep = 0;
}

bool WriteStandard(HANDLE handle, const void* data, DWORD size) {
  auto& state = State();
  if (handle != kStandardOutput && handle != kStandardError) return false;
  (handle == kStandardOutput ? state.output : state.error).append(static_cast<const char*>(data), size);
  return true;
}

std::optional<DWORD> WaitForMutex(HANDLE handle, DWORD milliseconds) {
  auto& state = State();
  const auto found = state.mutexHandles.find(reinterpret_cast<uintptr_t>(handle));
  if (found == state.mutexHandles.end()) return std::nullopt;
  Mutex& mutex = state.mutexes[found->second];
  switch (mutex.other) {
    case OtherOwner::kHolds:
      // Held by another process for longer than anyone waits.
      state.ticks += milliseconds == INFINITE ? 0 : milliseconds;
      return WAIT_TIMEOUT;
    case OtherOwner::kEnded:
      mutex.other = OtherOwner::kNone;
      mutex.ownedHere = true;
      return WAIT_ABANDONED;
    case OtherOwner::kReleasesAfter:
      // Lets go `tickStep` after the first wait began.
      if (milliseconds != INFINITE && milliseconds < state.tickStep) {
        state.ticks += milliseconds;
        state.tickStep -= milliseconds;
        return WAIT_TIMEOUT;
      }
      mutex.other = OtherOwner::kNone;
      mutex.ownedHere = true;
      state.ticks += state.tickStep;
      return WAIT_OBJECT_0;
    case OtherOwner::kNone:
      break;
  }
  mutex.ownedHere = true;
  return WAIT_OBJECT_0;
}

bool CloseMutex(HANDLE handle) {
  auto& state = State();
  const auto found = state.mutexHandles.find(reinterpret_cast<uintptr_t>(handle));
  if (found == state.mutexHandles.end()) return false;
  Mutex& mutex = state.mutexes[found->second];
  if (--mutex.handles == 0 && mutex.other == OtherOwner::kNone) state.mutexes.erase(found->second);
  state.mutexHandles.erase(found);
  Closed("mutex", handle);
  return true;
}

}  // namespace internal

void SetWindowStationVisible(bool visible) { State().stationVisible = visible; }
const std::string& StandardOutput() { return State().output; }
const std::string& StandardError() { return State().error; }

void SetMutexOwner(const std::string& name, OtherOwner owner, ULONGLONG waitedMs) {
  auto& state = State();
  Mutex& mutex = state.mutexes[Key(name)];
  mutex.name = name;
  mutex.other = owner;
  state.tickStep = waitedMs;
}

bool MutexOwnedHere(const std::string& name) {
  const auto found = State().mutexes.find(Key(name));
  return found != State().mutexes.end() && found->second.ownedHere;
}

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

HANDLE WINAPI CreateMutexW(LPSECURITY_ATTRIBUTES security, BOOL initialOwner, LPCWSTR name) {
  if (auto fault = Enter("CreateMutexW", {Ptr(security), Num(initialOwner), Text(name)})) {
    SetLastError(*fault);
    return nullptr;
  }
  auto& state = State();
  const uintptr_t value = internal::NewHandleValue();
  const std::string key = name ? Key(Text(name)) : "#" + std::to_string(value);
  Mutex& mutex = state.mutexes[key];
  const bool existed = mutex.handles > 0 || mutex.other != OtherOwner::kNone;
  mutex.name = name ? Text(name) : std::string();
  ++mutex.handles;
  if (initialOwner && !existed) mutex.ownedHere = true;
  state.mutexHandles[value] = key;
  HANDLE handle = reinterpret_cast<HANDLE>(value);
  internal::Opened("mutex", handle);
  SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return handle;
}

BOOL WINAPI ReleaseMutex(HANDLE handle) {
  auto fault = Enter("ReleaseMutex", {Ptr(handle)});
  auto& state = State();
  const auto found = state.mutexHandles.find(reinterpret_cast<uintptr_t>(handle));
  if (found == state.mutexHandles.end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  Mutex& mutex = state.mutexes[found->second];
  if (!mutex.ownedHere) {
    SetLastError(288);  // ERROR_NOT_OWNER
    return FALSE;
  }
  mutex.ownedHere = false;
  if (fault) {
    SetLastError(*fault);
    return FALSE;
  }
  return TRUE;
}

ULONGLONG WINAPI GetTickCount64() {
  internal::Record("GetTickCount64", {});
  return State().ticks;
}
