// The subset of the Win32 API that this project uses, for builds on hosts
// other than Windows. Names, values and signatures follow the Windows SDK;
// the functions are backed by in-memory state (and, for files, by a real host
// folder) that tests set up, inspect and make fail through fake_win32/control.h.
//
// Widths follow 32-bit Windows where the product relies on them: DWORD, LONG,
// ULONG and HRESULT are 32 bits here even though long is 64 bits on the host.
#pragma once

#include <cstddef>
#include <cstdint>

// ---------------------------------------------------------------------------
// Calling conventions and basic types
// ---------------------------------------------------------------------------
#define WINAPI
#define STDMETHODCALLTYPE
#define CALLBACK
#define APIENTRY

typedef int BOOL;
typedef unsigned char BYTE;
typedef char CHAR;
typedef int16_t SHORT;
typedef uint16_t USHORT;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int INT;
typedef unsigned int UINT;
typedef uint32_t UINT32;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef int64_t LONGLONG;
typedef uint64_t ULONGLONG;
typedef uintptr_t ULONG_PTR;
typedef uintptr_t DWORD_PTR;
typedef size_t SIZE_T;
typedef wchar_t WCHAR;
typedef WCHAR OLECHAR;
typedef CHAR* LPSTR;
typedef const CHAR* LPCSTR;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;
typedef OLECHAR* LPOLESTR;
typedef const OLECHAR* LPCOLESTR;
typedef OLECHAR* BSTR;
typedef void* LPVOID;
typedef void* PVOID;
typedef const void* LPCVOID;
typedef BYTE* LPBYTE;
typedef const BYTE* LPCBYTE;
typedef DWORD* LPDWORD;
typedef LONG HRESULT;
typedef LONG SCODE;
typedef LONG LSTATUS;
typedef DWORD LCID;
typedef LONG DISPID;
typedef USHORT VARTYPE;
typedef SHORT VARIANT_BOOL;
typedef double DATE;
typedef DWORD REGSAM;

typedef void* HANDLE;
typedef HANDLE* PHANDLE;
struct HKEY__;
typedef HKEY__* HKEY;
typedef HKEY* PHKEY;
struct HWND__;
typedef HWND__* HWND;
struct HINSTANCE__;
typedef HINSTANCE__* HINSTANCE;
typedef HINSTANCE HMODULE;
struct SC_HANDLE__;
typedef SC_HANDLE__* SC_HANDLE;

#define TRUE 1
#define FALSE 0
#define MAX_PATH 260
#define INFINITE 0xFFFFFFFFu
#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)))

// ---------------------------------------------------------------------------
// Error codes
// ---------------------------------------------------------------------------
#define ERROR_SUCCESS 0L
#define NO_ERROR 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_PATH_NOT_FOUND 3L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_OUTOFMEMORY 14L
#define ERROR_NO_MORE_FILES 18L
#define ERROR_SHARING_VIOLATION 32L
#define ERROR_LOCK_VIOLATION 33L
#define ERROR_HANDLE_DISK_FULL 39L
#define ERROR_FILE_EXISTS 80L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_BAD_LENGTH 24L
#define ERROR_DISK_FULL 112L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_INVALID_NAME 123L
#define ERROR_BAD_PATHNAME 161L
#define ERROR_ALREADY_EXISTS 183L
#define ERROR_FILENAME_EXCED_RANGE 206L
#define ERROR_MORE_DATA 234L
#define ERROR_DIRECTORY 267L
#define ERROR_NOT_SUPPORTED 50L
#define ERROR_INVALID_FUNCTION 1L
#define ERROR_INVALID_ADDRESS 487L
#define ERROR_SERVICE_DOES_NOT_EXIST 1060L
#define ERROR_SERVICE_EXISTS 1073L
#define ERROR_SERVICE_MARKED_FOR_DELETE 1072L

#define S_OK static_cast<HRESULT>(0L)
#define S_FALSE static_cast<HRESULT>(1L)
#define E_NOTIMPL static_cast<HRESULT>(0x80004001L)
#define E_NOINTERFACE static_cast<HRESULT>(0x80004002L)
#define E_POINTER static_cast<HRESULT>(0x80004003L)
#define E_FAIL static_cast<HRESULT>(0x80004005L)
#define E_UNEXPECTED static_cast<HRESULT>(0x8000FFFFL)
#define E_ACCESSDENIED static_cast<HRESULT>(0x80070005L)
#define E_OUTOFMEMORY static_cast<HRESULT>(0x8007000EL)
#define E_INVALIDARG static_cast<HRESULT>(0x80070057L)
#define CO_E_NOTINITIALIZED static_cast<HRESULT>(0x800401F0L)
#define CO_E_CLASSSTRING static_cast<HRESULT>(0x800401F3L)
#define CO_E_SERVER_EXEC_FAILURE static_cast<HRESULT>(0x80080005L)
#define REGDB_E_CLASSNOTREG static_cast<HRESULT>(0x80040154L)
#define CLASS_E_NOAGGREGATION static_cast<HRESULT>(0x80040110L)
#define DISP_E_UNKNOWNINTERFACE static_cast<HRESULT>(0x80020001L)
#define DISP_E_MEMBERNOTFOUND static_cast<HRESULT>(0x80020003L)
#define DISP_E_TYPEMISMATCH static_cast<HRESULT>(0x80020005L)
#define DISP_E_UNKNOWNNAME static_cast<HRESULT>(0x80020006L)
#define DISP_E_BADVARTYPE static_cast<HRESULT>(0x80020008L)
#define DISP_E_EXCEPTION static_cast<HRESULT>(0x80020009L)
#define DISP_E_BADPARAMCOUNT static_cast<HRESULT>(0x8002000EL)
#define DISP_E_ARRAYISLOCKED static_cast<HRESULT>(0x8002000DL)
#define RPC_E_DISCONNECTED static_cast<HRESULT>(0x80010108L)
#define RPC_E_SERVER_DIED static_cast<HRESULT>(0x80010007L)
#define HRESULT_FROM_WIN32(x) \
  (static_cast<HRESULT>(x) <= 0 ? static_cast<HRESULT>(x) \
                                 : static_cast<HRESULT>((static_cast<DWORD>(x) & 0x0000FFFFu) | 0x80070000u))
#define SUCCEEDED(hr) (static_cast<HRESULT>(hr) >= 0)
#define FAILED(hr) (static_cast<HRESULT>(hr) < 0)

DWORD WINAPI GetLastError();
void WINAPI SetLastError(DWORD error);

// ---------------------------------------------------------------------------
// Registry
// ---------------------------------------------------------------------------
#define HKEY_CLASSES_ROOT (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000000u)))
#define HKEY_CURRENT_USER (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000001u)))
#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000002u)))

#define KEY_QUERY_VALUE 0x0001u
#define KEY_SET_VALUE 0x0002u
#define KEY_CREATE_SUB_KEY 0x0004u
#define KEY_ENUMERATE_SUB_KEYS 0x0008u
#define KEY_NOTIFY 0x0010u
#define KEY_CREATE_LINK 0x0020u
#define KEY_WOW64_64KEY 0x0100u
#define KEY_WOW64_32KEY 0x0200u
#define KEY_READ 0x20019u
#define KEY_WRITE 0x20006u
#define KEY_ALL_ACCESS 0xF003Fu

#define REG_NONE 0u
#define REG_SZ 1u
#define REG_EXPAND_SZ 2u
#define REG_BINARY 3u
#define REG_DWORD 4u
#define REG_MULTI_SZ 7u
#define REG_QWORD 11u
#define REG_OPTION_NON_VOLATILE 0u
#define REG_CREATED_NEW_KEY 1u
#define REG_OPENED_EXISTING_KEY 2u

struct SECURITY_ATTRIBUTES {
  DWORD nLength;
  LPVOID lpSecurityDescriptor;
  BOOL bInheritHandle;
};
typedef SECURITY_ATTRIBUTES* LPSECURITY_ATTRIBUTES;

struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};
typedef FILETIME* PFILETIME;

LSTATUS WINAPI RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM sam, PHKEY result);
LSTATUS WINAPI RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR keyClass, DWORD options,
                               REGSAM sam, LPSECURITY_ATTRIBUTES security, PHKEY result, LPDWORD disposition);
LSTATUS WINAPI RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                                LPDWORD dataSize);
LSTATUS WINAPI RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type, const BYTE* data,
                              DWORD dataSize);
// The wide forms. String values keep what was written: a value set through
// one form and read through the other is converted, as Windows does (it
// keeps every string value in UTF-16).
LSTATUS WINAPI RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM sam, PHKEY result);
LSTATUS WINAPI RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR keyClass, DWORD options,
                               REGSAM sam, LPSECURITY_ATTRIBUTES security, PHKEY result, LPDWORD disposition);
LSTATUS WINAPI RegQueryInfoKeyW(HKEY key, LPWSTR keyClass, LPDWORD classLength, LPDWORD reserved,
                                LPDWORD subKeys, LPDWORD maxSubKeyLength, LPDWORD maxClassLength,
                                LPDWORD values, LPDWORD maxValueNameLength, LPDWORD maxValueLength,
                                LPDWORD securityDescriptor, PFILETIME lastWriteTime);
LSTATUS WINAPI RegQueryValueExW(HKEY key, LPCWSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                                LPDWORD dataSize);
LSTATUS WINAPI RegSetValueExW(HKEY key, LPCWSTR valueName, DWORD reserved, DWORD type, const BYTE* data,
                              DWORD dataSize);
LSTATUS WINAPI RegDeleteTreeW(HKEY key, LPCWSTR subKey);
LSTATUS WINAPI RegDeleteTreeA(HKEY key, LPCSTR subKey);
LSTATUS WINAPI RegCloseKey(HKEY key);

// ---------------------------------------------------------------------------
// Service control manager
// ---------------------------------------------------------------------------
#define SC_MANAGER_CONNECT 0x0001u
#define SC_MANAGER_CREATE_SERVICE 0x0002u
#define SC_MANAGER_ALL_ACCESS 0xF003Fu
#define SERVICE_QUERY_CONFIG 0x0001u
#define SERVICE_ALL_ACCESS 0xF01FFu
#define DELETE 0x00010000u
#define SERVICE_WIN32_OWN_PROCESS 0x00000010u
#define SERVICE_DEMAND_START 0x00000003u
#define SERVICE_ERROR_NORMAL 0x00000001u

SC_HANDLE WINAPI OpenSCManagerA(LPCSTR machineName, LPCSTR databaseName, DWORD desiredAccess);
SC_HANDLE WINAPI OpenServiceA(SC_HANDLE manager, LPCSTR serviceName, DWORD desiredAccess);
SC_HANDLE WINAPI CreateServiceA(SC_HANDLE manager, LPCSTR serviceName, LPCSTR displayName, DWORD desiredAccess,
                                DWORD serviceType, DWORD startType, DWORD errorControl, LPCSTR binaryPathName,
                                LPCSTR loadOrderGroup, LPDWORD tagId, LPCSTR dependencies,
                                LPCSTR serviceStartName, LPCSTR password);
SC_HANDLE WINAPI OpenSCManagerW(LPCWSTR machineName, LPCWSTR databaseName, DWORD desiredAccess);
SC_HANDLE WINAPI OpenServiceW(SC_HANDLE manager, LPCWSTR serviceName, DWORD desiredAccess);
BOOL WINAPI DeleteService(SC_HANDLE service);
BOOL WINAPI CloseServiceHandle(SC_HANDLE handle);

// ---------------------------------------------------------------------------
// Processes and modules
// ---------------------------------------------------------------------------
#define CREATE_NO_WINDOW 0x08000000u
// The environment block given is UTF-16.
#define CREATE_UNICODE_ENVIRONMENT 0x00000400u
#define WAIT_OBJECT_0 0x00000000u
#define WAIT_TIMEOUT 0x00000102u
#define WAIT_FAILED 0xFFFFFFFFu

struct STARTUPINFOW {
  DWORD cb;
  LPWSTR lpReserved;
  LPWSTR lpDesktop;
  LPWSTR lpTitle;
  DWORD dwX;
  DWORD dwY;
  DWORD dwXSize;
  DWORD dwYSize;
  DWORD dwXCountChars;
  DWORD dwYCountChars;
  DWORD dwFillAttribute;
  DWORD dwFlags;
  WORD wShowWindow;
  WORD cbReserved2;
  LPBYTE lpReserved2;
  HANDLE hStdInput;
  HANDLE hStdOutput;
  HANDLE hStdError;
};
typedef STARTUPINFOW* LPSTARTUPINFOW;

struct PROCESS_INFORMATION {
  HANDLE hProcess;
  HANDLE hThread;
  DWORD dwProcessId;
  DWORD dwThreadId;
};
typedef PROCESS_INFORMATION* LPPROCESS_INFORMATION;

BOOL WINAPI CreateProcessW(LPCWSTR applicationName, LPWSTR commandLine, LPSECURITY_ATTRIBUTES processAttributes,
                           LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles, DWORD creationFlags,
                           LPVOID environment, LPCWSTR currentDirectory, LPSTARTUPINFOW startupInfo,
                           LPPROCESS_INFORMATION processInformation);
DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds);
BOOL WINAPI GetExitCodeProcess(HANDLE process, LPDWORD exitCode);
BOOL WINAPI CloseHandle(HANDLE handle);
DWORD WINAPI GetModuleFileNameW(HMODULE module, LPWSTR fileName, DWORD size);
DWORD WINAPI GetCurrentProcessId();
// The current process's pseudo handle.
HANDLE WINAPI GetCurrentProcess();

// Functions of a module found at run time. kernel32 is the one module that
// GetModuleHandleW knows; which of its functions GetProcAddress finds is set
// through the control API (none after a reset: an older Windows).
typedef intptr_t(WINAPI* FARPROC)();
#define ERROR_MOD_NOT_FOUND 126L
#define ERROR_PROC_NOT_FOUND 127L
HMODULE WINAPI GetModuleHandleW(LPCWSTR moduleName);
FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR procName);

// Named mutexes: a machine-wide guard. A wait on a mutex that another
// process owns and ends without releasing returns WAIT_ABANDONED, and the
// waiter owns it then. A name "Alias\Name" lies in the private namespace of
// that alias which this process has open (fake_win32/object_control.h);
// "Global\" and "Local\" are the session's and the machine's. A name taken
// by an object of another type fails with ERROR_INVALID_HANDLE; one whose
// DACL does not grant MUTEX_ALL_ACCESS, with ERROR_ACCESS_DENIED
// (security_api.h).
#define WAIT_ABANDONED 0x00000080u
#define ERROR_NOT_OWNER 288L
HANDLE WINAPI CreateMutexW(LPSECURITY_ATTRIBUTES security, BOOL initialOwner, LPCWSTR name);
BOOL WINAPI ReleaseMutex(HANDLE mutex);
ULONGLONG WINAPI GetTickCount64();

// The standard handles (what is written to them is kept for tests).
#define STD_INPUT_HANDLE (static_cast<DWORD>(-10))
#define STD_OUTPUT_HANDLE (static_cast<DWORD>(-11))
#define STD_ERROR_HANDLE (static_cast<DWORD>(-12))
HANDLE WINAPI GetStdHandle(DWORD which);

// ---------------------------------------------------------------------------
// Profile strings
// ---------------------------------------------------------------------------
DWORD WINAPI GetPrivateProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR defaultText, LPWSTR returned,
                                      DWORD size, LPCWSTR fileName);
BOOL WINAPI WritePrivateProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR text, LPCWSTR fileName);

// ---------------------------------------------------------------------------
// Files
// ---------------------------------------------------------------------------
#define FILE_ATTRIBUTE_READONLY 0x00000001u
#define FILE_ATTRIBUTE_HIDDEN 0x00000002u
#define FILE_ATTRIBUTE_SYSTEM 0x00000004u
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010u
#define FILE_ATTRIBUTE_ARCHIVE 0x00000020u
#define FILE_ATTRIBUTE_NORMAL 0x00000080u
#define FILE_ATTRIBUTE_REPARSE_POINT 0x00000400u
#define INVALID_FILE_ATTRIBUTES 0xFFFFFFFFu

// The kind of a reparse point: dwReserved0 of its find data.
#define IO_REPARSE_TAG_MOUNT_POINT 0xA0000003u
#define IO_REPARSE_TAG_SYMLINK 0xA000000Cu

struct WIN32_FIND_DATAW {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwReserved0;
  DWORD dwReserved1;
  WCHAR cFileName[MAX_PATH];
  WCHAR cAlternateFileName[14];
};
typedef WIN32_FIND_DATAW* LPWIN32_FIND_DATAW;

BOOL WINAPI FindClose(HANDLE find);
BOOL WINAPI SetFileAttributesA(LPCSTR fileName, DWORD attributes);
HANDLE WINAPI FindFirstFileW(LPCWSTR fileName, LPWIN32_FIND_DATAW findData);
BOOL WINAPI FindNextFileW(HANDLE find, LPWIN32_FIND_DATAW findData);
BOOL WINAPI CopyFileW(LPCWSTR existingFileName, LPCWSTR newFileName, BOOL failIfExists);
BOOL WINAPI SetFileAttributesW(LPCWSTR fileName, DWORD attributes);
DWORD WINAPI GetFileAttributesW(LPCWSTR fileName);

// Opening files and folders. Data is written from the start (the run log);
// a handle opened for reading is held (the payload's sources, setup.ini of a
// sealed run), asked about, and read (ReadFile, file_read_api.h). Sharing between the handles is enforced, as on
// Windows: an open that the share mode of another handle on the same file
// does not allow fails with ERROR_SHARING_VIOLATION, and so does a copy onto
// or out of such a file.
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_READ_DATA 0x0001u
#define FILE_LIST_DIRECTORY 0x0001u
#define FILE_WRITE_DATA 0x0002u
#define FILE_APPEND_DATA 0x0004u
#define FILE_EXECUTE 0x0020u
#define FILE_READ_ATTRIBUTES 0x0080u
#define FILE_SHARE_READ 0x00000001u
#define FILE_SHARE_WRITE 0x00000002u
#define FILE_SHARE_DELETE 0x00000004u
#define CREATE_NEW 1u
#define CREATE_ALWAYS 2u
#define OPEN_EXISTING 3u
#define OPEN_ALWAYS 4u
// Needed to open a folder.
#define FILE_FLAG_BACKUP_SEMANTICS 0x02000000u
// Opens a reparse point itself rather than what it leads to.
#define FILE_FLAG_OPEN_REPARSE_POINT 0x00200000u
#define ERROR_ALREADY_EXISTS 183L

HANDLE WINAPI CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                          DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE templateFile);
BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite, LPDWORD bytesWritten, LPVOID overlapped);
// Cuts the file at the handle's position (0 for a handle that has written
// nothing yet).
BOOL WINAPI SetEndOfFile(HANDLE file);

// Removing and renaming files. A file that a handle is open on without
// FILE_SHARE_DELETE (or one held through the control API) cannot be
// removed or renamed (ERROR_SHARING_VIOLATION), nor replaced as the target
// of a rename (ERROR_ACCESS_DENIED, as Wine says), nor can a read-only one.
#define MOVEFILE_REPLACE_EXISTING 0x00000001u
BOOL WINAPI DeleteFileW(LPCWSTR fileName);
BOOL WINAPI MoveFileExW(LPCWSTR existingFileName, LPCWSTR newFileName, DWORD flags);
// Folders: made (the security attributes are not looked at;
// ERROR_ALREADY_EXISTS when the name is taken) and removed when empty
// (ERROR_DIR_NOT_EMPTY).
#define ERROR_DIR_NOT_EMPTY 145L
BOOL WINAPI CreateDirectoryW(LPCWSTR pathName, LPSECURITY_ATTRIBUTES security);
BOOL WINAPI RemoveDirectoryW(LPCWSTR pathName);
// A file's times by its handle: only the time of last writing is kept (the
// host's modification time); the others read as it and are not set.
BOOL WINAPI GetFileTime(HANDLE file, FILETIME* creation, FILETIME* lastAccess, FILETIME* lastWrite);
BOOL WINAPI SetFileTime(HANDLE file, const FILETIME* creation, const FILETIME* lastAccess, const FILETIME* lastWrite);

// Mappings of files: a view stands for the file it maps (image.cpp);
// ntdll's NtAreMappedFilesTheSame, found with GetProcAddress, compares the
// files of two addresses, the running module's among them.
#define PAGE_READONLY 0x02u
#define FILE_MAP_READ 0x0004u
HANDLE WINAPI CreateFileMappingW(HANDLE file, LPSECURITY_ATTRIBUTES security, DWORD protect, DWORD sizeHigh,
                                 DWORD sizeLow, LPCWSTR name);
LPVOID WINAPI MapViewOfFile(HANDLE mapping, DWORD access, DWORD offsetHigh, DWORD offsetLow, SIZE_T bytes);
BOOL WINAPI UnmapViewOfFile(LPCVOID address);
// The session of a process (this one only): 1 after Reset.
BOOL WINAPI ProcessIdToSessionId(DWORD processId, DWORD* session);


enum FILE_INFO_BY_HANDLE_CLASS {
  FileStandardInfo = 1,
  FileNameInfo = 2,
  FileRenameInfo = 3,
  FileDispositionInfo = 4,
  FileAttributeTagInfo = 9
};
typedef unsigned char BOOLEAN;
union LARGE_INTEGER {
  struct {
    DWORD LowPart;
    LONG HighPart;
  };
  LONGLONG QuadPart;
};
// FileStandardInfo: the size, the number of names (hard links), a folder.
struct FILE_STANDARD_INFO {
  LARGE_INTEGER AllocationSize;
  LARGE_INTEGER EndOfFile;
  DWORD NumberOfLinks;
  BOOLEAN DeletePending;
  BOOLEAN Directory;
};
// FileAttributeTagInfo: the attributes and, for a reparse point opened as
// itself, its tag.
struct FILE_ATTRIBUTE_TAG_INFO {
  DWORD FileAttributes;
  DWORD ReparseTag;
};
struct FILE_NAME_INFO {
  DWORD FileNameLength;  // in bytes
  WCHAR FileName[1];
};
// FileRenameInfo, through SetFileInformationByHandle: the handle (open with
// DELETE) moves its file to FileName, an absolute path (RootDirectory must
// be null, as Wine 8 knows no other form); a target that is there is replaced
// with ReplaceIfExists, as MoveFileExW replaces it (and refused as it
// refuses). FileDispositionInfo: the file goes when the handle is closed.
struct FILE_RENAME_INFO {
  BOOLEAN ReplaceIfExists;
  HANDLE RootDirectory;
  DWORD FileNameLength;  // in bytes
  WCHAR FileName[1];
};
struct FILE_DISPOSITION_INFO {
  BOOLEAN DeleteFile;
};
BOOL WINAPI SetFileInformationByHandle(HANDLE file, FILE_INFO_BY_HANDLE_CLASS informationClass, LPVOID information,
                                       DWORD size);
// FileStandardInfo, FileAttributeTagInfo, and FileNameInfo: the path of what
// the handle is open on below its
// volume's root (\a\b.txt), every link resolved, however long.
BOOL WINAPI GetFileInformationByHandleEx(HANDLE file, FILE_INFO_BY_HANDLE_CLASS informationClass, LPVOID information,
                                         DWORD size);

#define FILE_NAME_NORMALIZED 0x0u
#define VOLUME_NAME_DOS 0x0u
// "\\?\C:\..." : the path of what the handle is open on, every link on the
// way resolved. A host path outside the platform's drives shows as on drive
// Z:, as Wine shows the host's root. Only FILE_NAME_NORMALIZED |
// VOLUME_NAME_DOS (0) is known.
DWORD WINAPI GetFinalPathNameByHandleW(HANDLE file, LPWSTR path, DWORD size, DWORD flags);
// The absolute form of a path (against the current folder), "." and ".."
// taken out, "/" read as a backslash; a trailing separator stays. No file is looked at.
DWORD WINAPI GetFullPathNameW(LPCWSTR fileName, DWORD size, LPWSTR buffer, LPWSTR* filePart);
// There are no short names here: an existing path comes back as it is;
// ERROR_FILE_NOT_FOUND when nothing is there.
DWORD WINAPI GetLongPathNameW(LPCWSTR shortPath, LPWSTR longPath, DWORD size);

// The temporary folder, with its trailing backslash: C:\windows\temp\ here.
DWORD WINAPI GetTempPathW(DWORD size, LPWSTR buffer);
// The Windows folder shared by every session, without a trailing
// backslash: C:\windows here.
UINT WINAPI GetSystemWindowsDirectoryW(LPWSTR buffer, UINT size);

// ---------------------------------------------------------------------------
// Time, error texts and the module's own resources
// ---------------------------------------------------------------------------
struct SYSTEMTIME {
  WORD wYear;
  WORD wMonth;
  WORD wDayOfWeek;
  WORD wDay;
  WORD wHour;
  WORD wMinute;
  WORD wSecond;
  WORD wMilliseconds;
};
typedef SYSTEMTIME* LPSYSTEMTIME;
// A fixed moment, settable through the control API.
void WINAPI GetLocalTime(LPSYSTEMTIME time);

#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200u
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000u
// Knows the texts of the error codes the product reports; 0 for others.
DWORD WINAPI FormatMessageW(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId, LPWSTR buffer,
                            DWORD size, void* arguments);

// ---------------------------------------------------------------------------
// Code pages: the process's ANSI code page (1252, or what a test sets; 1252,
// 932 and 936 are known) and UTF-8.
// ---------------------------------------------------------------------------
#define CP_ACP 0u
// Names compared as the file system compares them: one UTF-16 unit at a
// time, upper-cased (towupper) when ignoring case. CSTR_LESS_THAN,
// CSTR_EQUAL, CSTR_GREATER_THAN; 0 for a bad argument.
#define CSTR_LESS_THAN 1
#define CSTR_EQUAL 2
#define CSTR_GREATER_THAN 3
int WINAPI CompareStringOrdinal(const WCHAR* first, int firstLength, const WCHAR* second, int secondLength,
                                BOOL ignoreCase);
#define CP_UTF8 65001u

UINT WINAPI GetACP();
int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int size, LPWSTR wide, int wideSize);
int WINAPI WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int wideSize, LPSTR text, int size,
                               LPCSTR defaultChar, BOOL* usedDefaultChar);

struct HRSRC__;
typedef HRSRC__* HRSRC;
typedef void* HGLOBAL;
#define MAKEINTRESOURCEA(i) (reinterpret_cast<LPSTR>(static_cast<uintptr_t>(static_cast<WORD>(i))))
#define RT_VERSION MAKEINTRESOURCEA(16)
#define VS_VERSION_INFO 1
#define ERROR_RESOURCE_TYPE_NOT_FOUND 1813L
// The test program carries no resources: FindResourceA finds none.
HRSRC WINAPI FindResourceA(HMODULE module, LPCSTR name, LPCSTR type);
HGLOBAL WINAPI LoadResource(HMODULE module, HRSRC resource);
LPVOID WINAPI LockResource(HGLOBAL data);
DWORD WINAPI SizeofResource(HMODULE module, HRSRC resource);

// ---------------------------------------------------------------------------
// The process's token: whose account the process runs as (the local system
// account, or an administrator, as the control API says).
// ---------------------------------------------------------------------------
#define TOKEN_QUERY 0x0008u
typedef void* PSID;
struct SID_AND_ATTRIBUTES {
  PSID Sid;
  DWORD Attributes;
};
struct TOKEN_USER {
  SID_AND_ATTRIBUTES User;
};
enum TOKEN_INFORMATION_CLASS { TokenUser = 1 };
enum WELL_KNOWN_SID_TYPE { WinWorldSid = 1, WinLocalSystemSid = 22, WinBuiltinAdministratorsSid = 26 };
BOOL WINAPI OpenProcessToken(HANDLE process, DWORD desiredAccess, PHANDLE token);
BOOL WINAPI GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS informationClass, LPVOID information,
                                DWORD length, LPDWORD returnLength);
BOOL WINAPI IsWellKnownSid(PSID sid, WELL_KNOWN_SID_TYPE type);

// ---------------------------------------------------------------------------
// Windows and shell
// ---------------------------------------------------------------------------
#define MB_OK 0x00000000u
#define IDOK 1

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);

// The process's window station: visible, or not (a service's).
struct HWINSTA__;
typedef HWINSTA__* HWINSTA;
#define UOI_FLAGS 1
#define WSF_VISIBLE 0x0001
struct USEROBJECTFLAGS {
  BOOL fInherit;
  BOOL fReserved;
  DWORD dwFlags;
};
HWINSTA WINAPI GetProcessWindowStation();
BOOL WINAPI GetUserObjectInformationW(HANDLE object, int index, PVOID information, DWORD length, LPDWORD needed);

#define CSIDL_PROGRAM_FILES 0x0026
#define CSIDL_FLAG_CREATE 0x8000
#define SHGFP_TYPE_CURRENT 0

HRESULT WINAPI SHGetFolderPathAndSubDirW(HWND owner, int folder, HANDLE token, DWORD flags, LPCWSTR subDir,
                                         LPWSTR path);
HRESULT WINAPI SHGetFolderPathW(HWND owner, int folder, HANDLE token, DWORD flags, LPWSTR path);

// ---------------------------------------------------------------------------
// Component object model
// ---------------------------------------------------------------------------
struct GUID {
  DWORD Data1;
  WORD Data2;
  WORD Data3;
  BYTE Data4[8];
};
typedef GUID IID;
typedef GUID CLSID;
typedef const IID& REFIID;
typedef const CLSID& REFCLSID;
typedef CLSID* LPCLSID;
inline bool operator==(const GUID& a, const GUID& b) {
  if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
  for (int i = 0; i < 8; ++i) {
    if (a.Data4[i] != b.Data4[i]) return false;
  }
  return true;
}
inline bool operator!=(const GUID& a, const GUID& b) { return !(a == b); }
inline bool IsEqualGUID(const GUID& a, const GUID& b) { return a == b; }

extern const IID IID_NULL;
extern const IID IID_IUnknown;
extern const IID IID_IDispatch;

#define CLSCTX_INPROC_SERVER 0x1u
#define CLSCTX_INPROC_HANDLER 0x2u
#define CLSCTX_LOCAL_SERVER 0x4u

struct IUnknown {
  virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) = 0;
  virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
  virtual ULONG STDMETHODCALLTYPE Release() = 0;

 protected:
  ~IUnknown() = default;
};
typedef IUnknown* LPUNKNOWN;

struct ITypeInfo;
struct tagVARIANT;
typedef tagVARIANT VARIANT;
typedef VARIANT VARIANTARG;

struct DISPPARAMS {
  VARIANTARG* rgvarg;
  DISPID* rgdispidNamedArgs;
  UINT cArgs;
  UINT cNamedArgs;
};

struct EXCEPINFO {
  WORD wCode;
  WORD wReserved;
  BSTR bstrSource;
  BSTR bstrDescription;
  BSTR bstrHelpFile;
  DWORD dwHelpContext;
  PVOID pvReserved;
  HRESULT(STDMETHODCALLTYPE* pfnDeferredFillIn)(EXCEPINFO*);
  SCODE scode;
};

#define DISPATCH_METHOD 0x1
#define DISPATCH_PROPERTYGET 0x2
#define DISPID_UNKNOWN (-1)
#define LOCALE_USER_DEFAULT 0x0400u
#define LOCALE_SYSTEM_DEFAULT 0x0800u

struct IDispatch : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                                                  DISPID* ids) = 0;
  virtual HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                                           VARIANT* result, EXCEPINFO* exception, UINT* argError) = 0;

 protected:
  ~IDispatch() = default;
};

HRESULT WINAPI CoInitialize(LPVOID reserved);
void WINAPI CoUninitialize();
HRESULT WINAPI CLSIDFromProgID(LPCOLESTR progId, LPCLSID clsid);
HRESULT WINAPI CoCreateInstance(REFCLSID clsid, LPUNKNOWN outer, DWORD context, REFIID riid, LPVOID* object);

// ---------------------------------------------------------------------------
// Automation: VARIANT and SAFEARRAY
// ---------------------------------------------------------------------------
enum VARENUM : USHORT {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R4 = 4,
  VT_R8 = 5,
  VT_BSTR = 8,
  VT_DISPATCH = 9,
  VT_ERROR = 10,
  VT_BOOL = 11,
  VT_VARIANT = 12,
  VT_UNKNOWN = 13,
  VT_I1 = 16,
  VT_UI1 = 17,
  VT_UI2 = 18,
  VT_UI4 = 19,
  VT_I8 = 20,
  VT_UI8 = 21,
  VT_INT = 22,
  VT_UINT = 23,
  VT_ARRAY = 0x2000,
  VT_BYREF = 0x4000,
  VT_TYPEMASK = 0x0FFF,
};

struct SAFEARRAYBOUND {
  ULONG cElements;
  LONG lLbound;
};

struct SAFEARRAY {
  USHORT cDims;
  USHORT fFeatures;
  ULONG cbElements;
  ULONG cLocks;
  PVOID pvData;
  SAFEARRAYBOUND rgsabound[1];
};
typedef SAFEARRAY* LPSAFEARRAY;

struct tagVARIANT {
  VARTYPE vt;
  WORD wReserved1;
  WORD wReserved2;
  WORD wReserved3;
  union {
    LONGLONG llVal;
    LONG lVal;
    BYTE bVal;
    SHORT iVal;
    CHAR cVal;
    USHORT uiVal;
    ULONG ulVal;
    INT intVal;
    UINT uintVal;
    double dblVal;
    VARIANT_BOOL boolVal;
    SCODE scode;
    BSTR bstrVal;
    IUnknown* punkVal;
    IDispatch* pdispVal;
    SAFEARRAY* parray;
    BYTE* pbVal;
    LONG* plVal;
    ULONG* pulVal;
    SAFEARRAY** pparray;
    VARIANT* pvarVal;
    PVOID byref;
  };
};

#define V_VT(v) ((v)->vt)
#define V_UI4(v) ((v)->ulVal)
#define V_UI4REF(v) ((v)->pulVal)
#define V_I4(v) ((v)->lVal)
#define V_UI1(v) ((v)->bVal)
#define V_I1(v) ((v)->cVal)
#define V_BSTR(v) ((v)->bstrVal)
#define V_ARRAY(v) ((v)->parray)
#define V_ARRAYREF(v) ((v)->pparray)
#define V_VARIANTREF(v) ((v)->pvarVal)
#define V_BYREF(v) ((v)->byref)

void WINAPI VariantInit(VARIANTARG* variant);
HRESULT WINAPI VariantClear(VARIANTARG* variant);

SAFEARRAY* WINAPI SafeArrayCreate(VARTYPE vt, UINT dims, SAFEARRAYBOUND* bounds);
HRESULT WINAPI SafeArrayDestroy(SAFEARRAY* array);
HRESULT WINAPI SafeArrayAccessData(SAFEARRAY* array, void** data);
HRESULT WINAPI SafeArrayUnaccessData(SAFEARRAY* array);
UINT WINAPI SafeArrayGetDim(SAFEARRAY* array);
UINT WINAPI SafeArrayGetElemsize(SAFEARRAY* array);
HRESULT WINAPI SafeArrayGetLBound(SAFEARRAY* array, UINT dim, LONG* bound);
HRESULT WINAPI SafeArrayGetUBound(SAFEARRAY* array, UINT dim, LONG* bound);
HRESULT WINAPI SafeArrayGetVartype(SAFEARRAY* array, VARTYPE* vt);

BSTR WINAPI SysAllocString(const OLECHAR* text);
void WINAPI SysFreeString(BSTR text);
UINT WINAPI SysStringLen(BSTR text);

#include "fake_win32/library_api.h"
#include "fake_win32/file_read_api.h"
#include "fake_win32/security_api.h"
