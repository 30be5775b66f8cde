// The running module's path and message boxes.
#include <algorithm>
#include <cstring>
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

struct ModuleState {
  std::string moduleFileName;  // UTF-8
  std::vector<MessageBoxRecord> boxes;
  SYSTEMTIME localTime{};
};

ModuleState& State() {
  static ModuleState state;
  return state;
}

}  // namespace

namespace internal {
void ResetModule() {
  State().moduleFileName = "C:\\setup\\setup.exe";
  State().boxes.clear();
  State().localTime = SYSTEMTIME{2026, 12, 3, 9, 14, 5, 9, 42};
}
}  // namespace internal

void SetModuleFileName(const std::string& path) { State().moduleFileName = path; }

namespace internal {
const std::string& ModuleFileName() { return State().moduleFileName; }
}  // namespace internal
void SetLocalTime(const SYSTEMTIME& time) { State().localTime = time; }

const std::vector<MessageBoxRecord>& MessageBoxes() { return State().boxes; }

}  // namespace fake_win32

using namespace fake_win32;

namespace {

// As on Windows since Vista: a path that does not fit is cut to size - 1
// characters plus the terminator, and the count returned is then size.
template <typename Char>
DWORD CopyModuleFileName(const std::basic_string<Char>& path, Char* fileName, DWORD size) {
  if (size == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  if (path.size() < size) {
    std::copy(path.c_str(), path.c_str() + path.size() + 1, fileName);
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(path.size());
  }
  std::copy(path.data(), path.data() + size - 1, fileName);
  fileName[size - 1] = Char(0);
  SetLastError(ERROR_INSUFFICIENT_BUFFER);
  return size;
}

}  // namespace

DWORD WINAPI GetModuleFileNameW(HMODULE module, LPWSTR fileName, DWORD size) {
  if (auto fault = Enter("GetModuleFileNameW", {Ptr(module), Num(size)})) {
    SetLastError(*fault);
    return 0;
  }
  if (module) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  return CopyModuleFileName(internal::WideFromUtf8(State().moduleFileName), fileName, size);
}

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  if (auto fault = Enter("MessageBoxA", {Ptr(owner), Text(text), Text(caption), Hex(type)})) {
    SetLastError(*fault);
    return 0;
  }
  State().boxes.push_back(MessageBoxRecord{owner, text ? text : "", caption ? caption : "Error", type});
  return IDOK;
}

void WINAPI GetLocalTime(LPSYSTEMTIME time) {
  internal::Record("GetLocalTime", {});
  if (time) *time = State().localTime;
}

namespace {

template <typename Char>
DWORD SystemMessage(DWORD flags, DWORD messageId, Char* buffer, DWORD size) {
  // The system's texts of the codes the product reports, with the line
  // break the system ends them with.
  static const struct {
    DWORD code;
    const char* text;
  } kTexts[] = {
      {2, "The system cannot find the file specified.\r\n"},
      {3, "The system cannot find the path specified.\r\n"},
      {5, "Access is denied.\r\n"},
      {6, "The handle is invalid.\r\n"},
      {8, "Not enough memory resources are available to process this command.\r\n"},
      {32, "The process cannot access the file because it is being used by another process.\r\n"},
      {33, "The process cannot access the file because another process has locked a portion of the file.\r\n"},
      {39, "The disk is full.\r\n"},
      {112, "There is not enough space on the disk.\r\n"},
      {206, "The filename or extension is too long.\r\n"},
      {1920, "The file cannot be accessed by the system.\r\n"},
  };
  if (!(flags & FORMAT_MESSAGE_FROM_SYSTEM) || !buffer) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  for (const auto& entry : kTexts) {
    if (entry.code != messageId) continue;
    const size_t length = std::strlen(entry.text);
    if (length >= size) {
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return 0;
    }
    std::copy(entry.text, entry.text + length + 1, buffer);
    return static_cast<DWORD>(length);
  }
  SetLastError(317);  // ERROR_MR_MID_NOT_FOUND
  return 0;
}

}  // namespace

DWORD WINAPI FormatMessageW(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId, LPWSTR buffer,
                            DWORD size, void* arguments) {
  if (auto fault = Enter("FormatMessageW", {Hex(flags), Ptr(source), Num(messageId), Num(languageId),
                                            Num(size), Ptr(arguments)})) {
    SetLastError(*fault);
    return 0;
  }
  return SystemMessage(flags, messageId, buffer, size);
}

HRSRC WINAPI FindResourceA(HMODULE module, LPCSTR name, LPCSTR type) {
  if (auto fault = Enter("FindResourceA", {Ptr(module), Ptr(name), Ptr(type)})) {
    SetLastError(*fault);
    return nullptr;
  }
  SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
  return nullptr;
}
