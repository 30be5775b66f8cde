// Test control of the in-memory Win32 subset (host builds only): set up the
// state that the API functions work on, look at what was called, and make any
// call fail on demand.
//
// The state is process-wide and meant for one thread at a time, except the
// component model's initialisation, which is per thread as on Windows.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "fake_win32/api.h"

namespace fake_win32 {

// Forgets every piece of state: registry, services, components, message
// boxes, faults, the call log and the resource ledger. Files start again in a
// fresh, empty host folder that holds the drive C: with "C:\Program Files
// (x86)" and "C:\windows" in it. The module path becomes C:\setup\setup.exe,
// the current folder C:\, and the calling thread is no longer initialised
// for the component model.
void Reset();

// ---------------------------------------------------------------------------
// Faults. Every function that can fail counts its calls. A fault makes the
// chosen call fail in the function's own way: a Win32 error code returned
// (registry) or left for GetLastError (the rest), or an HRESULT returned
// (component model, shell). `error` is that code. Calls that release
// something (RegCloseKey, CloseHandle, FindClose, CloseServiceHandle,
// VariantClear, SafeArrayDestroy, SafeArrayUnaccessData) still release when
// they are made to fail, so a fault there never leaks.
// ---------------------------------------------------------------------------
void FailCall(const std::string& function, int occurrence, uint32_t error);
void FailEveryCall(const std::string& function, uint32_t error);

// ---------------------------------------------------------------------------
// The call log: every API call with its arguments as text, in order.
// ---------------------------------------------------------------------------
struct Call {
  std::string function;
  std::vector<std::string> args;
};
const std::vector<Call>& Calls();
std::vector<Call> CallsTo(const std::string& function);
int CallCount(const std::string& function);
// Forgets the calls logged so far, and their counts (faults count from here).
void ClearCalls();
// The functions called, in order, without their arguments.
std::vector<std::string> CallSequence();

// While one lives, the calling thread's API calls are neither logged nor
// counted nor failed: for code that stands in for another process, such as
// a test's component.
class OffTheRecord {
 public:
  OffTheRecord();
  ~OffTheRecord();
  OffTheRecord(const OffTheRecord&) = delete;
  OffTheRecord& operator=(const OffTheRecord&) = delete;
};

// ---------------------------------------------------------------------------
// The resource ledger: handles, keys, searches, processes, arrays and strings
// that are open now, and every misuse seen (a double close, an unknown
// handle, destroying a locked array).
// ---------------------------------------------------------------------------
std::vector<std::string> OpenResources();
std::vector<std::string> Misuses();

// ---------------------------------------------------------------------------
// Module, current folder and message boxes.
// ---------------------------------------------------------------------------
void SetModuleFileName(const std::string& path);
// What GetLocalTime answers (after Reset: 2026-12-09 14:05:09.042).
void SetLocalTime(const SYSTEMTIME& time);
void SetCurrentFolder(const std::string& path);

// The process's ANSI code page, which the A functions read and write their
// texts in (after Reset: 1252). Every text of this control API is UTF-8.
void SetAnsiCodePage(UINT codePage);
UINT AnsiCodePage();

struct MessageBoxRecord {
  HWND owner;
  std::string text;
  std::string caption;
  UINT type;
};
const std::vector<MessageBoxRecord>& MessageBoxes();

// The window station's WSF_VISIBLE flag (after Reset: visible).
void SetWindowStationVisible(bool visible);
// What the process wrote to its standard output and error.
const std::string& StandardOutput();
const std::string& StandardError();

// Another process and a named mutex (names compare without case; "Alias\Name"
// lies in the private namespace of that alias, object_control.h): it holds
// the mutex and never lets go (a wait times out, the waited time passing on
// the tick count), it held it and ended without releasing it (the next wait
// returns WAIT_ABANDONED), or it releases it after `waitedMs` (the next wait
// succeeds, the tick count `waitedMs` later).
enum class OtherOwner { kNone, kHolds, kEnded, kReleasesAfter };
void SetMutexOwner(const std::string& name, OtherOwner owner, ULONGLONG waitedMs = 0);
// Whether this process owns the mutex now.
bool MutexOwnedHere(const std::string& name);

// ---------------------------------------------------------------------------
// Files. Windows paths map onto the host folder made by Reset: drive X: is
// the sub-folder X. Names are case-sensitive on the host.
// ---------------------------------------------------------------------------
std::string HostPath(const std::string& windowsPath);
std::string ProgramFilesFolder();
std::string WindowsFolder();
// While held, a file cannot be opened by anybody else: copying onto it fails
// with ERROR_SHARING_VIOLATION, as with a file opened without sharing.
void HoldOpen(const std::string& windowsPath);
void LetGo(const std::string& windowsPath);

// Links, each a symbolic link of the host at `windowsPath` that leads to
// `target` (a Windows path; it need not exist). With a reparse tag
// (IO_REPARSE_TAG_SYMLINK, IO_REPARSE_TAG_MOUNT_POINT or any other), the
// name is a reparse point as Windows shows one: listed with
// FILE_ATTRIBUTE_REPARSE_POINT and the tag in dwReserved0 (a folder when the
// target is one, or for a mount point), dangling or not, and opened as itself
// with FILE_FLAG_OPEN_REPARSE_POINT; without it (0), the name is what Wine
// makes of a Unix symbolic link: a link to a file is listed and opened as
// that file, a link to a folder is listed as a folder with
// FILE_ATTRIBUTE_REPARSE_POINT and no tag, a dangling link is not listed,
// and every open goes through to the target.
void MakeLink(const std::string& windowsPath, const std::string& target, DWORD reparseTag);

// A second name for an existing file (a hard link of the host).
void MakeHardLink(const std::string& windowsPath, const std::string& existing);

// Marks the existing file `windowsPath` as one that a file-system filter
// keeps, with `reparseTag` (a cloud file, a deduplicated one, ...): listed
// and shown by its handle with FILE_ATTRIBUTE_REPARSE_POINT and the tag,
// opened as itself with FILE_FLAG_OPEN_REPARSE_POINT; opened without it,
// through its filter: its data for the tags of the cloud files
// (0x9000?01A), deduplication (0x80000013) and WCI (0x80000018,
// 0x90001018), ERROR_CANT_ACCESS_FILE for any other (no filter handles it).
void SetFilterTag(const std::string& windowsPath, DWORD reparseTag);

// The running module is the file at its path now, from here on: renaming it
// and writing another file under its name does not change which file runs
// (NtAreMappedFilesTheSame). Without this call, the file at the module's
// path at the time of asking.
void MapRunningImage();

// The session the process runs in (ProcessIdToSessionId); 1 after Reset.
void SetSessionId(DWORD session);

// ---------------------------------------------------------------------------
// kernel32's functions that GetProcAddress finds (none after Reset): any of
// "GetTempPath2W" and "SetProcessMitigationPolicy". Each is in the call log
// under its own name when called.
// ---------------------------------------------------------------------------
void ProvideKernel32Function(const std::string& name);

// The account the process runs as: the local system account (true), or an
// administrator's (false, after Reset). GetTempPath2W answers
// C:\windows\SystemTemp\ for the first, as GetTempPathW for the second.
void SetRunningAsLocalSystem(bool system);
bool RunningAsLocalSystem();

// ---------------------------------------------------------------------------
// Processes. The program of a new process is the first token of its command
// line (quoted or up to the first blank); it must name an existing file. The
// runner, when set, stands in for the program: it gets the command line and
// returns the process's exit code.
// ---------------------------------------------------------------------------
void SetProcessRunner(std::function<DWORD(const std::string& commandLine)> runner);

// ---------------------------------------------------------------------------
// Services: registered as the service control manager would after a
// CreateServiceA, without a call in the log (for process runners).
// ---------------------------------------------------------------------------
void AddService(const std::string& name, const std::string& binaryPath);

// ---------------------------------------------------------------------------
// Components. A class registered here stands in for a registered server:
// CLSIDFromProgID finds it by ProgID and CoCreateInstance makes an object
// with `create` when the requested context includes `context`
// (CLSCTX_LOCAL_SERVER for a local server). `create` returns a new object
// with one reference, or null when the server cannot start.
// ---------------------------------------------------------------------------
void RegisterClass(const std::wstring& progId, const CLSID& clsid, DWORD context,
                   std::function<IDispatch*()> create);
bool IsComInitializedOnThisThread();

}  // namespace fake_win32

#include "fake_win32/module_control.h"
#include "fake_win32/object_control.h"
