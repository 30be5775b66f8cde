// object_holder.exe: a program of the user's own that makes a named kernel
// object first and keeps it, to show what a run guard does with a name that
// it did not make.
//
//   object_holder.exe <kind> <name> <sddl> <ready marker> <release marker> [<timeout ms>]
//
// <kind>: "mutex" (made and owned: held), "free-mutex" (made, not owned),
// "event" or "semaphore". <sddl>: the security descriptor to make it with,
// in SDDL ("O:BAD:P(A;;GA;;;BA)(A;;GA;;;SY)"), or "-" for none. Makes the
// object, then makes <ready marker> holding one line: the error code the create
// left (0, or 183 when the name was there) and the object's owner and DACL
// as GetSecurityInfo tells them, in SDDL. Waits until <release marker>
// exists, or until <timeout ms> (default 60000) have passed, then closes it
// and ends.
//
// Exit code: 0 released, 1 the object could not be made (the error code on
// standard error; no ready marker), 2 the time-out passed, 3 the ready
// marker could not be made, 4 bad command line.
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

#include "base/unique_handle.h"

namespace {

using vantu::UniqueKernelHandle;
using vantu::UniqueLocalMemory;

bool Exists(const wchar_t* path) { return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES; }

HANDLE Make(const std::wstring& kind, const wchar_t* name, SECURITY_ATTRIBUTES* security) {
  if (kind == L"mutex") return CreateMutexW(security, TRUE, name);
  if (kind == L"free-mutex") return CreateMutexW(security, FALSE, name);
  if (kind == L"event") return CreateEventW(security, TRUE, FALSE, name);
  if (kind == L"semaphore") return CreateSemaphoreW(security, 1, 1, name);
  SetLastError(ERROR_INVALID_PARAMETER);
  return nullptr;
}

std::string SecurityText(HANDLE object) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD error = GetSecurityInfo(object, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                      nullptr, nullptr, nullptr, nullptr, &descriptor);
  const UniqueLocalMemory held(descriptor);
  if (error != ERROR_SUCCESS) return "(GetSecurityInfo: " + std::to_string(error) + ")";
  char* text = nullptr;
  if (!ConvertSecurityDescriptorToStringSecurityDescriptorA(
          descriptor, SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text, nullptr)) {
    return "(no text)";
  }
  const UniqueLocalMemory textHeld(text);
  return text;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 6 || argc > 7) {
    std::fprintf(stderr, "usage: object_holder.exe <kind> <name> <sddl> <ready marker> <release marker> [<timeout ms>]\n");
    return 4;
  }
  const DWORD timeout = argc == 7 ? static_cast<DWORD>(std::wcstoul(argv[6], nullptr, 0)) : 60000;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (std::wcscmp(argv[3], L"-") != 0 &&
      !ConvertStringSecurityDescriptorToSecurityDescriptorW(argv[3], SDDL_REVISION_1, &descriptor, nullptr)) {
    std::fprintf(stderr, "object_holder: bad SDDL: error %lu\n", GetLastError());
    return 4;
  }
  const UniqueLocalMemory descriptorHeld(descriptor);
  SECURITY_ATTRIBUTES security{sizeof security, descriptor, FALSE};
  SetLastError(ERROR_SUCCESS);
  const UniqueKernelHandle object(Make(argv[1], argv[2], descriptor ? &security : nullptr));
  const DWORD made = GetLastError();
  if (!object) {
    std::fprintf(stderr, "object_holder: cannot make %ls %ls: error %lu\n", argv[1], argv[2], made);
    return 1;
  }
  const std::string line = std::to_string(made) + " " + SecurityText(object.get()) + "\n";
  // Written aside and renamed: whoever sees the marker sees its line.
  const std::wstring aside = std::wstring(argv[4]) + L".tmp";
  FILE* ready = _wfopen(aside.c_str(), L"wb");
  const bool written = ready && std::fputs(line.c_str(), ready) >= 0;
  if (ready) std::fclose(ready);
  if (!written || !MoveFileW(aside.c_str(), argv[4])) {
    std::fprintf(stderr, "object_holder: cannot make %ls\n", argv[4]);
    return 3;
  }
  const ULONGLONG start = GetTickCount64();
  while (!Exists(argv[5])) {
    if (GetTickCount64() - start >= timeout) return 2;
    Sleep(20);
  }
  return 0;
}
