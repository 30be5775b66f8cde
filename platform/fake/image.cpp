// The running image as memory maps it: file mappings and their views, ntdll's
// NtAreMappedFilesTheSame, and the session the process runs in.
#include <map>
#include <memory>
#include <optional>

#include "fake_win32/control.h"
#include "internal.h"

namespace fake_win32 {
namespace {

using internal::Enter;
using internal::FileId;
using internal::Hex;
using internal::Num;
using internal::Ptr;

struct ImageState {
  std::optional<FileId> pinned;               // the file mapped as the running module
  std::map<uintptr_t, FileId> mappings;       // CreateFileMappingW's handles
  std::map<const void*, std::unique_ptr<char[]>> views;
  std::map<const void*, FileId> viewFiles;
  DWORD session = 1;
};

ImageState& State() {
  static ImageState state;
  return state;
}

// The running module's own address, as GetModuleHandleW(nullptr) hands it out.
char g_image;
// ntdll's, as GetModuleHandleW(L"ntdll.dll") hands it out.
char g_ntdll;

// The file mapped as the running module: pinned by MapRunningImage, else
// the file at the module's path now.
std::optional<FileId> ImageFile() {
  if (State().pinned) return State().pinned;
  FileId id;
  if (!internal::IdOfPath(internal::ModuleFileName(), &id)) return std::nullopt;
  return id;
}

std::optional<FileId> FileOfAddress(const void* address) {
  if (address == &g_image) return ImageFile();
  const auto found = State().viewFiles.find(address);
  if (found == State().viewFiles.end()) return std::nullopt;
  return found->second;
}

constexpr LONG kStatusSuccess = 0;
constexpr LONG kStatusNotSameDevice = static_cast<LONG>(0xC00000D4);
constexpr LONG kStatusInvalidAddress = static_cast<LONG>(0xC0000141);

LONG WINAPI NtAreMappedFilesTheSame(PVOID first, PVOID second) {
  internal::Record("NtAreMappedFilesTheSame", {Ptr(first), Ptr(second)});
  const std::optional<FileId> a = FileOfAddress(first);
  const std::optional<FileId> b = FileOfAddress(second);
  if (!a || !b) return kStatusInvalidAddress;
  return *a == *b ? kStatusSuccess : kStatusNotSameDevice;
}

}  // namespace

namespace internal {

void ResetImage() {
  auto& state = State();
  state.pinned.reset();
  state.mappings.clear();
  state.views.clear();
  state.viewFiles.clear();
  state.session = 1;
}

HMODULE RunningModule() { return reinterpret_cast<HMODULE>(&g_image); }
HMODULE Ntdll() { return reinterpret_cast<HMODULE>(&g_ntdll); }

FARPROC NtdllFunction(LPCSTR procName) {
  const std::string name = procName && !IS_INTRESOURCE(procName) ? procName : "";
  if (name == "NtAreMappedFilesTheSame") {
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&NtAreMappedFilesTheSame));
  }
  SetLastError(ERROR_PROC_NOT_FOUND);
  return nullptr;
}

bool CloseMapping(HANDLE handle) {
  if (State().mappings.erase(reinterpret_cast<uintptr_t>(handle)) == 0) return false;
  Closed("mapping", handle);
  return true;
}

}  // namespace internal

void MapRunningImage() {
  FileId id;
  if (internal::IdOfPath(internal::ModuleFileName(), &id)) State().pinned = id;
}

void SetSessionId(DWORD session) { State().session = session; }

}  // namespace fake_win32

using namespace fake_win32;

HANDLE WINAPI CreateFileMappingW(HANDLE file, LPSECURITY_ATTRIBUTES security, DWORD protect, DWORD sizeHigh,
                                 DWORD sizeLow, LPCWSTR name) {
  if (auto fault = Enter("CreateFileMappingW", {Ptr(file), Ptr(security), Hex(protect), Num(sizeHigh), Num(sizeLow),
                                                internal::Text(name)})) {
    SetLastError(*fault);
    return nullptr;
  }
  FileId id;
  if (!internal::IdOfHandle(file, &id)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  const uintptr_t value = internal::NewHandleValue();
  State().mappings[value] = id;
  HANDLE handle = reinterpret_cast<HANDLE>(value);
  internal::Opened("mapping", handle);
  return handle;
}

LPVOID WINAPI MapViewOfFile(HANDLE mapping, DWORD access, DWORD offsetHigh, DWORD offsetLow, SIZE_T bytes) {
  if (auto fault = Enter("MapViewOfFile", {Ptr(mapping), Hex(access), Num(offsetHigh), Num(offsetLow),
                                           Num(static_cast<int64_t>(bytes))})) {
    SetLastError(*fault);
    return nullptr;
  }
  const auto found = State().mappings.find(reinterpret_cast<uintptr_t>(mapping));
  if (found == State().mappings.end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  std::unique_ptr<char[]> page(new char[4096]());
  void* address = page.get();
  State().viewFiles[address] = found->second;
  State().views[address] = std::move(page);
  internal::Opened("view", address);
  return address;
}

BOOL WINAPI UnmapViewOfFile(LPCVOID address) {
  auto fault = Enter("UnmapViewOfFile", {Ptr(address)});
  if (!State().views.erase(address)) {
    internal::Closed("view", address);  // records the misuse
    SetLastError(ERROR_INVALID_ADDRESS);
    return FALSE;
  }
  State().viewFiles.erase(address);
  internal::Closed("view", address);
  if (fault) {
    SetLastError(*fault);
    return FALSE;
  }
  return TRUE;
}

BOOL WINAPI ProcessIdToSessionId(DWORD processId, DWORD* session) {
  if (auto fault = Enter("ProcessIdToSessionId", {Num(processId)})) {
    SetLastError(*fault);
    return FALSE;
  }
  if (!session || processId != GetCurrentProcessId()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *session = State().session;
  return TRUE;
}
