// Modules: loading a DLL of the system folder, its functions, the system
// folder's path, and the running module's resources.
//
// The system folder holds two DLLs here: bcrypt.dll, whose functions are
// those of crypto_api.h, and userenv.dll, with CreateEnvironmentBlock and
// DestroyEnvironmentBlock (the machine's default environment, set through
// object_control.h; a block that takes in the caller's environment is
// recorded as a misuse, the blocks go through the ledger as
// "environment"). Loaded modules go through the resource ledger
// ("module"). A load of a DLL by bare name without LOAD_LIBRARY_SEARCH_
// SYSTEM32 goes through the standard search, which on Windows looks in the
// program's own folder first: it still loads here, and is recorded as a
// misuse. Every function logs its call and fails on demand.
#pragma once

#include "fake_win32/api.h"

typedef intptr_t(WINAPI* FARPROC)();

#define LOAD_WITH_ALTERED_SEARCH_PATH 0x00000008u
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800u
#define ERROR_MOD_NOT_FOUND 126L
#define ERROR_PROC_NOT_FOUND 127L

// Windows 7 without KB2533623 knows no LOAD_LIBRARY_SEARCH_* flag and
// answers it with ERROR_INVALID_PARAMETER; see SetLibrarySearchFlagsKnown.
HMODULE WINAPI LoadLibraryExW(LPCWSTR fileName, HANDLE reserved, DWORD flags);
FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR procName);
BOOL WINAPI FreeLibrary(HMODULE module);
// C:\windows\system32, without a trailing backslash. Too small a buffer: the
// size needed, terminator included.
UINT WINAPI GetSystemDirectoryW(LPWSTR buffer, UINT size);

// The running module's resources (module null), as set by
// SetModuleResource. A resource is found by number (MAKEINTRESOURCEW) or by
// name, ignoring case; "#10" names the number 10, as on Windows.
#define MAKEINTRESOURCEW(i) (reinterpret_cast<LPWSTR>(static_cast<uintptr_t>(static_cast<WORD>(i))))
#define IS_INTRESOURCE(r) ((reinterpret_cast<uintptr_t>(r) >> 16) == 0)
#define ERROR_RESOURCE_DATA_NOT_FOUND 1812L
#define ERROR_RESOURCE_NAME_NOT_FOUND 1814L
HRSRC WINAPI FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type);
