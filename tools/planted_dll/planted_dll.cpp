// planted_dll.dll: stands for a DLL that someone dropped into the folder a
// program starts from, under the name of a DLL that the program (or Windows
// on its behalf) loads by name at run time. It does nothing but leave a
// trace: on every load into a process it appends one line to
// C:\planted_dll.log,
//
//     <image path of the loading process>|<path this DLL was loaded from>
//
// and lets the load succeed. The end-to-end cases copy it beside setup.exe
// as uxtheme.dll and read the log afterwards: no line means no process
// loaded it.
#include <windows.h>

namespace {

constexpr wchar_t kLogPath[] = L"C:\\planted_dll.log";

// Appends text (UTF-16, converted to UTF-8) to the log. Best effort: a DLL
// that only reports has nothing better to do when the log cannot be written.
void Append(const wchar_t* text, int length) {
  char bytes[4 * MAX_PATH * 2 + 8];
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, length, bytes, static_cast<int>(sizeof bytes), nullptr,
                                       nullptr);
  if (size <= 0) return;
  HANDLE log = CreateFileW(kLogPath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (log == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(log, bytes, static_cast<DWORD>(size), &written, nullptr);
  CloseHandle(log);
}

void RecordLoad(HMODULE self) {
  wchar_t line[2 * MAX_PATH + 4];
  DWORD used = GetModuleFileNameW(nullptr, line, MAX_PATH);
  if (used >= MAX_PATH) used = 0;
  line[used++] = L'|';
  DWORD own = GetModuleFileNameW(self, line + used, MAX_PATH);
  if (own >= MAX_PATH) own = 0;
  used += own;
  line[used++] = L'\r';
  line[used++] = L'\n';
  Append(line, static_cast<int>(used));
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    DisableThreadLibraryCalls(instance);
    RecordLoad(instance);
  }
  return TRUE;
}
