// Every platform call of a whole fresh install, failed one at a time with
// the errors the platform really gives there. Each run must end the way the
// run's rules say for that failure, with every handle, key, search,
// process, instance and array closed exactly once.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "fake_win32/control.h"
#include "run/production_operations.h"
#include "run/setup_run.h"
#include "tests/support/run_once.h"
#include "tests/support/run_scenario.h"
#include "tests/support/scratch.h"

namespace vantu {
namespace {

using fake_win32::Call;
using test_support::QueryValue;
using test_support::RunScenario;

// Errors each function is failed with, as the platform reports them.
const std::map<std::string, std::vector<uint32_t>>& ErrorsByFunction() {
  static const std::map<std::string, std::vector<uint32_t>> errors = {
      {"CoInitialize", {static_cast<uint32_t>(E_OUTOFMEMORY)}},
      {"CLSIDFromProgID", {static_cast<uint32_t>(CO_E_CLASSSTRING)}},
      {"CoCreateInstance", {static_cast<uint32_t>(REGDB_E_CLASSNOTREG), static_cast<uint32_t>(E_OUTOFMEMORY)}},
      {"SafeArrayCreate", {0}},
      {"SafeArrayAccessData", {static_cast<uint32_t>(E_UNEXPECTED)}},
      {"SafeArrayUnaccessData", {static_cast<uint32_t>(E_UNEXPECTED)}},
      {"SafeArrayGetLBound", {0x8002000Bu}},
      {"SafeArrayGetUBound", {0x8002000Bu}},
      {"VariantClear", {static_cast<uint32_t>(DISP_E_BADVARTYPE)}},
      {"GetModuleFileNameW", {ERROR_NOT_ENOUGH_MEMORY}},
      {"FindResourceW", {1813u, ERROR_ACCESS_DENIED}},
      {"LoadResource", {ERROR_ACCESS_DENIED}},
      {"LockResource", {ERROR_ACCESS_DENIED}},
      {"SizeofResource", {ERROR_ACCESS_DENIED}},
      {"GetPrivateProfileStringW", {ERROR_FILE_NOT_FOUND}},
      {"WritePrivateProfileStringW", {ERROR_ACCESS_DENIED}},
      {"MessageBoxA", {ERROR_NOT_ENOUGH_MEMORY}},
      {"RegOpenKeyExW", {ERROR_ACCESS_DENIED, ERROR_FILE_NOT_FOUND}},
      {"RegCreateKeyExW", {ERROR_ACCESS_DENIED}},
      {"RegQueryInfoKeyW", {ERROR_ACCESS_DENIED}},
      {"RegQueryValueExA", {ERROR_FILE_NOT_FOUND, ERROR_MORE_DATA}},
      {"RegSetValueExW", {ERROR_ACCESS_DENIED}},
      {"RegCloseKey", {ERROR_INVALID_HANDLE}},
      {"OpenSCManagerW", {ERROR_ACCESS_DENIED}},
      {"OpenServiceW", {ERROR_ACCESS_DENIED}},
      {"CloseServiceHandle", {ERROR_INVALID_HANDLE}},
      {"SHGetFolderPathAndSubDirW", {static_cast<uint32_t>(E_FAIL), 1u, 0x80070005u}},
      {"FindFirstFileW", {ERROR_ACCESS_DENIED, ERROR_PATH_NOT_FOUND}},
      {"FindNextFileW", {ERROR_NO_MORE_FILES, ERROR_ACCESS_DENIED}},
      {"FindClose", {ERROR_INVALID_HANDLE}},
      {"SetFileInformationByHandle",
       {ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION, ERROR_LOCK_VIOLATION, ERROR_FILE_NOT_FOUND, ERROR_DISK_FULL}},
      {"ReadFile", {ERROR_ACCESS_DENIED, ERROR_LOCK_VIOLATION}},
      {"WriteFile", {ERROR_DISK_FULL}},
      {"DeleteFileW", {ERROR_ACCESS_DENIED}},
      {"CreateDirectoryW", {ERROR_ACCESS_DENIED, ERROR_DISK_FULL}},
      {"RemoveDirectoryW", {ERROR_ACCESS_DENIED}},
      {"GetFileTime", {ERROR_ACCESS_DENIED}},
      {"SetFileTime", {ERROR_ACCESS_DENIED}},
      {"GetFileAttributesW", {ERROR_ACCESS_DENIED}},
      {"GetSystemWindowsDirectoryW", {ERROR_NOT_ENOUGH_MEMORY}},
      {"GetModuleHandleW", {ERROR_MOD_NOT_FOUND}},
      {"GetProcAddress", {ERROR_PROC_NOT_FOUND}},
      {"CreateFileMappingW", {ERROR_ACCESS_DENIED}},
      {"MapViewOfFile", {ERROR_NOT_ENOUGH_MEMORY}},
      {"UnmapViewOfFile", {ERROR_INVALID_ADDRESS}},
      {"SetFileAttributesW", {ERROR_ACCESS_DENIED}},
      {"CreateProcessW", {ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_DIRECTORY}},
      {"LoadLibraryExW", {ERROR_MOD_NOT_FOUND}},
      {"GetProcAddress", {ERROR_PROC_NOT_FOUND}},
      {"CreateEnvironmentBlock", {ERROR_NOT_ENOUGH_MEMORY}},
      {"DestroyEnvironmentBlock", {ERROR_INVALID_PARAMETER}},
      {"FreeLibrary", {ERROR_INVALID_HANDLE}},
      {"CreateFileW", {ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION, ERROR_FILE_NOT_FOUND}},
      {"GetFileInformationByHandleEx", {ERROR_ACCESS_DENIED}},
      // ERROR_NOT_SUPPORTED: a volume that tells no final path.
      {"GetFinalPathNameByHandleW", {ERROR_NOT_ENOUGH_MEMORY, ERROR_PATH_NOT_FOUND, ERROR_NOT_SUPPORTED}},
      {"SHGetFolderPathW", {static_cast<uint32_t>(E_FAIL)}},
      {"GetFullPathNameW", {ERROR_FILENAME_EXCED_RANGE}},
      {"WaitForSingleObject", {ERROR_INVALID_HANDLE}},
      {"CloseHandle", {ERROR_INVALID_HANDLE}},
      {"WideCharToMultiByte", {ERROR_NOT_ENOUGH_MEMORY}},
      {"MultiByteToWideChar", {ERROR_NOT_ENOUGH_MEMORY}},
  };
  return errors;
}

// The two runs the matrix disturbs: a fresh install, and an update over an
// older record whose install folder holds a read-only file, which is copied
// again only after its attributes are reset.
enum class Scenario { kFreshInstall, kUpdateOverReadOnly };

void Prepare(Scenario scenario) {
  if (scenario != Scenario::kUpdateOverReadOnly) return;
  HKEY key = nullptr;
  RegCreateKeyExA(HKEY_LOCAL_MACHINE, RunScenario::kRegistryKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                  nullptr);
  RegSetValueExA(key, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>("2.0.0"), 6);
  RegCloseKey(key);
  const std::string folder = "C:\\Program Files (x86)\\Vendor\\FanControl\\2.1.0\\";
  test_support::MakeFolder(folder);
  test_support::WriteFile(folder + "fan.dll", "old");
  SetFileAttributesA((folder + "fan.dll").c_str(), FILE_ATTRIBUTE_READONLY);
}

// What the run must come to.
struct Outcome {
  int exitCode = 0;
  bool launched = true;
  bool version = true;  // "Version" recorded
  bool path = true;     // "Path" recorded
};

std::string Describe(const Outcome& o) {
  char text[96];
  std::snprintf(text, sizeof text, "exit %d, %s, Version %s, Path %s", o.exitCode,
                o.launched ? "launched" : "not launched", o.version ? "recorded" : "absent",
                o.path ? "recorded" : "absent");
  return text;
}

// The outcome the run's rules prescribe when the call at `index` of the
// undisturbed run fails with `error`. The undisturbed run is a fresh install
// of 2.1.0 with every setting present: it records both values.
Outcome Expected(Scenario scenario, const std::vector<Call>& calls, size_t index, uint32_t error) {
  const Call& failed = calls[index];
  const std::string& f = failed.function;
  auto before = [&](const std::string& function) {
    int n = 0;
    for (size_t i = 0; i < index; ++i) n += calls[i].function == function;
    return n;
  };
  // A rename into place whose source and target were tried before is the
  // retry after the attributes were reset.
  auto isRetry = [&] {
    for (size_t i = 0; i < index; ++i) {
      if (calls[i].function == f && calls[i].args == failed.args) return true;
    }
    return false;
  };
  const Outcome installed;  // nothing changes
  const Outcome gatedOut{-1, false, false, false};
  const Outcome notLaunched{0, false, false, false};
  const Outcome copyFailed{-1, false, false, false};
  const Outcome noVersion{-1, false, false, false};  // install due, no folder to put it in
  const Outcome notTaken{-1, false, false, false};   // the run context could not be taken
  const bool release = f == "CloseHandle" || f == "UnmapViewOfFile" || f == "RegCloseKey" || f == "FindClose" ||
                       f == "CloseServiceHandle" || f == "DeleteFileW" || f == "RemoveDirectoryW";
  if (release) return installed;  // released all the same, or a copy of the run's own left behind

  // Before the run starts, the run context is taken: the program folder,
  // the image, the seal (none here) and setup.ini. A volume that tells no
  // final path is no failure.
  if (before("CoInitialize") == 0 && f != "CoInitialize") {
    if (f == "GetFinalPathNameByHandleW" && error == ERROR_NOT_SUPPORTED) return installed;
    if (f == "FindResourceW" && error == 1813u) return installed;  // no seal: unsealed, as it is
    return notTaken;
  }
  // The bridge's two calls: the first (iAcpiInit) may fail without effect;
  // the second (iAcpiMbif) must fetch the package or the gate closes.
  const int bridgeCalls = before("CLSIDFromProgID") + (f == "CLSIDFromProgID" ? 1 : 0);
  // The probe ends where the first setting read begins.
  const bool inProbe = bridgeCalls == 2 && before("GetPrivateProfileStringW") == 0 && f != "GetPrivateProfileStringW";
  if (f == "CoInitialize") return gatedOut;  // no instance can be made then
  if (inProbe) {
    if (f == "CLSIDFromProgID" || f == "CoCreateInstance" || f == "SafeArrayCreate") return gatedOut;
    if (f == "SafeArrayAccessData" || f == "SafeArrayGetLBound" || f == "SafeArrayGetUBound") return gatedOut;
    // The array's clearing decides the export's result; the result VARIANT's
    // does not (it is the first clear of the call).
    if (f == "VariantClear" && before("VariantClear") == 2) return gatedOut;
    return installed;
  }

  if (f == "GetPrivateProfileStringW") {
    int earlier = 0;
    for (size_t k = 0; k < index; ++k) {
      earlier += calls[k].function == "GetPrivateProfileStringW" && calls[k].args[1] == failed.args[1];
    }
    const std::string& setting = failed.args[1];
    // An empty offer is older than nothing: the missing service makes the
    // install due, and the run ends before the install folder.
    if (setting == "version") return noVersion;
    // The look ahead at Execution finds nothing that breaks its rule; the
    // read at the launch finds no executable.
    if (setting == "Execution") return earlier == 0 ? installed : notLaunched;
    // The installed version (none), InstallPath (the version folder right
    // below the program-files folder), the second presence check, or the
    // record's key (none: no record).
    if (setting == "RegistryKey" && earlier == 1) return Outcome{0, true, false, false};
    return installed;
  }
  if (f == "SHGetFolderPathAndSubDirW") return copyFailed;  // no install folder
  // The install folder cannot be shown to lie below the program-files
  // folder: it is not used.
  if (f == "SHGetFolderPathW" || f == "GetFullPathNameW") return copyFailed;
  if (f == "CreateFileW") {
    const std::string& access = failed.args[1];
    const std::string& disposition = failed.args[4];
    // Whether another program holds an existing target: told by opening it
    // for writing. Held, it is passed over; otherwise it is replaced after
    // its attributes are reset.
    if (access == "0x40000000" && disposition == "3") return installed;
    return copyFailed;  // a source, or a temporary file to copy it to
  }
  // A source whose kind or place cannot be told is not copied; a volume
  // that tells no final path is no failure.
  if (f == "GetFileInformationByHandleEx") return copyFailed;
  if (f == "GetFinalPathNameByHandleW") {
    // The staging folder's place, asked only to see that it is no link
    // (Wine's Unix links give themselves away by it): not told, it is used.
    bool staged = false;
    for (size_t i = 0; i < index; ++i) {
      staged = staged || (calls[i].function == "CreateFileW" && calls[i].args[0].find("staging\\") != std::string::npos);
    }
    if (before("CreateDirectoryW") == 1 && !staged) return installed;
    return error == ERROR_NOT_SUPPORTED ? installed : copyFailed;
  }
  if (f == "ReadFile" || f == "WriteFile") return copyFailed;
  if (f == "CreateDirectoryW") return copyFailed;  // no staging folder, no file placed
  // The time of last writing is kept where it can be; the copy is whole without it.
  if (f == "GetFileTime" || f == "SetFileTime") return installed;
  if (f == "FindFirstFileW") return notLaunched;  // nothing listed: only the image is copied
  if (f == "FindNextFileW") {
    // The walk ends early: was the service executable placed already?
    for (size_t i = 0; i < index; ++i) {
      if (calls[i].function == "CreateFileW" && calls[i].args[0].find("staging\\fansvc.exe") != std::string::npos) {
        return installed;
      }
    }
    return notLaunched;
  }
  if (f == "GetFileAttributesW") return installed;  // no target to speak of: replaced after the reset
  if (f == "SetFileAttributesW") return copyFailed;  // still read-only: the retry fails too
  if (f == "SetFileInformationByHandle") {  // a staged file moved into place
    if (isRetry()) return copyFailed;
    // Access denied is tried once more after the reset (and a target that
    // is not there resets nothing); any other failure leaves the install
    // folder without the file.
    return error == ERROR_ACCESS_DENIED ? installed : copyFailed;
  }
  // userenv.dll and its functions make the service executable's
  // environment: without it, it is not started.
  if (f == "CreateProcessW" || f == "LoadLibraryExW" || f == "GetProcAddress" || f == "CreateEnvironmentBlock") {
    return notLaunched;
  }
  // The offered version in the ANSI code page, for the comparison: a
  // conversion fails only for want of memory, which ends the run before the
  // install folder.
  if (f == "WideCharToMultiByte" || f == "MultiByteToWideChar") return noVersion;
  if (f == "RegCreateKeyExW") return Outcome{0, true, false, false};
  if (f == "RegSetValueExW") return before("RegSetValueExW") == 0 ? Outcome{0, true, false, true}
                                                                  : Outcome{0, true, true, false};
  (void)scenario;
  // Everything else is merely asked: the run goes on unchanged.
  return installed;
}

// Temporary files of the run still there: in the install folder (a
// placement's) and in the machine's temporary folder (setup.ini's copy).
std::vector<std::string> TemporaryFilesLeft(const std::string& installFolder) {
  std::vector<std::string> left;
  for (const auto& name : test_support::FilesIn(installFolder)) {
    if (name.rfind("~FanServiceSetup", 0) == 0) left.push_back(installFolder + name);
  }
  for (const auto& name : test_support::FilesIn(installFolder + "~FanServiceSetup.staging\\")) left.push_back(name);
  for (const auto& name : test_support::FilesIn("C:\\windows\\Temp\\")) left.push_back(name);
  return left;
}

class FaultMatrixTest : public ::testing::TestWithParam<Scenario> {};

TEST_P(FaultMatrixTest, EveryCallSiteFailedOnce) {
  std::vector<Call> baseline;
  {
    fake_win32::Reset();
    RunScenario scenario;
    Prepare(GetParam());
    fake_win32::ClearCalls();
    ASSERT_EQ(RunOutcome::kInstalled, test_support::RunOnce());
    baseline = fake_win32::Calls();
    ASSERT_TRUE(QueryValue(RunScenario::kRegistryKey, "Path").exists);
    ASSERT_TRUE(fake_win32::OpenResources().empty());
  }
  const std::set<std::string> unfailable = {"SysFreeString", "CoUninitialize", "NtAreMappedFilesTheSame",
                                            "CompareStringOrdinal"};
  std::map<std::string, int> occurrences;
  int injected = 0;
  std::set<std::string> functions;
  for (size_t index = 0; index < baseline.size(); ++index) {
    const std::string function = baseline[index].function;
    const int occurrence = ++occurrences[function];
    if (unfailable.count(function)) continue;
    const auto errors = ErrorsByFunction().find(function);
    ASSERT_NE(ErrorsByFunction().end(), errors) << "no errors listed for " << function;
    for (const uint32_t error : errors->second) {
      SCOPED_TRACE(function + " #" + std::to_string(occurrence) + " failing with " + std::to_string(error));
      fake_win32::Reset();
      Outcome seen;
      {
        RunScenario scenario;
        Prepare(GetParam());
        fake_win32::ClearCalls();
        fake_win32::FailCall(function, occurrence, error);
        // As main does: out of memory ends the run with -1.
        try {
          seen.exitCode = ExitCodeOf(test_support::RunOnce());
        } catch (const std::bad_alloc&) {
          seen.exitCode = -1;
        }
        seen.launched = !scenario.launches.empty();
        // Written by this run: present, and not the older record.
        const auto version = QueryValue(RunScenario::kRegistryKey, "Version");
        seen.version = (version.exists && version.bytes != std::string("2.0.0\0", 6)) ||
                       QueryValue("", "Version").exists;
        seen.path = QueryValue(RunScenario::kRegistryKey, "Path").exists || QueryValue("", "Path").exists;
        // Whatever failed, nothing of the run's own is left, but where the
        // removal itself was refused.
        if (function != "DeleteFileW") {
          EXPECT_TRUE(TemporaryFilesLeft(scenario.InstallFolder()).empty())
              << ::testing::PrintToString(TemporaryFilesLeft(scenario.InstallFolder()));
        }
        EXPECT_EQ(1u, scenario.component.references()) << "component instance not released once";
        EXPECT_EQ(0, scenario.component.over_releases());
      }
      const Outcome expected = Expected(GetParam(), baseline, index, error);
      EXPECT_EQ(Describe(expected), Describe(seen));
      EXPECT_TRUE(fake_win32::OpenResources().empty()) << ::testing::PrintToString(fake_win32::OpenResources());
      EXPECT_TRUE(fake_win32::Misuses().empty()) << ::testing::PrintToString(fake_win32::Misuses());
      ++injected;
      functions.insert(function);
    }
  }
  std::printf("fault matrix: %d faults injected at %zu call sites of %zu functions\n", injected, baseline.size(),
              functions.size());
  EXPECT_GT(injected, 60);
}

INSTANTIATE_TEST_SUITE_P(Runs, FaultMatrixTest,
                         ::testing::Values(Scenario::kFreshInstall, Scenario::kUpdateOverReadOnly),
                         [](const auto& test) {
                           return test.param == Scenario::kFreshInstall ? std::string("FreshInstall")
                                                                        : std::string("UpdateOverReadOnly");
                         });

}  // namespace
}  // namespace vantu
