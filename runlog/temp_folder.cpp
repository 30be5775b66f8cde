#include "runlog/temp_folder.h"

#include <windows.h>

#include <memory>

#include "base/kernel32_function.h"
#include "base/unique_handle.h"

namespace vantu {
namespace {

// GetTempPath2W: Windows 11, Server 2022, and Windows 10 from the updates of
// 2025 on.
using GetTempPath2Function = DWORD(WINAPI*)(DWORD, LPWSTR);

}  // namespace

bool RunsAsLocalSystem() {
  HANDLE raw = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) return false;
  const UniqueKernelHandle token(raw);
  DWORD needed = 0;
  GetTokenInformation(token.get(), TokenUser, nullptr, 0, &needed);
  if (needed < sizeof(TOKEN_USER)) return false;
  std::unique_ptr<BYTE[]> buffer(new BYTE[needed]);
  if (!GetTokenInformation(token.get(), TokenUser, buffer.get(), needed, &needed)) return false;
  const auto* user = reinterpret_cast<const TOKEN_USER*>(buffer.get());
  return IsWellKnownSid(user->User.Sid, WinLocalSystemSid) != FALSE;
}

std::wstring TemporaryFolderForLog() {
  GetTempPath2Function getTempPath2 = nullptr;
  if (RunsAsLocalSystem()) getTempPath2 = FindKernel32Function<GetTempPath2Function>("GetTempPath2W");
  wchar_t folder[MAX_PATH + 1];
  const DWORD length = getTempPath2 ? getTempPath2(MAX_PATH + 1, folder) : GetTempPathW(MAX_PATH + 1, folder);
  if (length == 0 || length > MAX_PATH) return std::wstring();
  return std::wstring(folder, length);
}

}  // namespace vantu
