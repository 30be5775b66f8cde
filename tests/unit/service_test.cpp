#include "service/service.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "tests/support/scratch.h"
#include "tests/support/service_stand_in.h"
#include "tests/support/setup_ini.h"
#include "tests/support/wide.h"

namespace vantu {
namespace {

using test_support::ScratchFolder;
using test_support::SetupIniFile;
using test_support::U8;
using test_support::W;

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
      {"C:\\Program Files\\新機能\\表1\\", "ソ.exe", "\"C:\\Program Files\\新機能\\表1\\ソ.exe\" /Service"},
      {"", "能", "能 /Service"},  // one character, though two bytes in code page 932
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.commandLine, U8(ServiceCommandLine(W(c.folder), W(c.executable)))) << c.folder << c.executable;
  }
}

// `text` as UTF-16LE bytes (characters of the basic plane only).
std::string Utf16Le(const std::string& text) {
  std::string bytes;
  for (const wchar_t c : W(text)) {
    bytes += static_cast<char>(static_cast<uint32_t>(c) & 0xFF);
    bytes += static_cast<char>(static_cast<uint32_t>(c) >> 8);
  }
  return bytes;
}

class ServiceTest : public test_support::PlatformTest {
 protected:
  // A service registered for the test and removed afterwards.
  struct RegisteredService {
    explicit RegisteredService(const std::string& serviceName) : name(serviceName) {
      EXPECT_TRUE(test_support::RegisterService(name, "C:\\fan\\svc.exe")) << GetLastError();
    }
    ~RegisteredService() { test_support::DeleteServiceNamed(name); }
    std::string name;
  };
};

TEST_F(ServiceTest, PresenceFollowsTheServiceManager) {
  const std::string name = "FanSetupTestService" + std::to_string(GetCurrentProcessId());
  SetupIniFile ini("[Common]\nServiceName=" + name + "\n");
  EXPECT_FALSE(IsServiceInstalled(ini.settings()));
  {
    RegisteredService service(name);
    EXPECT_TRUE(IsServiceInstalled(ini.settings()));
    ini.Rewrite("[Common]\nServiceName=" + name + "Other\n");
    EXPECT_FALSE(IsServiceInstalled(ini.settings()));
    ini.Rewrite("[Common]\nServiceName=\n");
    EXPECT_FALSE(IsServiceInstalled(ini.settings()));
    ini.Rewrite("[Common]\n");
    EXPECT_FALSE(IsServiceInstalled(ini.settings()));
  }
  ini.Rewrite("[Common]\nServiceName=" + name + "\n");
  EXPECT_FALSE(IsServiceInstalled(ini.settings()));
}

TEST_F(ServiceTest, LaunchRunsTheExecutableToItsEnd) {
  ScratchFolder folder;
  SetupIniFile ini("[Common]\nExecution=fansvc.exe\n");
  test_support::PlaceServiceStandIn(folder.path() + "fansvc.exe");
  EXPECT_TRUE(LaunchServiceExecutable(ini.settings(), W(folder.path())));
  // Returned only after the process ended: its note is there already.
  EXPECT_TRUE(test_support::ServiceStandInRan(folder.path()));
}

// A service executable with a name outside the ANSI code page, in a folder
// named in another script, runs (setup.ini in UTF-16 names it).
TEST_F(ServiceTest, LaunchOfAnExecutableNamedInAnyScript) {
  ScratchFolder scratch;
  const std::string folder = scratch.path() + "新機能 Ωμέγα\\";
  test_support::MakeFolder(folder);
  SetupIniFile ini(std::string("\xFF\xFE") + Utf16Le("[Common]\r\nExecution=службаソ.exe\r\n"));
  test_support::PlaceServiceStandIn(folder + "службаソ.exe");
  EXPECT_TRUE(LaunchServiceExecutable(ini.settings(), W(folder)));
  EXPECT_TRUE(test_support::ServiceStandInRan(folder));
}

// A value that names another folder is not run, though a program is there:
// setup.ini may have been changed after the run looked at it.
TEST_F(ServiceTest, LaunchRefusesAnExecutionThatLeadsOut) {
  ScratchFolder folder;
  test_support::MakeFolder(folder.path() + "sub");
  test_support::PlaceServiceStandIn(folder.path() + "sub\\svc.exe");
  SetupIniFile ini("[Common]\nExecution=sub\\svc.exe\n");
  EXPECT_FALSE(ExecutionKeepsToItsRule(ini.settings()));
  EXPECT_FALSE(LaunchServiceExecutable(ini.settings(), W(folder.path())));
  EXPECT_FALSE(test_support::ServiceStandInRan(folder.path() + "sub\\"));
  ini.Rewrite("[Common]\nExecution=svc.exe\n");
  EXPECT_TRUE(ExecutionKeepsToItsRule(ini.settings()));
  EXPECT_TRUE(LaunchServiceExecutable(ini.settings(), W(folder.path() + "sub\\")));  // from its own folder it runs
  EXPECT_TRUE(test_support::ServiceStandInRan(folder.path() + "sub\\"));
}

TEST_F(ServiceTest, LaunchOfAMissingExecutableFails) {
  ScratchFolder folder;
  SetupIniFile ini("[Common]\nExecution=absent.exe\n");
  EXPECT_FALSE(LaunchServiceExecutable(ini.settings(), W(folder.path())));
  ini.Rewrite("[Common]\n");  // no Execution: the folder alone is no program
  EXPECT_FALSE(LaunchServiceExecutable(ini.settings(), W(folder.path())));
}

}  // namespace
}  // namespace vantu
