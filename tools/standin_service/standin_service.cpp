// standin_service.exe: stands in for the fan-control service executable in
// the payload of the end-to-end tests.
//
//   standin_service.exe ... /Service ...
//
// With /Service anywhere in its command line it
//   1. appends one JSON line to service_runs.log in its own folder:
//      {"commandLine": "<GetCommandLineW>", "exePath": "<its own path>",
//       "currentFolder": "<its current folder>",
//       "environment": ["NAME=value", ...]}
//      (texts in UTF-16 escapes: its folder and name may be in any script;
//      the environment it was started with, in its order)
//   2. reads standin_service.ini from its own folder, section [Service]:
//        Name=      service to register; empty: "ServiceName" of section
//                   "Common" in setup.ini in its own folder
//        ExitCode=0 its exit code
//        Hang=0     1: sleep forever after registering
//        SleepMs=0  sleep that long after registering, then exit
//        Register=1 0: do not register a service
//   3. registers the service with the service control manager (own process,
//      demand start, binary path = its own quoted path; an existing service
//      is left as it is) and appends {"registered": "<name>", "error": N}
//      to the log (error 0, or the GetLastError of the failing call),
//   4. exits with ExitCode (or sleeps forever with Hang=1).
// Without /Service it prints this usage and exits with 1.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "common/json_text.h"

namespace {

std::wstring OwnPath() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length < buffer.size()) return std::wstring(buffer.data(), length);
    buffer.resize(buffer.size() * 2);
  }
}

std::wstring CurrentFolder() {
  wchar_t buffer[MAX_PATH * 4] = {};
  const DWORD length = GetCurrentDirectoryW(MAX_PATH * 4, buffer);
  return length < MAX_PATH * 4 ? std::wstring(buffer, length) : std::wstring();
}

std::wstring FolderOf(const std::wstring& path) {
  const size_t slash = path.find_last_of(L'\\');
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

void AppendLine(const std::wstring& file, const std::string& line) {
  FILE* log = _wfopen(file.c_str(), L"ab");
  if (!log) return;
  std::fputs((line + "\n").c_str(), log);
  std::fclose(log);
}

std::wstring ProfileString(const std::wstring& file, const wchar_t* section, const wchar_t* key) {
  wchar_t buffer[1024];
  const DWORD length = GetPrivateProfileStringW(section, key, L"", buffer, 1024, file.c_str());
  return std::wstring(buffer, length);
}

// The process's environment as a JSON array of "NAME=value" texts.
std::string EnvironmentJson() {
  wchar_t* block = GetEnvironmentStringsW();
  std::string json = "[";
  for (const wchar_t* entry = block; entry && *entry; entry += std::wcslen(entry) + 1) {
    json += (json.size() > 1 ? ", " : "") + tools::JsonString(std::wstring(entry));
  }
  if (block) FreeEnvironmentStringsW(block);
  return json + "]";
}

bool HasServiceSwitch(const wchar_t* commandLine) {
  const wchar_t* p = commandLine;
  while ((p = std::wcsstr(p, L"/Service")) != nullptr) {
    const bool startsWord = p == commandLine || p[-1] == L' ' || p[-1] == L'\t' || p[-1] == L'"';
    const wchar_t next = p[8];
    if (startsWord && (next == L'\0' || next == L' ' || next == L'\t' || next == L'"')) return true;
    p += 8;
  }
  return false;
}

// Registers the service; returns 0 or the error of the failing call.
DWORD RegisterService(const std::wstring& name, const std::wstring& exePath) {
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE | SC_MANAGER_CONNECT);
  if (!manager) return GetLastError();
  const std::wstring binaryPath = L"\"" + exePath + L"\"";
  SC_HANDLE service = CreateServiceW(manager, name.c_str(), name.c_str(), SERVICE_QUERY_CONFIG,
                                     SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                     binaryPath.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
  DWORD error = 0;
  if (service) {
    CloseServiceHandle(service);
  } else {
    error = GetLastError();
    if (error == ERROR_SERVICE_EXISTS) error = 0;
  }
  CloseServiceHandle(manager);
  return error;
}

}  // namespace

int main() {
  const wchar_t* commandLine = GetCommandLineW();
  if (!HasServiceSwitch(commandLine)) {
    std::fputs("usage: standin_service.exe /Service\n"
               "  logs its run to service_runs.log, registers the service named in\n"
               "  standin_service.ini (or setup.ini) and exits with the configured code\n",
               stderr);
    return 1;
  }
  const std::wstring exePath = OwnPath();
  const std::wstring folder = FolderOf(exePath);
  const std::wstring logFile = folder + L"service_runs.log";
  AppendLine(logFile, "{\"commandLine\": " + tools::JsonString(std::wstring(commandLine)) +
                          ", \"exePath\": " + tools::JsonString(exePath) +
                          ", \"currentFolder\": " + tools::JsonString(CurrentFolder()) +
                          ", \"environment\": " + EnvironmentJson() + "}");

  const std::wstring iniFile = folder + L"standin_service.ini";
  std::wstring name = ProfileString(iniFile, L"Service", L"Name");
  if (name.empty()) name = ProfileString(folder + L"setup.ini", L"Common", L"ServiceName");
  const UINT exitCode = GetPrivateProfileIntW(L"Service", L"ExitCode", 0, iniFile.c_str());
  const bool hang = GetPrivateProfileIntW(L"Service", L"Hang", 0, iniFile.c_str()) != 0;
  const UINT sleepMs = GetPrivateProfileIntW(L"Service", L"SleepMs", 0, iniFile.c_str());
  const bool doRegister = GetPrivateProfileIntW(L"Service", L"Register", 1, iniFile.c_str()) != 0;

  if (doRegister) {
    const DWORD error = name.empty() ? ERROR_INVALID_NAME : RegisterService(name, exePath);
    AppendLine(logFile, "{\"registered\": " + tools::JsonString(name) + ", \"error\": " + std::to_string(error) + "}");
  }
  if (hang) {
    for (;;) Sleep(INFINITE);
  }
  if (sleepMs) Sleep(sleepMs);
  return static_cast<int>(exitCode);
}
