#include "service/service.h"

#include <windows.h>

#include <cwchar>
#include <memory>

#include "base/unique_handle.h"
#include "runlog/run_log.h"
#include "settings/setting_rules.h"
#include "settings/settings.h"
#include "service/machine_environment.h"

namespace vantu {

static_assert(sizeof(void*) != 4 || sizeof(STARTUPINFOW) == 68, "a 32-bit start-up record is 68 bytes");

bool IsServiceInstalled(const SettingsFile& settings) {
  UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager) return false;
  const std::wstring name = ReadServiceName(settings);
  const UniqueServiceHandle service(OpenServiceW(manager.get(), name.c_str(), SERVICE_QUERY_CONFIG));
  // The manager is closed before the service handle is looked at.
  manager.reset();
  return static_cast<bool>(service);
}

std::wstring ServiceCommandLine(const std::wstring& installFolder, const std::wstring& executable) {
  std::wstring path = installFolder + executable;
  if (path.size() >= 2 && path.front() != L'"' && path.back() != L'"') path = L'"' + path + L'"';
  return path + L" /Service";
}

bool ExecutionKeepsToItsRule(const SettingsFile& settings) {
  const std::wstring execution = PeekExecution(settings);
  const char* fault = ExecutionFault(execution);
  if (fault) LogBrokenRule("Execution", execution, kExecutionRule, fault, "nothing deployed");
  return fault == nullptr;
}

bool LaunchServiceExecutable(const SettingsFile& settings, const std::wstring& installFolder) {
  const std::wstring execution = ReadExecution(settings);
  if (const char* fault = ExecutionFault(execution)) {
    LogBrokenRule("Execution", execution, kExecutionRule, fault, "not started");
    return false;
  }
  // A relative path would be looked for in the current folder.
  if (installFolder.empty()) {
    LogLine({"the service executable was not started: no install folder"});
    return false;
  }
  const std::wstring program = installFolder + execution;
  const std::wstring commandLine = ServiceCommandLine(installFolder, execution);
  if (commandLine.size() + 1 > kCommandLineBufferSize) {
    LogLine({"the service executable's command line is too long to start (", std::to_string(commandLine.size()),
             " characters): ", commandLine});
    return false;
  }
  std::unique_ptr<wchar_t[]> buffer(new wchar_t[kCommandLineBufferSize]());
  std::wmemcpy(buffer.get(), commandLine.c_str(), commandLine.size() + 1);

  // Never the caller's environment, which is the user's to set.
  MachineEnvironment environment;
  std::string why;
  if (!environment.Make(&why)) {
    LogLine({"the service executable was not started: the machine's default environment could not be made (", why,
             ")"});
    return false;
  }
  LogLine({"the service executable gets the machine's default environment (", std::to_string(environment.variables()),
           " variables), not setup.exe's"});

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  LogLine({"starting the service executable: ", commandLine});
  if (!CreateProcessW(program.c_str(), buffer.get(), nullptr, nullptr, FALSE,
                      CREATE_NO_WINDOW | CREATE_UNICODE_ENVIRONMENT, environment.block(), installFolder.c_str(),
                      &startup, &process)) {
    if (LogEnabled()) LogLine({"the service executable did not start: ", ErrorText(GetLastError())});
    // No process was made: both handles in the process record are null, so
    // there is nothing to wait for and nothing to close. A wait on them and
    // the two closes would each fail at once and change nothing, so they are
    // left out on purpose and the launch reports its failure straight away.
    return false;
  }
  UniqueKernelHandle processHandle(process.hProcess);
  UniqueKernelHandle threadHandle(process.hThread);
  WaitForSingleObject(processHandle.get(), INFINITE);
  // The run does not judge the service executable by its exit code; the log
  // reports it, and only the log asks for it.
  DWORD exitCode = 0;
  if (LogEnabled() && GetExitCodeProcess(processHandle.get(), &exitCode)) {
    LogLine({"the service executable ended with exit code ", std::to_string(exitCode)});
  }
  processHandle.reset();
  threadHandle.reset();
  return true;
}

}  // namespace vantu
