// Reading a file opened with GENERIC_READ (CreateFileW in api.h): ReadFile
// from the handle's position to the end. A reparse point opened as itself
// (FILE_FLAG_OPEN_REPARSE_POINT), or a folder, reads as empty.
#pragma once

#include "fake_win32/api.h"

#define FILE_FLAG_SEQUENTIAL_SCAN 0x08000000u
#define ERROR_CANT_ACCESS_FILE 1920L

BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead, LPVOID overlapped);
