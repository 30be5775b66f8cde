// Shared plumbing of the in-memory Win32 subset: the call log, faults, the
// resource ledger and the reset of each area.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "fake_win32/api.h"
#include "fake_win32/object_control.h"

namespace fake_win32::internal {

// Records the call and counts it; returns the error to fail it with, if a
// fault is set for this occurrence.
std::optional<uint32_t> Enter(const char* function, std::initializer_list<std::string> args);
// Records the call only (for functions that cannot fail).
void Record(const char* function, std::initializer_list<std::string> args);

// Arguments as the call log shows them, in UTF-8: an A function's text is
// read in the ANSI code page, a W function's as wide characters.
std::string Text(const char* s);          // "(null)" for null
std::string Text(const wchar_t* s);       // "(null)" for null
std::string Hex(uint64_t value);
std::string Ptr(const void* p);
std::string Num(int64_t value);

// Names and paths are kept as UTF-8 inside the subset (text.cpp).
std::string Utf8FromWide(const wchar_t* text, size_t size);
std::string Utf8FromWide(const std::wstring& text);
std::wstring WideFromUtf8(const std::string& text);
std::string Utf8FromAnsi(const char* text);
std::string AnsiFromUtf8(const std::string& text);

// Resource ledger. Kinds: "key", "scm", "find", "process", "thread",
// "file", "array", "bstr", "token", "mutex", "namespace", "boundary",
// "local memory", "environment", "module", "algorithm", "hash".
void Opened(const std::string& kind, const void* id);
// Returns false (and records a misuse) when `id` is not open as `kind`.
bool Closed(const std::string& kind, const void* id);
bool IsOpen(const std::string& kind, const void* id);
void Misuse(const std::string& what);

// Closes a file that CreateFileW opened; false when `handle` is no such file
// (CloseHandle then tries the other kinds of handle).
bool CloseFile(HANDLE handle);

// Closes a token that OpenProcessToken opened; false when `handle` is none.
bool CloseToken(HANDLE handle);

// kernel32's functions that only GetProcAddress hands out.
DWORD WINAPI GetTempPath2W(DWORD size, LPWSTR buffer);
BOOL WINAPI SetProcessMitigationPolicy(int policy, PVOID buffer, SIZE_T length);

// Handle numbers that do not collide between areas.
uintptr_t NewHandleValue();

// Equality and ordering that ignore ASCII case, as Windows names do.
bool EqualsNoCase(const std::string& a, const std::string& b);
struct LessNoCase {
  bool operator()(const std::string& a, const std::string& b) const;
};

// Per-area state resets, called by fake_win32::Reset.
void ResetRegistry();
void ResetServices();
void ResetProcesses();
void ResetFiles();
void ResetProfiles();
void ResetShell();
void ResetCom();
void ResetAutomation();
void ResetModule();
void ResetText();
void ResetSession();

// The standard handles (session.cpp): false when the handle is none of
// theirs.
bool WriteStandard(HANDLE handle, const void* data, DWORD size);
// Lets time pass on the tick count (a wait that times out).
void AdvanceTicks(ULONGLONG milliseconds);

void ResetCrypto();
void ResetLibraries();
void ResetResources();
void ResetSecurity();
void ResetObjects();
void ResetEnvironment();

// SIDs and ACLs as bytes in Windows' layouts (security.cpp).
std::string SidFromText(const std::string& text);
std::string TextOfSid(const void* sid);
size_t SidSize(const void* sid);
std::string AclFromEntries(const std::vector<AccessEntry>& entries);
std::vector<AccessEntry> EntriesOfAcl(const void* acl);
// Who an object lets in: an empty owner is none; no DACL lets everybody in.
struct Security {
  std::string owner;
  bool daclPresent = true;
  std::string acl;
};
// The security an object is made with: from `descriptor` (absolute), or the
// token's defaults (owner Administrators; Administrators and the local
// system account allowed) without one. False, with the error set, for an
// owner the token may not give.
bool SecurityToMake(const SECURITY_DESCRIPTOR* descriptor, Security* security);
// Whether `security` grants the token every right in `requested`
// (GENERIC_ALL grants every right).
bool Grants(const Security& security, DWORD requested);
// Whether the token holds the SID.
bool TokenHolds(const std::string& sid);

// Named objects (objects.cpp): false / nullopt when the handle is none of theirs.
std::optional<DWORD> WaitForMutex(HANDLE handle, DWORD milliseconds);
bool CloseMutex(HANDLE handle);
// kernel32's namespace functions that GetProcAddress hands out; null for
// the others.
FARPROC NamespaceFunction(const std::string& name);

// userenv.dll's functions (environment.cpp).
BOOL WINAPI CreateEnvironmentBlock(LPVOID* environment, HANDLE token, BOOL inherit);
BOOL WINAPI DestroyEnvironmentBlock(LPVOID environment);

// kernel32 as GetModuleHandleW hands it out, and the functions of it that a
// test provides (security.cpp).
bool IsKernel32(HMODULE module);
FARPROC Kernel32Function(LPCSTR procName);

// Which file something is: the host's device and inode.
struct FileId {
  uint64_t device = 0;
  uint64_t inode = 0;
  bool operator==(const FileId& other) const { return device == other.device && inode == other.inode; }
};
// The file at a Windows path, every link followed; the file a CreateFileW
// handle is open on (files.cpp).
bool IdOfPath(const std::string& windowsPath, FileId* id);
bool IdOfHandle(HANDLE handle, FileId* id);
// The running module's path, UTF-8 (module.cpp).
const std::string& ModuleFileName();

// The running module and ntdll as GetModuleHandleW hands them out, ntdll's
// functions, and the mappings of files (image.cpp).
void ResetImage();
HMODULE RunningModule();
HMODULE Ntdll();
FARPROC NtdllFunction(LPCSTR procName);
bool CloseMapping(HANDLE handle);

}  // namespace fake_win32::internal
