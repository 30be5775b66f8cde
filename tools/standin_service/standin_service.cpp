// standin_service.exe: stands in for the fan-control service executable in
// the payload of the end-to-end tests.
//
//   standin_service.exe ... /Service ...
//
// With /Service anywhere in its command line it
//   1. appends one JSON line to service_runs.log in its own folder:
//      {"commandLine": "<GetCommandLineA>", "exePath": "<its own path>"}
//   2. reads standin_service.ini from its own folder, section [Service]:
//        Name=      service to register; empty: "ServiceName" of section
//                   "Common" in setup.ini in its own folder
//        ExitCode=0 its exit code
//        Hang=0     1: sleep forever after registering
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
#include <string>
#include <vector>

#include "common/json_text.h"

namespace {

std::string OwnPath() {
  std::vector<char> buffer(MAX_PATH);
  for (;;) {
    const DWORD length = GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length < buffer.size()) return std::string(buffer.data(), length);
    buffer.resize(buffer.size() * 2);
  }
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of('\\');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

void AppendLine(const std::string& file, const std::string& line) {
  FILE* log = std::fopen(file.c_str(), "ab");
  if (!log) return;
  std::fputs((line + "\n").c_str(), log);
  std::fclose(log);
}

std::string ProfileString(const std::string& file, const char* section, const char* key) {
  char buffer[1024];
  const DWORD length = GetPrivateProfileStringA(section, key, "", buffer, sizeof buffer, file.c_str());
  return std::string(buffer, length);
}

bool HasServiceSwitch(const char* commandLine) {
  const char* p = commandLine;
  while ((p = std::strstr(p, "/Service")) != nullptr) {
    const bool startsWord = p == commandLine || p[-1] == ' ' || p[-1] == '\t' || p[-1] == '"';
    const char next = p[8];
    if (startsWord && (next == '\0' || next == ' ' || next == '\t' || next == '"')) return true;
    p += 8;
  }
  return false;
}

// Registers the service; returns 0 or the error of the failing call.
DWORD RegisterService(const std::string& name, const std::string& exePath) {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE | SC_MANAGER_CONNECT);
  if (!manager) return GetLastError();
  const std::string binaryPath = "\"" + exePath + "\"";
  SC_HANDLE service = CreateServiceA(manager, name.c_str(), name.c_str(), SERVICE_QUERY_CONFIG,
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
  const char* commandLine = GetCommandLineA();
  if (!HasServiceSwitch(commandLine)) {
    std::fputs("usage: standin_service.exe /Service\n"
               "  logs its run to service_runs.log, registers the service named in\n"
               "  standin_service.ini (or setup.ini) and exits with the configured code\n",
               stderr);
    return 1;
  }
  const std::string exePath = OwnPath();
  const std::string folder = FolderOf(exePath);
  const std::string logFile = folder + "service_runs.log";
  AppendLine(logFile, "{\"commandLine\": " + tools::JsonString(commandLine) + ", \"exePath\": " + tools::JsonString(exePath) + "}");

  const std::string iniFile = folder + "standin_service.ini";
  std::string name = ProfileString(iniFile, "Service", "Name");
  if (name.empty()) name = ProfileString(folder + "setup.ini", "Common", "ServiceName");
  const UINT exitCode = GetPrivateProfileIntA("Service", "ExitCode", 0, iniFile.c_str());
  const bool hang = GetPrivateProfileIntA("Service", "Hang", 0, iniFile.c_str()) != 0;
  const bool doRegister = GetPrivateProfileIntA("Service", "Register", 1, iniFile.c_str()) != 0;

  if (doRegister) {
    const DWORD error = name.empty() ? ERROR_INVALID_NAME : RegisterService(name, exePath);
    AppendLine(logFile, "{\"registered\": " + tools::JsonString(name) + ", \"error\": " + std::to_string(error) + "}");
  }
  if (hang) {
    for (;;) Sleep(INFINITE);
  }
  return static_cast<int>(exitCode);
}
