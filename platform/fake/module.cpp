// The running module's path and message boxes.
#include <cstring>

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
  std::string moduleFileName;
  std::vector<MessageBoxRecord> boxes;
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
}
}  // namespace internal

void SetModuleFileName(const std::string& path) { State().moduleFileName = path; }

const std::vector<MessageBoxRecord>& MessageBoxes() { return State().boxes; }

}  // namespace fake_win32

using namespace fake_win32;

// As on Windows since Vista: a path that does not fit is cut to size - 1
// characters plus the terminator, and the count returned is then size.
DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size) {
  if (auto fault = Enter("GetModuleFileNameA", {Ptr(module), Num(size)})) {
    SetLastError(*fault);
    return 0;
  }
  if (module) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  if (size == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  const std::string& path = State().moduleFileName;
  if (path.size() < size) {
    std::memcpy(fileName, path.c_str(), path.size() + 1);
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(path.size());
  }
  std::memcpy(fileName, path.data(), size - 1);
  fileName[size - 1] = '\0';
  SetLastError(ERROR_INSUFFICIENT_BUFFER);
  return size;
}

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  if (auto fault = Enter("MessageBoxA", {Ptr(owner), Text(text), Text(caption), Hex(type)})) {
    SetLastError(*fault);
    return 0;
  }
  State().boxes.push_back(MessageBoxRecord{owner, text ? text : "", caption ? caption : "Error", type});
  return IDOK;
}
