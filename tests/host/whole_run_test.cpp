// The whole run, with every operation real, on the in-memory platform.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_win32/control.h"
#include "setup/production_operations.h"
#include "setup/setup_run.h"
#include "tests/support/run_scenario.h"
#include "tests/support/scratch.h"

namespace vantu {
namespace {

using fake_win32::CallCount;
using test_support::FileExists;
using test_support::FolderExists;
using test_support::QueryValue;
using test_support::RunScenario;

class WholeRunTest : public test_support::PlatformTest {
 protected:
  int Run() {
    ProductionOperations operations;
    return RunSetup(operations);
  }
  std::vector<std::string> Boxes() const {
    std::vector<std::string> texts;
    for (const auto& box : fake_win32::MessageBoxes()) texts.push_back(box.text);
    return texts;
  }

  RunScenario scenario;
};

TEST_F(WholeRunTest, FreshInstallThenNothingToDoThenAnUpdate) {
  ASSERT_EQ(0, Run());
  const std::string folder = scenario.InstallFolder();
  EXPECT_EQ("C:\\Program Files (x86)\\Vendor\\FanControl\\2.1.0\\", folder);
  for (const char* file : {"setup.exe", "setup.ini", "fansvc.exe", "fan.dll"}) {
    EXPECT_TRUE(FileExists(folder + file)) << file;
  }
  EXPECT_FALSE(FolderExists(folder + "lang"));
  ASSERT_EQ(1u, scenario.launches.size());
  EXPECT_EQ("\"" + folder + "fansvc.exe\" /Service", scenario.launches[0]);
  EXPECT_EQ(std::string("2.1.0\0", 6), QueryValue(RunScenario::kRegistryKey, "Version").bytes);
  EXPECT_EQ(folder + '\0', QueryValue(RunScenario::kRegistryKey, "Path").bytes);
  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ("CoInitialize", fake_win32::CallSequence().front());

  const int copies = CallCount("CopyFileA");
  ASSERT_EQ(0, Run());  // same version, service present
  EXPECT_EQ(copies, CallCount("CopyFileA"));
  EXPECT_EQ(1u, scenario.launches.size());

  scenario.settings["version"] = "2.2.0";
  scenario.WriteSetupIni(scenario.settings);
  ASSERT_EQ(0, Run());
  EXPECT_TRUE(FileExists(scenario.InstallFolder() + "fansvc.exe"));
  EXPECT_TRUE(FileExists(folder + "fansvc.exe"));  // the old version stays beside it
  EXPECT_EQ(std::string("2.2.0\0", 6), QueryValue(RunScenario::kRegistryKey, "Version").bytes);
}

TEST_F(WholeRunTest, ClosedGateStopsBeforeAnySetting) {
  scenario.component.scripts[L"iAcpiMbif"].data = test_support::MbifPackage(0x1FF);
  EXPECT_EQ(-1, Run());
  EXPECT_EQ(0, CallCount("GetPrivateProfileStringA"));
  EXPECT_EQ(0, CallCount("OpenSCManagerA"));
  EXPECT_FALSE(test_support::KeyExists(RunScenario::kRegistryKey));
  ASSERT_EQ(2u, scenario.component.calls.size());
  EXPECT_EQ(L"iAcpiInit", scenario.component.calls[0].method);
  EXPECT_EQ(L"iAcpiMbif", scenario.component.calls[1].method);
}

TEST_F(WholeRunTest, CopyFailureEndsWithoutLaunchOrRecord) {
  test_support::MakeFolder(scenario.InstallFolder() + "fan.dll");  // cannot be replaced
  EXPECT_EQ(-1, Run());
  EXPECT_TRUE(scenario.launches.empty());
  EXPECT_FALSE(test_support::KeyExists(RunScenario::kRegistryKey));
  EXPECT_TRUE(FileExists(scenario.InstallFolder() + "setup.exe"));  // copied before: kept
}

TEST_F(WholeRunTest, LaunchFailureLeavesNoRecord) {
  scenario.settings["Execution"] = "absent.exe";
  scenario.WriteSetupIni(scenario.settings);
  EXPECT_EQ(0, Run());
  EXPECT_TRUE(scenario.launches.empty());
  EXPECT_FALSE(QueryValue(RunScenario::kRegistryKey, "Version").exists);
}

TEST_F(WholeRunTest, SameVersionWithServiceMissingIsDeployedAgain) {
  ASSERT_EQ(0, Run());
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  SC_HANDLE service = OpenServiceA(manager, RunScenario::kServiceName, DELETE);
  ASSERT_TRUE(DeleteService(service));
  CloseServiceHandle(service);
  CloseServiceHandle(manager);
  ASSERT_EQ(0, Run());
  EXPECT_EQ(2u, scenario.launches.size());
}

TEST_F(WholeRunTest, MissingSetupIniShowsEveryMessageInOrder) {
  test_support::RemoveTree(std::string(RunScenario::kProgramFolder) + "setup.ini");
  EXPECT_EQ(0, Run());
  EXPECT_EQ((std::vector<std::string>{"Can not read version from setup.ini",
                                      "Can not read registry key from setup.ini",
                                      "Can not read service name from setup.ini",
                                      "Can not read install path from setup.ini",
                                      "Can not read executable file name from setup.ini",
                                      "Can not read service name from setup.ini"}),
            Boxes());
  EXPECT_TRUE(scenario.launches.empty());  // the folder alone is no program
}

TEST_F(WholeRunTest, RecordIsWrittenLastAndTheKeyClosed) {
  ASSERT_EQ(0, Run());
  const auto sequence = fake_win32::CallSequence();
  const std::vector<std::string> tail(sequence.end() - 3, sequence.end());
  EXPECT_EQ((std::vector<std::string>{"RegSetValueExA", "RegSetValueExA", "RegCloseKey"}), tail);
  const auto sets = fake_win32::CallsTo("RegSetValueExA");
  EXPECT_EQ((std::vector<std::string>{sets[0].args[0], "Version", "0", "1", "2.1.0", "6"}), sets[0].args);
  EXPECT_EQ("Path", sets[1].args[1]);
  EXPECT_EQ(std::to_string(scenario.InstallFolder().size() + 1), sets[1].args[5]);
  EXPECT_EQ("(null)", fake_win32::CallsTo("CoInitialize")[0].args[0]);
}

}  // namespace
}  // namespace vantu
