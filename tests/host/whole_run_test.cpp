// The whole run, with every operation real, on the in-memory platform.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "acpi/firmware_probe.h"
#include "fake_win32/control.h"
#include "runlog/run_log.h"
#include "run/production_operations.h"
#include "run/setup_run.h"
#include "tests/support/run_once.h"
#include "tests/support/run_scenario.h"
#include "tests/support/scratch.h"
#include "tests/support/service_stand_in.h"
#include "tests/support/wide.h"

namespace vantu {
namespace {

using fake_win32::CallCount;
using test_support::FileExists;
using test_support::FolderExists;
using test_support::QueryValue;
using test_support::RunScenario;

int RunOnce() { return ExitCodeOf(test_support::RunOnce()); }

std::vector<std::string> Boxes() {
  std::vector<std::string> texts;
  for (const auto& box : fake_win32::MessageBoxes()) texts.push_back(box.text);
  return texts;
}

// No install folder resolved, nothing listed, copied, started or recorded.
void ExpectNothingDeployed(const RunScenario& scenario) {
  EXPECT_EQ(0, CallCount("SHGetFolderPathAndSubDirW"));
  EXPECT_EQ(0, CallCount("FindFirstFileW"));
  EXPECT_EQ(0, CallCount("CopyFileW"));
  EXPECT_EQ(0, CallCount("CreateProcessW"));
  EXPECT_EQ(0, CallCount("RegCreateKeyExW"));
  EXPECT_TRUE(scenario.launches.empty());
  EXPECT_FALSE(test_support::KeyExists(RunScenario::kRegistryKey));
}

class WholeRunTest : public test_support::PlatformTest {
 protected:
  RunScenario scenario;
};

// Tables of whole runs, each row on a fresh platform of its own.
class WholeRunTableTest : public test_support::PlatformTest {
 protected:
  // After a row: everything the run opened is closed again, once.
  static void ExpectAllReleased() {
    EXPECT_TRUE(fake_win32::OpenResources().empty()) << ::testing::PrintToString(fake_win32::OpenResources());
    EXPECT_TRUE(fake_win32::Misuses().empty()) << ::testing::PrintToString(fake_win32::Misuses());
  }
};

TEST_F(WholeRunTest, FreshInstallThenNothingToDoThenAnUpdate) {
  ASSERT_EQ(0, RunOnce());
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
  // The image, the program folder (by the image's final path) and
  // setup.ini are taken first, then the component model starts; the
  // settings are read from the copy taken.
  const auto opens = fake_win32::CallsTo("CreateFileW");
  EXPECT_EQ("C:\\Fan\\Setup\\setup.exe", opens.at(0).args[0]);
  EXPECT_EQ("C:\\Fan\\Setup\\", opens.at(1).args[0]);
  EXPECT_EQ("C:\\Fan\\Setup\\setup.ini", opens.at(2).args[0]);
  const auto sequence = fake_win32::CallSequence();
  const auto coInitialize = std::find(sequence.begin(), sequence.end(), "CoInitialize");
  EXPECT_EQ(0, std::count(coInitialize, sequence.end(), "GetModuleFileNameW"));
  EXPECT_EQ(0, std::count(sequence.begin(), coInitialize, "GetPrivateProfileStringW"));

  const int moves = CallCount("SetFileInformationByHandle");
  ASSERT_EQ(0, RunOnce());  // same version, service present
  EXPECT_EQ(moves, CallCount("SetFileInformationByHandle"));
  EXPECT_EQ(1u, scenario.launches.size());

  scenario.settings["version"] = "2.2.0";
  scenario.WriteSetupIni(scenario.settings);
  ASSERT_EQ(0, RunOnce());
  EXPECT_TRUE(FileExists(scenario.InstallFolder() + "fansvc.exe"));
  EXPECT_TRUE(FileExists(folder + "fansvc.exe"));  // the old version stays beside it
  EXPECT_EQ(std::string("2.2.0\0", 6), QueryValue(RunScenario::kRegistryKey, "Version").bytes);
}

TEST_F(WholeRunTest, ClosedGateStopsBeforeAnySetting) {
  scenario.component.scripts[L"iAcpiMbif"].data = test_support::MbifPackage(0x1FF);
  EXPECT_EQ(-1, RunOnce());
  EXPECT_EQ(0, CallCount("GetPrivateProfileStringW"));
  EXPECT_EQ(0, CallCount("OpenSCManagerW"));
  EXPECT_FALSE(test_support::KeyExists(RunScenario::kRegistryKey));
  ASSERT_EQ(2u, scenario.component.calls.size());
  EXPECT_EQ(L"iAcpiInit", scenario.component.calls[0].method);
  EXPECT_EQ(L"iAcpiMbif", scenario.component.calls[1].method);
}

TEST_F(WholeRunTest, CopyFailureEndsWithoutLaunchOrRecord) {
  test_support::MakeFolder(scenario.InstallFolder() + "fan.dll");  // cannot be replaced
  EXPECT_EQ(-1, RunOnce());
  EXPECT_TRUE(scenario.launches.empty());
  EXPECT_FALSE(test_support::KeyExists(RunScenario::kRegistryKey));
  EXPECT_TRUE(FileExists(scenario.InstallFolder() + "setup.exe"));  // copied before: kept
}

TEST_F(WholeRunTest, FullDiskEndsWithoutLaunchOrRecord) {
  // The first file of the payload's data: setup.ini's copy was written before.
  fake_win32::FailCall("WriteFile", 2, ERROR_DISK_FULL);
  EXPECT_EQ(-1, RunOnce());
  EXPECT_TRUE(scenario.launches.empty());
  EXPECT_FALSE(test_support::KeyExists(RunScenario::kRegistryKey));
  // The other three files were still copied.
  int copied = 0;
  for (const char* file : {"setup.exe", "setup.ini", "fansvc.exe", "fan.dll"}) {
    copied += FileExists(scenario.InstallFolder() + file) ? 1 : 0;
  }
  EXPECT_EQ(3, copied);
  EXPECT_EQ(3, CallCount("SetFileInformationByHandle") - 1);  // three moved into place, one staged file removed
  EXPECT_EQ(3u, test_support::FilesIn(scenario.InstallFolder()).size());  // no temporary file left
}

TEST_F(WholeRunTest, TargetInUseIsPassedOverAndTheRunGoesOn) {
  ASSERT_EQ(0, RunOnce());
  ASSERT_TRUE(test_support::DeleteServiceNamed(RunScenario::kServiceName));
  test_support::WriteFile(std::string(RunScenario::kProgramFolder) + "fan.dll", "new dll");
  {
    test_support::ExclusiveHold hold(scenario.InstallFolder() + "fan.dll");
    ASSERT_EQ(0, RunOnce());
  }
  EXPECT_EQ("dll", test_support::ReadFile(scenario.InstallFolder() + "fan.dll"));
  EXPECT_EQ(2u, scenario.launches.size());
}

// The image that runs is what is installed as setup.exe. Renamed and
// replaced before the run could hold it, it is no longer the file that runs:
// the run ends before anything is read. Renamed and replaced after that
// (the user's program at work while the run goes on), the image that runs
// is copied all the same, from the handle held since the start.
TEST_F(WholeRunTest, TheImageThatRunsIsTheImageInstalled) {
  const std::string image = std::string(RunScenario::kProgramFolder) + "setup.exe";
  const auto swap = [&] {
    std::filesystem::rename(fake_win32::HostPath(image), fake_win32::HostPath(image + ".old"));
    test_support::WriteFile(image, "MZ other bytes");
  };
  fake_win32::MapRunningImage();
  swap();
  EXPECT_EQ(RunOutcome::kImageNotHeld, test_support::RunOnce());
  EXPECT_EQ(0, CallCount("CoInitialize"));
  EXPECT_FALSE(FolderExists(scenario.InstallFolder()));

  fake_win32::Reset();
  RunScenario again;
  RunContext context;
  context.OpenProgramFolder();
  swap();
  ASSERT_FALSE(context.Take().has_value());
  ProductionOperations operations(context);
  EXPECT_EQ(RunOutcome::kInstalled, RunSetup(operations));
  EXPECT_EQ("MZ setup", test_support::ReadFile(again.InstallFolder() + "setup.exe"));
}

// Each part of the run context that cannot be taken ends the run before
// the firmware is asked: nothing is read, made, run or recorded, and the
// run's copy of setup.ini is gone. A volume that tells no final path is no
// such failure: the program folder and its files are taken by the path the
// run was started from.
TEST_F(WholeRunTableTest, RunContextThatCannotBeTaken) {
  struct Case {
    const char* name;
    const char* function;  // failed at its `occurrence`th call, with `error`
    int occurrence;
    uint32_t error;
    RunOutcome outcome;
  };
  const Case cases[] = {
      {"image not opened", "CreateFileW", 1, ERROR_SHARING_VIOLATION, RunOutcome::kImageNotHeld},
      {"image's final path", "GetFinalPathNameByHandleW", 1, ERROR_ACCESS_DENIED, RunOutcome::kImageNotHeld},
      {"program folder not opened", "CreateFileW", 2, ERROR_ACCESS_DENIED, RunOutcome::kNoProgramFolder},
      {"program folder's final path", "GetFinalPathNameByHandleW", 2, ERROR_ACCESS_DENIED, RunOutcome::kNoProgramFolder},
      {"image not mapped", "MapViewOfFile", 1, ERROR_NOT_ENOUGH_MEMORY, RunOutcome::kImageNotHeld},
      {"setup.ini held by another", "CreateFileW", 3, ERROR_SHARING_VIOLATION, RunOutcome::kSetupIniNotTaken},
      {"setup.ini's kind", "GetFileInformationByHandleEx", 1, ERROR_ACCESS_DENIED, RunOutcome::kSetupIniNotTaken},
      {"no Windows folder", "GetSystemWindowsDirectoryW", 1, ERROR_NOT_ENOUGH_MEMORY, RunOutcome::kSetupIniNotTaken},
      {"copy not made", "CreateFileW", 4, ERROR_ACCESS_DENIED, RunOutcome::kSetupIniNotTaken},
      {"setup.ini not read", "ReadFile", 1, ERROR_LOCK_VIOLATION, RunOutcome::kSetupIniNotTaken},
      {"copy not written", "WriteFile", 1, ERROR_DISK_FULL, RunOutcome::kSetupIniNotTaken},
      {"copy not held", "CreateFileW", 5, ERROR_ACCESS_DENIED, RunOutcome::kSetupIniNotTaken},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fake_win32::Reset();
    {
      RunScenario scenario;
      fake_win32::FailCall(c.function, c.occurrence, c.error);
      EXPECT_EQ(c.outcome, test_support::RunOnce());
      EXPECT_EQ(0, CallCount("CoInitialize"));
      EXPECT_EQ(0, CallCount("GetPrivateProfileStringW"));
      EXPECT_FALSE(FolderExists(scenario.InstallFolder()));
      EXPECT_TRUE(test_support::FilesIn("C:\\windows\\Temp\\").empty());
    }
    ExpectAllReleased();
  }
  for (const DWORD error : {DWORD{ERROR_NOT_SUPPORTED}, DWORD{ERROR_INVALID_FUNCTION}, DWORD{ERROR_INVALID_PARAMETER}}) {
    fake_win32::Reset();
    RunScenario scenario;
    fake_win32::FailEveryCall("GetFinalPathNameByHandleW", error);
    EXPECT_EQ(RunOutcome::kInstalled, test_support::RunOnce()) << error;
    EXPECT_EQ("MZ service", test_support::ReadFile(scenario.InstallFolder() + "fansvc.exe"));
  }
}

TEST_F(WholeRunTest, LaunchFailureLeavesNoRecord) {
  scenario.settings["Execution"] = "absent.exe";
  scenario.WriteSetupIni(scenario.settings);
  EXPECT_EQ(0, RunOnce());
  EXPECT_TRUE(scenario.launches.empty());
  EXPECT_FALSE(QueryValue(RunScenario::kRegistryKey, "Version").exists);
}

TEST_F(WholeRunTest, SameVersionWithServiceMissingIsDeployedAgain) {
  ASSERT_EQ(0, RunOnce());
  ASSERT_TRUE(test_support::DeleteServiceNamed(RunScenario::kServiceName));
  ASSERT_EQ(0, RunOnce());
  EXPECT_EQ(2u, scenario.launches.size());
}

// An install is due but the offered version names no single folder below
// InstallPath: after the messages of the settings read so far, the run ends
// before the install folder, and nothing is made, copied, run or recorded.
TEST_F(WholeRunTableTest, UnusableVersionEndsBeforeTheInstallFolder) {
  struct Case {
    const char* name;
    std::optional<std::string> version;  // nullopt: no "version" key
    bool iniPresent;
    std::vector<std::string> boxes;
  };
  const std::vector<std::string> none;
  const Case cases[] = {
      {"no setup.ini", std::nullopt, false,
       {"Can not read version from setup.ini", "Can not read registry key from setup.ini",
        "Can not read service name from setup.ini"}},
      {"no version key", std::nullopt, true, {"Can not read version from setup.ini"}},
      {"empty version", std::string(), true, none},
      {"dot", std::string("."), true, none},
      {"dot dot", std::string(".."), true, none},
      {"climbs out", std::string("..\\..\\..\\windows"), true, none},
      {"two folders", std::string("2.1\\0"), true, none},
      {"trailing backslash", std::string("2.1.0\\"), true, none},
      {"slash", std::string("2.1/0"), true, none},
      {"drive", std::string("D:2.1.0"), true, none},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fake_win32::Reset();
    {
      RunScenario scenario;
      if (c.version) {
        scenario.settings["version"] = *c.version;
      } else {
        scenario.settings.erase("version");
      }
      scenario.WriteSetupIni(scenario.settings);
      if (!c.iniPresent) test_support::RemoveTree(std::string(RunScenario::kProgramFolder) + "setup.ini");
      fake_win32::ClearCalls();
      EXPECT_EQ(-1, RunOnce());
      EXPECT_EQ(c.boxes, Boxes());
      ExpectNothingDeployed(scenario);
      std::error_code error;
      EXPECT_TRUE(std::filesystem::is_empty(fake_win32::HostPath(fake_win32::ProgramFilesFolder()), error));
    }
    ExpectAllReleased();
  }
}

TEST_F(WholeRunTest, UnusableVersionOverAPresentServiceIsStillNothingToDo) {
  ASSERT_EQ(0, RunOnce());
  const int copies = CallCount("CopyFileW");
  for (const char* version : {"", ".."}) {
    scenario.settings["version"] = version;
    scenario.WriteSetupIni(scenario.settings);
    EXPECT_EQ(0, RunOnce()) << version;  // not newer than 2.1.0, and the service is there
  }
  EXPECT_EQ(copies, CallCount("CopyFileW"));
  EXPECT_EQ(1u, scenario.launches.size());
  EXPECT_EQ(std::string("2.1.0\0", 6), QueryValue(RunScenario::kRegistryKey, "Version").bytes);
}

TEST_F(WholeRunTableTest, WithoutInstallPathTheVersionFolderSitsBelowProgramFiles) {
  struct Case {
    const char* name;
    bool keyPresent;
    std::vector<std::string> boxes;
  };
  const Case cases[] = {
      {"empty InstallPath", true, {}},
      {"no InstallPath key", false, {"Can not read install path from setup.ini"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fake_win32::Reset();
    {
      RunScenario scenario;
      if (c.keyPresent) {
        scenario.settings["InstallPath"] = "";
      } else {
        scenario.settings.erase("InstallPath");
      }
      scenario.WriteSetupIni(scenario.settings);
      EXPECT_EQ(0, RunOnce());
      const std::string folder = "C:\\Program Files (x86)\\2.1.0\\";
      EXPECT_TRUE(FileExists(folder + "fansvc.exe"));
      ASSERT_EQ(1u, scenario.launches.size());
      EXPECT_EQ("\"" + folder + "fansvc.exe\" /Service", scenario.launches[0]);
      EXPECT_EQ(folder + '\0', QueryValue(RunScenario::kRegistryKey, "Path").bytes);
      EXPECT_EQ(c.boxes, Boxes());
    }
    ExpectAllReleased();
  }
}

// Whole runs from a program folder, with payload files, named outside the
// ANSI code page (1252), and in code page 932, where the second byte of 能,
// ソ and 表 is 0x5C: every file is deployed under its exact name, the
// service executable runs, "Path" holds the exact folder and "Version" reads
// back (through the ANSI functions, as the next run compares) as the offered
// text in the code page, so that a second run finds nothing to do.
TEST_F(WholeRunTableTest, NamesInAnyLanguageDeployExactly) {
  using test_support::W;
  struct Case {
    const char* name;
    UINT codePage;
    std::string programFolder;
    std::vector<std::string> payload;
    std::string execution;
    std::string version;
    bool utf16Ini;  // setup.ini in UTF-16 with a byte-order mark, else in the code page
  };
  const Case cases[] = {
      {"1252, folder and files in other scripts", 1252, "C:\\Users\\张伟\\Downloads\\新機能\\",
       {"plain.txt", "файл.dll", "αβγ.txt", "张伟.dat", "😀.bin"}, "服务 svc.exe", "2.1.0", true},
      {"1252, version in the code page", 1252, "C:\\Setup\\", {"a.dll"}, "fansvc.exe", "2.1-café", false},
      {"932, double-byte names", 932, "C:\\新機能\\", {"ソ.dll", "表.txt"}, "fansvc.exe", "表1", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fake_win32::Reset();
    {
      RunScenario scenario;
      fake_win32::SetAnsiCodePage(c.codePage);
      fake_win32::SetModuleFileName(c.programFolder + "setup.exe");
      test_support::MakeFolder(c.programFolder);
      test_support::WriteFile(c.programFolder + "setup.exe", "MZ setup");
      test_support::WriteFile(c.programFolder + c.execution, "MZ service");
      for (const auto& file : c.payload) test_support::WriteFile(c.programFolder + file, "bytes of " + file);
      const std::string ini = "[Common]\r\nServiceName=FanControl\r\nInstallPath=Vendor\\FanControl\r\n"
                              "RegistryKey=SOFTWARE\\Vendor\\FanControl\r\nExecution=" +
                              c.execution + "\r\nversion=" + c.version + "\r\n";
      std::string bytes;
      if (c.utf16Ini) {
        bytes = "\xFF\xFE";
        for (const wchar_t ch : W(ini)) {
          bytes += static_cast<char>(static_cast<uint32_t>(ch) & 0xFF);
          bytes += static_cast<char>((static_cast<uint32_t>(ch) >> 8) & 0xFF);
        }
      } else {
        const std::wstring wide = W(ini);
        bytes.resize(wide.size() * 2);
        bytes.resize(static_cast<size_t>(WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()),
                                                             &bytes[0], static_cast<int>(bytes.size()), nullptr,
                                                             nullptr)));
      }
      test_support::WriteFile(c.programFolder + "setup.ini", bytes);
      fake_win32::ClearCalls();

      ASSERT_EQ(0, RunOnce());
      const std::string folder = "C:\\Program Files (x86)\\Vendor\\FanControl\\" + c.version + "\\";
      std::vector<std::string> expected = c.payload;
      expected.push_back(c.execution);
      expected.push_back("setup.exe");
      expected.push_back("setup.ini");
      for (const auto& file : expected) {
        EXPECT_TRUE(FileExists(folder + file)) << file;
        EXPECT_EQ(test_support::ReadFile(c.programFolder + file), test_support::ReadFile(folder + file)) << file;
      }
      ASSERT_EQ(1u, scenario.launches.size());
      EXPECT_EQ("\"" + folder + c.execution + "\" /Service", scenario.launches[0]);
      EXPECT_EQ(folder, test_support::QueryText(RunScenario::kRegistryKey, "Path"));
      EXPECT_EQ(c.version, test_support::QueryText(RunScenario::kRegistryKey, "Version"));
      const std::wstring wideVersion = W(c.version);
      std::string ansi(wideVersion.size() * 2, '\0');
      ansi.resize(static_cast<size_t>(WideCharToMultiByte(CP_ACP, 0, wideVersion.data(),
                                                          static_cast<int>(wideVersion.size()), &ansi[0],
                                                          static_cast<int>(ansi.size()), nullptr, nullptr)));
      EXPECT_EQ(ansi + '\0', QueryValue(RunScenario::kRegistryKey, "Version").bytes);

      // The same version again, the service now present: nothing to do.
      ASSERT_EQ(0, RunOnce());
      EXPECT_EQ(1u, scenario.launches.size());
    }
    ExpectAllReleased();
  }
}

// Every folder and file on drive C:, with its content.
std::map<std::string, std::string> DriveC() {
  std::map<std::string, std::string> tree;
  const std::filesystem::path root = fake_win32::HostPath("C:\\");
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    const std::string name = std::filesystem::relative(entry.path(), root).string();
    tree[name] = entry.is_directory() ? std::string("(folder)") : test_support::ReadFile("C:\\" + name);
  }
  return tree;
}

// The lines of the run log at `path`, without their time stamps.
std::vector<std::string> LogLines(const std::string& path) {
  std::vector<std::string> lines;
  const std::string text = test_support::ReadFile(path);
  for (size_t start = 3, end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
    lines.push_back(text.substr(start + 24, end - start - 24));
  }
  return lines;
}

// setup.ini may be hostile: a setting that would lead the deployment out of
// its folders ends the run with -1 before anything is created, copied, run
// or recorded, and the log names the setting and its rule.
TEST_F(WholeRunTableTest, SettingsThatLeadOutEndTheRunBeforeAnythingIsMade) {
  struct Case {
    const char* key;
    const char* value;
    const char* logged;  // the value as the log shows it
  };
  const Case cases[] = {
      {"InstallPath", "..\\Fan", "..\\Fan\\"},
      {"InstallPath", "..\\..\\..\\Fan", "..\\..\\..\\Fan\\"},
      {"InstallPath", "Fan\\..\\..\\x", "Fan\\..\\..\\x\\"},
      {"InstallPath", ".\\Fan", ".\\Fan\\"},
      {"InstallPath", "C:\\Fan", "C:\\Fan\\"},
      {"InstallPath", "D:Fan", "D:Fan\\"},
      {"InstallPath", "\\Fan", "\\Fan\\"},
      {"InstallPath", "/Fan", "/Fan\\"},
      {"Execution", "..\\..\\..\\Users\\Public\\x.exe", "..\\..\\..\\Users\\Public\\x.exe"},
      {"Execution", "lang\\fansvc.exe", "lang\\fansvc.exe"},
      {"Execution", "C:\\fansvc.exe", "C:\\fansvc.exe"},
      {"Execution", "fansvc.exe\"", "fansvc.exe\""},
      {"Execution", "..", ".."},
      {"RegistryKey", "System\\CurrentControlSet\\Control\\Session Manager\\Environment",
       "System\\CurrentControlSet\\Control\\Session Manager\\Environment"},
      {"RegistryKey", "SOFTWARE\\\\Vendor", "SOFTWARE\\\\Vendor"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.key) + "=" + c.value);
    fake_win32::Reset();
    {
      RunScenario scenario;
      scenario.settings[c.key] = c.value;
      scenario.WriteSetupIni(scenario.settings);
      test_support::MakeFolder("C:\\Logs");
      RunLog log;
      std::string refusal;
      ASSERT_TRUE(RunLog::OpenPath(L"C:\\Logs\\run.log", L"C:\\Fan\\Setup\\", log, &refusal)) << refusal;
      const auto before = DriveC();
      fake_win32::ClearCalls();
      EXPECT_EQ(-1, RunOnce());
      EXPECT_TRUE(Boxes().empty());
      ExpectNothingDeployed(scenario);
      auto after = DriveC();
      after.erase("Logs/run.log");
      auto expected = before;
      expected.erase("Logs/run.log");
      EXPECT_EQ(expected, after);  // nothing made anywhere
      const std::string line = std::string("setting \"") + c.key + "\" = \"" + c.logged + "\" breaks its rule (";
      const auto lines = LogLines("C:\\Logs\\run.log");
      const auto found = std::find_if(lines.begin(), lines.end(), [&](const std::string& l) {
        return l.rfind(line, 0) == 0 && l.find("; nothing deployed") != std::string::npos;
      });
      EXPECT_NE(lines.end(), found) << ::testing::PrintToString(lines);
    }
    ExpectAllReleased();
  }
}

// Ordinary values still deploy, and the service executable runs by its full
// path from the install folder.
TEST_F(WholeRunTableTest, OrdinarySettingsStillDeploy) {
  struct Case {
    const char* installPath;
    const char* execution;
    const char* folder;
  };
  const Case cases[] = {
      {"Vendor\\Fan Control", "fansvc.exe", "C:\\Program Files (x86)\\Vendor\\Fan Control\\2.1.0\\"},
      {"Vendor\\Fan Control\\", "fan service.exe", "C:\\Program Files (x86)\\Vendor\\Fan Control\\2.1.0\\"},
      {"a.b", "a.b.exe", "C:\\Program Files (x86)\\a.b\\2.1.0\\"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.installPath);
    fake_win32::Reset();
    {
      RunScenario scenario;
      scenario.settings["InstallPath"] = c.installPath;
      scenario.settings["Execution"] = c.execution;
      scenario.WriteSetupIni(scenario.settings);
      test_support::WriteFile(std::string(RunScenario::kProgramFolder) + c.execution, "MZ service");
      EXPECT_EQ(0, RunOnce());
      EXPECT_TRUE(FileExists(std::string(c.folder) + c.execution));
      ASSERT_EQ(1u, scenario.launches.size());
      const auto create = fake_win32::CallsTo("CreateProcessW").back().args;
      EXPECT_EQ(std::string(c.folder) + c.execution, create[0]);
      EXPECT_EQ("\"" + std::string(c.folder) + c.execution + "\" /Service", create[1]);
      EXPECT_EQ(c.folder, create[7]);
      EXPECT_EQ(c.folder, test_support::QueryText(RunScenario::kRegistryKey, "Path"));
    }
    ExpectAllReleased();
  }
}

// setup.ini changed while the run goes on (after the copy, say) changes
// nothing: every setting comes from the bytes taken at the start.
TEST_F(WholeRunTest, SetupIniChangedDuringTheRunChangesNothing) {
  struct RewritingOperations : ProductionOperations {
    using ProductionOperations::ProductionOperations;
    std::function<void()> afterCopy;
    CopyOutcome CopyPayload(const std::wstring& target) override {
      const CopyOutcome copied = ProductionOperations::CopyPayload(target);
      afterCopy();
      return copied;
    }
  };
  test_support::MakeFolder("C:\\Users\\Public");
  test_support::WriteFile("C:\\Users\\Public\\x.exe", "MZ planted");
  RunContext context;
  context.OpenProgramFolder();
  ASSERT_FALSE(context.Take().has_value());
  RewritingOperations operations(context);
  const std::map<std::string, std::string> original = scenario.settings;
  operations.afterCopy = [this] {
    scenario.settings["Execution"] = "..\\..\\..\\..\\Users\\Public\\x.exe";
    scenario.settings["RegistryKey"] = "SOFTWARE\\Hijacked";
    scenario.settings["ServiceName"] = "Other";
    scenario.WriteSetupIni(scenario.settings);
  };
  EXPECT_EQ(RunOutcome::kInstalled, RunSetup(operations));
  EXPECT_EQ((std::vector<std::string>{"\"" + scenario.InstallFolder() + "fansvc.exe\" /Service"}), scenario.launches);
  EXPECT_TRUE(QueryValue(RunScenario::kRegistryKey, "Version").exists);
  EXPECT_FALSE(test_support::KeyExists("SOFTWARE\\Hijacked"));
}

TEST_F(WholeRunTest, RecordIsWrittenLastAndTheKeyClosed) {
  ASSERT_EQ(0, RunOnce());
  const auto sequence = fake_win32::CallSequence();
  // Then the run lets what it took go: the copy of setup.ini (removed),
  // setup.ini, the image and the program folder.
  const std::vector<std::string> tail(sequence.end() - 8, sequence.end());
  EXPECT_EQ((std::vector<std::string>{"RegSetValueExW", "RegSetValueExW", "RegCloseKey", "CloseHandle", "DeleteFileW",
                                      "CloseHandle", "CloseHandle", "CloseHandle"}),
            tail);
  const auto sets = fake_win32::CallsTo("RegSetValueExW");
  // Byte counts of the wide texts with their terminators.
  const std::string versionBytes = std::to_string(6 * sizeof(wchar_t));
  EXPECT_EQ((std::vector<std::string>{sets[0].args[0], "Version", "0", "1", "2.1.0", versionBytes}), sets[0].args);
  EXPECT_EQ("Path", sets[1].args[1]);
  EXPECT_EQ(std::to_string((scenario.InstallFolder().size() + 1) * sizeof(wchar_t)), sets[1].args[5]);
  EXPECT_EQ("(null)", fake_win32::CallsTo("CoInitialize")[0].args[0]);
}

// Whole runs fed packages longer than three elements, some running to the
// last bytes of the 4096 the probe fetches. The run hands the probe its own
// word and room for that one value: where a fourth value lies inside the
// buffer, a run that let the probe store more would overrun its word (which
// the address sanitizer reports), and only the third value may decide.
TEST_F(WholeRunTableTest, LargerFirmwarePackages) {
  using test_support::MbifElement;
  struct Case {
    const char* name;
    ULONG count;
    std::vector<MbifElement> elements;
    bool fillsBuffer;  // the package's bytes reach the end of the 4096
    int exitCode;
  };
  // 341 short elements: the last one's value takes the buffer's last four
  // bytes, its filler lies beyond them.
  std::vector<MbifElement> full = {{4, 1}, {4, 2}, {4, 0x200}};
  while (full.size() < 341) full.push_back({4, 0x1FF});
  std::vector<MbifElement> fullClosed = full;
  fullClosed[2].value = 0x1FF;
  for (size_t i = 3; i < fullClosed.size(); ++i) fullClosed[i].value = 0x200;
  const Case cases[] = {
      {"six short, third opens", 6, {{4, 1}, {4, 2}, {4, 0x200}, {4, 0x100}, {4, 0x1FF}, {4, 0}}, false, 0},
      {"six short, third closes", 6, {{4, 1}, {4, 2}, {4, 0x1FF}, {4, 0x200}, {4, 0x200}, {4, 0x200}}, false, -1},
      {"eight of mixed lengths", 8,
       {{5, 1}, {16, 2}, {4, 0xFF00}, {100, 0x100}, {6, 0}, {0, 0}, {4, 0}, {300, 0}}, false, 0},
      {"long elements around the third", 6,
       {{2000, 1}, {1000, 2}, {4, 0x2FF}, {1000, 0x100}, {4, 0x100}, {4, 0x100}}, false, 0},
      {"a fourth value in the last four bytes", 4, {{4, 1}, {4048, 2}, {4, 0x200}, {4, 0x100}}, true, 0},
      {"a closing third, an opening fourth at the end", 4, {{4, 1}, {4048, 2}, {4, 0x100}, {4, 0x200}}, true, -1},
      {"the third value in the last four bytes", 6,
       {{4, 1}, {4060, 2}, {4, 0x200}, {4, 0x100}, {4, 0x100}, {4, 0x100}}, true, 0},
      {"the third value cut by the end", 6, {{4, 1}, {4062, 2}, {4, 0x200}, {4, 0x200}}, true, -1},
      {"the second element reaching past the end", 6,
       {{4, 1}, {0xFFFF, 2}, {4, 0x200}, {4, 0x200}, {4, 0x200}, {4, 0x200}}, true, -1},
      {"341 elements fill the buffer, third opens", 341, full, true, 0},
      {"341 elements fill the buffer, third closes", 341, fullClosed, true, -1},
      {"a count far beyond the buffer", 0xFFFFFFFF, full, true, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string package = test_support::MbifPackage(c.count, c.elements);
    EXPECT_EQ(c.fillsBuffer, package.size() == kMbifBufferSize);
    fake_win32::Reset();
    {
      RunScenario scenario;
      scenario.component.scripts[L"iAcpiMbif"].data = package;
      EXPECT_EQ(c.exitCode, RunOnce());
      EXPECT_EQ(c.exitCode == 0 ? 1u : 0u, scenario.launches.size());
      EXPECT_EQ(c.exitCode == 0, QueryValue(RunScenario::kRegistryKey, "Version").exists);
      EXPECT_EQ(c.exitCode == 0, CallCount("GetPrivateProfileStringW") > 0);  // a closed gate reads nothing
      EXPECT_EQ(1u, scenario.component.references());
    }
    ExpectAllReleased();
  }
}

}  // namespace
}  // namespace vantu
