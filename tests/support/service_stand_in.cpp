#include "tests/support/service_stand_in.h"

#include <windows.h>

#include "tests/support/scratch.h"
#include "tests/support/wide.h"

#ifdef FANSETUP_FAKE_WIN32
#include "fake_win32/control.h"
#endif

namespace test_support {

void PlaceServiceStandIn(const std::string& path) {
#ifdef FANSETUP_FAKE_WIN32
  WriteFile(path, "MZ stand-in");
  fake_win32::SetProcessRunner([](const std::string& commandLine) -> DWORD {
    std::string program = commandLine;
    if (!program.empty() && program[0] == '"') program = program.substr(1, program.find('"', 1) - 1);
    const std::string folder = program.substr(0, program.rfind('\\') + 1);
    if (commandLine.size() >= 9 && commandLine.compare(commandLine.size() - 9, 9, " /Service") == 0) {
      WriteFile(folder + "service-ran.txt", "ran\n");
    }
    return 7;
  });
#else
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  EXPECT_TRUE(CopyFileW(self, W(path).c_str(), FALSE)) << "cannot copy the test program to " << path;
#endif
}

bool ServiceStandInRan(const std::string& folder) { return FileExists(folder + "service-ran.txt"); }

bool RegisterService(const std::string& name, const std::string& binaryPath) {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  SC_HANDLE service = manager ? CreateServiceA(manager, name.c_str(), name.c_str(), SERVICE_ALL_ACCESS,
                                               SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                               binaryPath.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr)
                              : nullptr;
  if (service) CloseServiceHandle(service);
  if (manager) CloseServiceHandle(manager);
  return service != nullptr;
}

bool DeleteServiceNamed(const std::string& name) {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  SC_HANDLE service = manager ? OpenServiceA(manager, name.c_str(), DELETE) : nullptr;
  const bool deleted = service && DeleteService(service);
  if (service) CloseServiceHandle(service);
  if (manager) CloseServiceHandle(manager);
  return deleted;
}

}  // namespace test_support
