#include "setup/service.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "tests/support/scratch.h"
#include "tests/support/service_stand_in.h"
#include "tests/support/setup_ini.h"

namespace vantu {
namespace {

using test_support::ScratchFolder;
using test_support::SetupIniFile;

TEST(ServiceCommandLineTest, QuotedPathThenService) {
  struct Case {
    const char* folder;
    const char* executable;
    const char* commandLine;
  };
  const Case cases[] = {
      {"C:\\Program Files\\Vendor\\Tool\\2.1.0\\", "svc.exe",
       "\"C:\\Program Files\\Vendor\\Tool\\2.1.0\\svc.exe\" /Service"},
      {"", "svc.exe", "\"svc.exe\" /Service"},
      {"", "s", "s /Service"},                      // shorter than 2 bytes: left alone
      {"", "", " /Service"},
      {"C:\\x\\", "svc.exe\"", "C:\\x\\svc.exe\" /Service"},       // ends in a quote
      {"\"C:\\x\\", "svc.exe", "\"C:\\x\\svc.exe /Service"},       // begins with one
      {"\"C:\\x\\", "svc.exe\"", "\"C:\\x\\svc.exe\" /Service"},   // quoted already
      {"C:\\a b\\", "s\"v c.exe", "\"C:\\a b\\s\"v c.exe\" /Service"},  // inner quotes untouched
      {"", "ab", "\"ab\" /Service"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.commandLine, ServiceCommandLine(c.folder, c.executable)) << c.folder << c.executable;
  }
}

class ServiceTest : public test_support::PlatformTest {
 protected:
  // A service registered for the test and removed afterwards.
  struct RegisteredService {
    explicit RegisteredService(const std::string& serviceName) : name(serviceName) {
      SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
      EXPECT_NE(nullptr, manager);
      SC_HANDLE service = CreateServiceA(manager, name.c_str(), name.c_str(), SERVICE_ALL_ACCESS,
                                         SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                         "C:\\fan\\svc.exe", nullptr, nullptr, nullptr, nullptr, nullptr);
      EXPECT_NE(nullptr, service) << GetLastError();
      if (service) CloseServiceHandle(service);
      if (manager) CloseServiceHandle(manager);
    }
    ~RegisteredService() {
      SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
      SC_HANDLE service = manager ? OpenServiceA(manager, name.c_str(), DELETE) : nullptr;
      if (service) {
        DeleteService(service);
        CloseServiceHandle(service);
      }
      if (manager) CloseServiceHandle(manager);
    }
    std::string name;
  };
};

TEST_F(ServiceTest, PresenceFollowsTheServiceManager) {
  const std::string name = "FanSetupTestService" + std::to_string(GetCurrentProcessId());
  SetupIniFile ini("[Common]\nServiceName=" + name + "\n");
  EXPECT_FALSE(IsServiceInstalled());
  {
    RegisteredService service(name);
    EXPECT_TRUE(IsServiceInstalled());
    ini.Rewrite("[Common]\nServiceName=" + name + "Other\n");
    EXPECT_FALSE(IsServiceInstalled());
    ini.Rewrite("[Common]\nServiceName=\n");
    EXPECT_FALSE(IsServiceInstalled());
    ini.Rewrite("[Common]\n");
    EXPECT_FALSE(IsServiceInstalled());
  }
  ini.Rewrite("[Common]\nServiceName=" + name + "\n");
  EXPECT_FALSE(IsServiceInstalled());
}

TEST_F(ServiceTest, LaunchRunsTheExecutableToItsEnd) {
  ScratchFolder folder;
  SetupIniFile ini("[Common]\nExecution=fansvc.exe\n");
  test_support::PlaceServiceStandIn(folder.path() + "fansvc.exe");
  EXPECT_TRUE(LaunchServiceExecutable(folder.path()));
  // Returned only after the process ended: its note is there already.
  EXPECT_TRUE(test_support::ServiceStandInRan(folder.path()));
}

TEST_F(ServiceTest, LaunchOfAMissingExecutableFails) {
  ScratchFolder folder;
  SetupIniFile ini("[Common]\nExecution=absent.exe\n");
  EXPECT_FALSE(LaunchServiceExecutable(folder.path()));
  ini.Rewrite("[Common]\n");  // no Execution: the folder alone is no program
  EXPECT_FALSE(LaunchServiceExecutable(folder.path()));
}

}  // namespace
}  // namespace vantu
