// Opening an existing file to read it: CreateFileW with GENERIC_READ and
// OPEN_EXISTING only, ReadFile, GetFileInformationByHandle. CloseHandle
// closes these handles too (ledger kind "file").
//
// Sharing follows Windows between the handles opened here: an open that the
// share mode of an open handle does not allow (or that would not allow an
// open handle's access) fails with ERROR_SHARING_VIOLATION, as does one of
// a file held with HoldOpen. Copies (CopyFileA) do not see these handles.
// A symbolic link is followed, unless FILE_FLAG_OPEN_REPARSE_POINT asks for
// the link itself: its handle reports FILE_ATTRIBUTE_REPARSE_POINT and reads
// nothing. A folder cannot be opened (ERROR_ACCESS_DENIED).
#pragma once

#include "fake_win32/api.h"

#define GENERIC_READ 0x80000000u
#define FILE_FLAG_SEQUENTIAL_SCAN 0x08000000u
#define FILE_FLAG_OPEN_REPARSE_POINT 0x00200000u
#define FILE_ATTRIBUTE_REPARSE_POINT 0x00000400u
#define ERROR_CANT_ACCESS_FILE 1920L

struct BY_HANDLE_FILE_INFORMATION {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD dwVolumeSerialNumber;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD nNumberOfLinks;
  DWORD nFileIndexHigh;
  DWORD nFileIndexLow;
};
typedef BY_HANDLE_FILE_INFORMATION* LPBY_HANDLE_FILE_INFORMATION;

HANDLE WINAPI CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                          DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE templateFile);
BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead, LPVOID overlapped);
BOOL WINAPI GetFileInformationByHandle(HANDLE file, LPBY_HANDLE_FILE_INFORMATION information);
