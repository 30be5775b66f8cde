// What each piece asks of the platform, argument by argument, and how it
// copes when the platform says no.
#include <gtest/gtest.h>

#include <cwchar>
#include <string>
#include <vector>

#include "base/module_path.h"
#include "base/opened_file.h"
#include "deploy/install_folder.h"
#include "deploy/payload_copy.h"
#include "fake_win32/control.h"
#include "registry/registry_key.h"
#include "registry/installed_version.h"
#include "settings/ini_reader.h"
#include "settings/settings.h"
#include "service/machine_environment.h"
#include "service/service.h"
#include "tests/support/scratch.h"
#include "tests/support/service_stand_in.h"
#include "tests/support/setup_ini.h"
#include "tests/support/wide.h"

namespace vantu {
namespace {

using fake_win32::CallCount;
using fake_win32::CallsTo;
using fake_win32::CallSequence;
using test_support::FilesIn;
using test_support::ScratchFolder;
using test_support::ScratchKey;
using test_support::SetupIniFile;
using test_support::U8;
using test_support::W;
using test_support::WriteFile;

using Args = std::vector<std::string>;

class PlatformCallsTest : public test_support::PlatformTest {};

TEST_F(PlatformCallsTest, IniReaderCallsAndSizes) {
  struct Case {
    size_t length;
    std::vector<std::string> sizes;
  };
  const Case cases[] = {{125, {"128"}}, {126, {"128", "256"}}, {127, {"128", "256"}}, {300, {"128", "256", "512"}}};
  ScratchFolder folder;
  const std::string path = folder.path() + "t.ini";
  for (const auto& c : cases) {
    WriteFile(path, "[Common]\nKey=" + std::string(c.length, 'x') + "\n");
    const int before = CallCount("GetPrivateProfileStringW");
    {
      IniReader reader;
      ASSERT_TRUE(reader.Open(W(path)));
      std::wstring value;
      reader.Read(L"Key", L"error737", &value);
      EXPECT_EQ(c.length, value.size());
    }
    const auto calls = CallsTo("GetPrivateProfileStringW");
    ASSERT_EQ(before + static_cast<int>(c.sizes.size()), static_cast<int>(calls.size()));
    for (size_t i = 0; i < c.sizes.size(); ++i) {
      const auto& args = calls[static_cast<size_t>(before) + i].args;
      EXPECT_EQ("Common", args[0]);
      EXPECT_EQ("Key", args[1]);
      EXPECT_EQ("error737", args[2]);
      EXPECT_EQ(c.sizes[i], args[4]);
      EXPECT_EQ(path, args[5]);
    }
    EXPECT_EQ((Args{"(null)", "(null)", "(null)", path}), CallsTo("WritePrivateProfileStringW").back().args);
  }
}

TEST_F(PlatformCallsTest, ReaderNeverOpenedFlushesNothing) {
  { IniReader reader; }
  EXPECT_EQ(0, CallCount("WritePrivateProfileStringW"));
}

TEST_F(PlatformCallsTest, ModuleDirectoryRules) {
  struct Case {
    std::string module;
    std::string folder;
    int calls;
  };
  const std::string deep = "D:\\" + std::string(180, 'd') + "\\setup.exe";  // 193 characters
  const Case cases[] = {
      {"D:\\Tools\\Setup\\setup.exe", "D:\\Tools\\Setup\\", 1},
      {"D:setup.exe", "D:", 1},
      {"setup.exe", "", 1},
      {deep, "D:\\" + std::string(180, 'd') + "\\", 2},
      {std::string(127, 'x'), "", 1},  // fits 128 characters with its terminator
      {std::string(128, 'x'), "", 2},  // reported as cut: asked again with 256
      {"\\\\server\\share\\Setup\\setup.exe", "\\\\server\\share\\Setup\\", 1},
      {"UNC\\server\\share\\Setup\\setup.exe", "\\\\server\\share\\Setup\\", 1},  // as Wine gives it
  };
  for (const auto& c : cases) {
    fake_win32::SetModuleFileName(c.module);
    const int before = CallCount("GetModuleFileNameW");
    EXPECT_EQ(c.folder, U8(ModuleDirectory())) << c.module;
    EXPECT_EQ(c.calls, CallCount("GetModuleFileNameW") - before) << c.module;
  }
  fake_win32::FailEveryCall("GetModuleFileNameW", ERROR_ACCESS_DENIED);
  EXPECT_EQ(L"", ModuleDirectory());
}

TEST_F(PlatformCallsTest, SettingMessages) {
  struct Reader {
    std::wstring (*read)(const SettingsFile&);
    const char* text;
  };
  const Reader readers[] = {
      {ReadServiceName, "Can not read service name from setup.ini"},
      {ReadInstallPath, "Can not read install path from setup.ini"},
      {ReadRegistryKey, "Can not read registry key from setup.ini"},
      {ReadExecution, "Can not read executable file name from setup.ini"},
      {ReadSetupVersion, "Can not read version from setup.ini"},
  };
  SetupIniFile none;
  for (const auto& reader : readers) {
    const size_t before = fake_win32::MessageBoxes().size();
    EXPECT_EQ(L"", reader.read(none.settings()));
    EXPECT_EQ(L"", reader.read(none.settings()));  // asked twice, told twice
    const auto& boxes = fake_win32::MessageBoxes();
    ASSERT_EQ(before + 2, boxes.size());
    for (size_t i = before; i < boxes.size(); ++i) {
      EXPECT_EQ(nullptr, boxes[i].owner);
      EXPECT_EQ(reader.text, boxes[i].text);
      EXPECT_EQ("Fan Contrl Service Setup", boxes[i].caption);
      EXPECT_EQ(0u, boxes[i].type);
    }
  }
}

TEST_F(PlatformCallsTest, OnlyAMissShowsAMessage) {
  SetupIniFile ini("[Common]\nversion=\nExecution=Error737\nServiceName=error737\n");
  EXPECT_EQ(L"", ReadSetupVersion(ini.settings()));
  EXPECT_EQ(L"Error737", ReadExecution(ini.settings()));
  EXPECT_TRUE(fake_win32::MessageBoxes().empty());
  EXPECT_EQ(L"", ReadServiceName(ini.settings()));
  ASSERT_EQ(1u, fake_win32::MessageBoxes().size());
  EXPECT_EQ("Can not read service name from setup.ini", fake_win32::MessageBoxes()[0].text);
}

TEST_F(PlatformCallsTest, RegistryMasksAndOrder) {
  ScratchKey key;
  const int closed = CallCount("RegCloseKey");
  {
    RegReader reader;
    ASSERT_TRUE(reader.Open(W(key.path())));
    EXPECT_EQ((Args{"0x80000002", key.path(), "0", "0x20019"}), CallsTo("RegOpenKeyExW").back().args);
    const auto info = CallsTo("RegQueryInfoKeyW");
    ASSERT_EQ(2u, info.size());
    EXPECT_NE("(null)", info[0].args[9 - 1]);  // values first: the longest value name asked
    EXPECT_EQ("(null)", info[0].args[5]);
    EXPECT_NE("(null)", info[1].args[5]);      // then the longest subkey name
  }
  EXPECT_EQ(closed + 1, CallCount("RegCloseKey"));
  {
    RegWriter writer;
    ASSERT_TRUE(writer.Create(W(key.path() + "\\New")));
    const auto args = CallsTo("RegCreateKeyExW").back().args;
    EXPECT_EQ("0x80000002", args[0]);
    EXPECT_EQ("0", args[2]);
    EXPECT_EQ("(null)", args[3]);
    EXPECT_EQ("0", args[4]);
    EXPECT_EQ("0xF003F", args[5]);
    EXPECT_EQ("(null)", args[6]);
  }
  EXPECT_EQ(closed + 2, CallCount("RegCloseKey"));
}

struct WideReader : RegReader {
  REGSAM AccessMask() const override { return KEY_READ | KEY_WOW64_64KEY; }
};

TEST_F(PlatformCallsTest, OpenAsksForItsMaskThroughTheVirtualSlot) {
  ScratchKey key;
  WideReader reader;
  ASSERT_TRUE(reader.Open(W(key.path())));
  EXPECT_EQ("0x20119", CallsTo("RegOpenKeyExW").back().args[3]);
}

TEST_F(PlatformCallsTest, KeysThatFailToOpenAreNeverClosed) {
  {
    RegReader reader;
    EXPECT_FALSE(reader.Open(L"Software\\Absent"));
    RegWriter writer;
    fake_win32::FailCall("RegCreateKeyExW", 1, ERROR_ACCESS_DENIED);
    EXPECT_FALSE(writer.Create(L"Software\\Denied"));
  }
  EXPECT_EQ(0, CallCount("RegCloseKey"));
  EXPECT_EQ(0, CallCount("RegQueryInfoKeyW"));
}

TEST_F(PlatformCallsTest, UnqueryableKeyStillOpens) {
  ScratchKey key;
  fake_win32::FailEveryCall("RegQueryInfoKeyW", ERROR_ACCESS_DENIED);
  RegReader reader;
  ASSERT_TRUE(reader.Open(W(key.path())));
  EXPECT_EQ(0u, reader.open_key().value_names()->length());
  EXPECT_EQ(nullptr, reader.open_key().value_names()->buffer());
  EXPECT_EQ(0u, reader.open_key().sub_key_names()->length());
}

TEST_F(PlatformCallsTest, VersionValueWhoseSecondQueryFails) {
  ScratchKey key;
  key.SetValue("Version", REG_SZ, std::string("1.0\0", 4));
  RegReader reader;
  ASSERT_TRUE(reader.Open(W(key.path())));
  fake_win32::FailCall("RegQueryValueExA", 2, ERROR_MORE_DATA);
  std::string version = "kept";
  EXPECT_FALSE(QueryVersionValue(reader.key(), &version));
  EXPECT_EQ("kept", version);
}

TEST_F(PlatformCallsTest, PresenceCheckArguments) {
  SetupIniFile ini("[Common]\nServiceName=FanSvc\n");
  EXPECT_FALSE(IsServiceInstalled(ini.settings()));
  EXPECT_EQ((Args{"(null)", "(null)", "0xF003F"}), CallsTo("OpenSCManagerW")[0].args);
  EXPECT_EQ("FanSvc", CallsTo("OpenServiceW")[0].args[1]);
  EXPECT_EQ("0x1", CallsTo("OpenServiceW")[0].args[2]);
  EXPECT_EQ(1, CallCount("CloseServiceHandle"));  // the manager, though no service

  fake_win32::FailEveryCall("OpenSCManagerW", ERROR_ACCESS_DENIED);
  const int reads = CallCount("GetPrivateProfileStringW");
  EXPECT_FALSE(IsServiceInstalled(ini.settings()));
  EXPECT_EQ(reads, CallCount("GetPrivateProfileStringW"));  // the setting is not read
}

TEST_F(PlatformCallsTest, ManagerClosesBeforeTheServiceHandle) {
  SetupIniFile ini("[Common]\nServiceName=FanSvc\n");
  ASSERT_TRUE(test_support::RegisterService("FanSvc", "C:\\svc.exe"));
  const size_t before = CallsTo("CloseServiceHandle").size();
  EXPECT_TRUE(IsServiceInstalled(ini.settings()));
  const auto closes = CallsTo("CloseServiceHandle");
  ASSERT_EQ(before + 2, closes.size());
  EXPECT_EQ(CallsTo("OpenSCManagerW").size(), 1u);  // the test made its service through the A form
  const std::string managerHandle = closes[before].args[0];
  const std::string serviceHandle = closes[before + 1].args[0];
  EXPECT_NE(managerHandle, serviceHandle);
  const auto open = CallsTo("OpenServiceW").back().args;
  EXPECT_EQ(managerHandle, open[0]);
}

TEST_F(PlatformCallsTest, LaunchArgumentsAndHandles) {
  ScratchFolder folder;
  SetupIniFile ini("[Common]\nExecution=svc.exe\n");
  test_support::PlaceServiceStandIn(folder.path() + "svc.exe");
  ASSERT_TRUE(LaunchServiceExecutable(ini.settings(), W(folder.path())));
  const auto create = CallsTo("CreateProcessW")[0].args;
  // The full path as the application name: nothing is looked for.
  EXPECT_EQ(folder.path() + "svc.exe", create[0]);
  EXPECT_EQ("\"" + folder.path() + "svc.exe\" /Service", create[1]);
  EXPECT_EQ("(null)", create[2]);
  EXPECT_EQ("(null)", create[3]);
  EXPECT_EQ("0", create[4]);
  EXPECT_EQ("0x8000400", create[5]);  // no window; a UTF-16 environment
  // The machine's default environment, not this process's.
  EXPECT_EQ((std::vector<std::string>{"ALLUSERSPROFILE=C:\\ProgramData", "ComSpec=C:\\windows\\system32\\cmd.exe",
                                      "Path=C:\\windows\\system32;C:\\windows", "SystemDrive=C:",
                                      "SystemRoot=C:\\windows", "TEMP=C:\\windows\\TEMP", "TMP=C:\\windows\\TEMP",
                                      "windir=C:\\windows"}),
            fake_win32::LastProcessEnvironment().value_or(std::vector<std::string>{"inherited"}));
  EXPECT_EQ(folder.path(), create[7]);  // the install folder is its current folder
  EXPECT_EQ(std::to_string(sizeof(STARTUPINFOW)), create[8]);
  const auto sequence = CallSequence();
  const std::vector<std::string> tail(sequence.end() - 4, sequence.end());
  EXPECT_EQ((std::vector<std::string>{"CreateProcessW", "WaitForSingleObject", "CloseHandle", "CloseHandle"}), tail);
  EXPECT_EQ("0xFFFFFFFF", CallsTo("WaitForSingleObject")[0].args[1]);
  const auto closes = CallsTo("CloseHandle");
  EXPECT_EQ(CallsTo("WaitForSingleObject")[0].args[0], closes[closes.size() - 2].args[0]);  // the process first
}

// The service executable's environment: the machine's default, with
// SystemRoot and SystemDrive; never made of anything else when that fails.
TEST_F(PlatformCallsTest, MachineEnvironmentOrNone) {
  const Args lacking = {"Path=C:\\windows\\system32", "TEMP=C:\\windows\\TEMP"};
  const Args completed = {"Path=C:\\windows\\system32", "SystemDrive=C:", "SystemRoot=C:\\windows",
                          "TEMP=C:\\windows\\TEMP"};
  const struct {
    const char* function;  // made to fail ("" none; "old Windows": LOAD_LIBRARY_SEARCH_* unknown)
    uint32_t error;
    const char* why;  // "" made: `completed` from `lacking`
  } cases[] = {
      {"old Windows", 0, ""},
      {"LoadLibraryExW", ERROR_MOD_NOT_FOUND, "userenv.dll could not be loaded from the system folder: 126"},
      {"GetProcAddress", ERROR_PROC_NOT_FOUND,
       "userenv.dll has no CreateEnvironmentBlock or DestroyEnvironmentBlock: 127"},
      {"CreateEnvironmentBlock", ERROR_NOT_ENOUGH_MEMORY,
       "CreateEnvironmentBlock failed: 8 (Not enough memory resources are available to process this command.)"},
      {"GetSystemWindowsDirectoryW", ERROR_ACCESS_DENIED,
       "the machine's environment lacks SystemRoot or SystemDrive, and the Windows folder is unknown: 5 (Access is "
       "denied.)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.function);
    fake_win32::Reset();
    fake_win32::SetMachineEnvironment(lacking);
    fake_win32::SetLibrarySearchFlagsKnown(std::string(c.function) != "old Windows");
    if (c.error) fake_win32::FailEveryCall(c.function, c.error);
    MachineEnvironment environment;
    std::string why;
    EXPECT_EQ(!*c.why, environment.Make(&why));
    EXPECT_EQ(c.why, why);
    Args variables;
    for (const auto* entry = static_cast<const wchar_t*>(environment.block()); !*c.why && *entry;
         entry += std::wcslen(entry) + 1) {
      variables.push_back(U8(entry));
    }
    EXPECT_EQ(*c.why ? Args{} : completed, variables);
    EXPECT_TRUE(fake_win32::OpenResources().empty()) << ::testing::PrintToString(fake_win32::OpenResources());
    EXPECT_TRUE(fake_win32::Misuses().empty()) << ::testing::PrintToString(fake_win32::Misuses());
  }
}

TEST_F(PlatformCallsTest, CommandLineMustFitItsBuffer) {
  struct Case {
    size_t length;  // of the whole command line
    bool created;
  };
  const Case cases[] = {{518, true}, {519, true}, {520, false}, {4000, false}};
  for (const auto& c : cases) {
    // "C:\" + name + "\" + "svc.exe", quoted, then " /Service": 22 more
    // characters than the folder's name.
    const std::string folder = "C:\\" + std::string(c.length - 22, 'f') + "\\";
    SetupIniFile ini("[Common]\nExecution=svc.exe\n");
    const std::string expected = "\"" + folder + "svc.exe\" /Service";
    ASSERT_EQ(c.length, expected.size());
    const int before = CallCount("CreateProcessW");
    EXPECT_FALSE(LaunchServiceExecutable(ini.settings(), W(folder)));  // no such program either way
    EXPECT_EQ(c.created ? 1 : 0, CallCount("CreateProcessW") - before) << c.length;
    if (c.created) {
      EXPECT_EQ(expected, CallsTo("CreateProcessW").back().args[1]);
    }
  }
  EXPECT_EQ(0, CallCount("WaitForSingleObject"));
}

TEST_F(PlatformCallsTest, InstallFolderArgumentsAndResults) {
  SetupIniFile ini("[Common]\nInstallPath=Vendor\\Tool\n");
  EXPECT_EQ("C:\\Program Files (x86)\\Vendor\\Tool\\2.1.0\\", U8(ResolveInstallFolder(ini.settings(), L"2.1.0").path));
  const Args args = CallsTo("SHGetFolderPathAndSubDirW")[0].args;
  EXPECT_EQ((Args{"(null)", "0x8026", "(null)", "0", "Vendor\\Tool\\2.1.0"}), Args(args.begin(), args.begin() + 5));
  for (uint32_t result : {1u, 0x80004005u, 0x80070005u}) {
    fake_win32::FailCall("SHGetFolderPathAndSubDirW", CallCount("SHGetFolderPathAndSubDirW") + 1, result);
    const InstallFolder folder = ResolveInstallFolder(ini.settings(), L"2.1.0");
    EXPECT_EQ(L"", folder.path) << result;
    EXPECT_FALSE(folder.refused) << result;
  }
}

// A final path longer than MAX_PATH: Windows answers the first, short
// buffer with the size it needs, Wine with 0 and ERROR_MORE_DATA; either
// way the path is asked for again with room enough. Any other error gives
// nothing.
TEST_F(PlatformCallsTest, FinalPathOfALongPath) {
  const std::string folder = "C:\\" + std::string(200, 'd') + "\\" + std::string(100, 'e');
  test_support::MakeFolder(folder);
  fake_win32::MakeLink("C:\\short", folder, 0);  // opened by a short name, it leads to the long one
  const HANDLE handle = CreateFileW(L"C:\\short", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, handle);
  EXPECT_EQ(folder, U8(FinalPathOf(handle)));
  EXPECT_EQ((std::vector<std::string>{"261", "32768"}),
            (std::vector<std::string>{CallsTo("GetFinalPathNameByHandleW")[0].args[1],
                                      CallsTo("GetFinalPathNameByHandleW")[1].args[1]}));
  fake_win32::FailCall("GetFinalPathNameByHandleW", 3, ERROR_MORE_DATA);
  EXPECT_EQ(folder, U8(FinalPathOf(handle)));
  fake_win32::FailCall("GetFinalPathNameByHandleW", 5, ERROR_ACCESS_DENIED);
  EXPECT_EQ(L"", FinalPathOf(handle));
  EXPECT_EQ(5, CallCount("GetFinalPathNameByHandleW"));
  CloseHandle(handle);
}

// Where the platform tells no final path for a long one (Wine: none beyond
// MAX_PATH, whatever the buffer), the path below the volume's root decides:
// a Unix link to a file elsewhere is still found out. Any other failure
// leaves the file unknown.
TEST_F(PlatformCallsTest, WithoutAFinalPathThePathBelowTheVolumeDecides) {
  test_support::MakeFolder("C:\\Secret");
  WriteFile("C:\\Secret\\s.txt", "secret");
  test_support::MakeFolder("C:\\Setup");
  WriteFile("C:\\Setup\\plain.txt", "plain");
  fake_win32::MakeLink("C:\\Setup\\link.txt", "C:\\Secret\\s.txt", 0);
  auto check = [](const std::string& path) {
    const HANDLE handle = CreateFileW(W(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    EXPECT_NE(INVALID_HANDLE_VALUE, handle) << path;
    const OpenedFileCheck result = CheckOpenedFile(handle, W(path));
    CloseHandle(handle);
    return result;
  };
  fake_win32::FailEveryCall("GetFinalPathNameByHandleW", ERROR_MORE_DATA);
  EXPECT_EQ(OpenedFileCheck::Kind::kPlainFile, check("C:\\Setup\\plain.txt").kind);
  const OpenedFileCheck link = check("C:\\Setup\\link.txt");
  EXPECT_EQ(OpenedFileCheck::Kind::kElsewhere, link.kind);
  EXPECT_EQ("\\Secret\\s.txt", U8(link.finalPath));
  // The path below the volume (FileNameInfo, class 2) is asked for when the
  // final path is not told, once per check.
  const auto nameQueries = [] {
    int count = 0;
    for (const auto& call : CallsTo("GetFileInformationByHandleEx")) count += call.args[1] == "2" ? 1 : 0;
    return count;
  };
  EXPECT_EQ(2, nameQueries());
  fake_win32::Reset();
  test_support::MakeFolder("C:\\Setup");
  WriteFile("C:\\Setup\\plain.txt", "plain");
  fake_win32::FailEveryCall("GetFinalPathNameByHandleW", ERROR_ACCESS_DENIED);
  const OpenedFileCheck unknown = check("C:\\Setup\\plain.txt");
  EXPECT_EQ(OpenedFileCheck::Kind::kUnknown, unknown.kind);
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), unknown.error);
  EXPECT_EQ(0, nameQueries());
}

// Placing the first file, with the errors the platform gives there: a
// target refused with access denied is retried once after its attributes
// are reset; a target that another program holds (a sharing or lock
// violation when it is opened for writing) is passed over, the install
// folder having this version's own file already; every other failure fails
// the copy (the install folder would lack the file), a source that another
// program holds or that went away after it was listed among them. The next
// file is copied whatever happened, and no temporary file is left.
TEST_F(PlatformCallsTest, PlacingTheFirstFile) {
  struct Case {
    const char* name;
    std::vector<uint32_t> moveErrors;  // of the first file's moves into place, 0: succeeds
    bool targetThere;                  // the install folder has the first file already
    bool targetHeld;                   // ... and another program holds it
    uint32_t openError;                // of the first CreateFileW of the copy (the source), 0: none
    bool result;
    int attributeResets;
  };
  const Case cases[] = {
      {"written", {0}, false, false, 0, true, 0},
      {"overwritten", {0}, true, false, 0, true, 0},
      {"denied then written", {ERROR_ACCESS_DENIED, 0}, true, false, 0, true, 1},
      {"denied twice", {ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED}, true, false, 0, false, 1},
      {"denied then disk full", {ERROR_ACCESS_DENIED, ERROR_DISK_FULL}, true, false, 0, false, 1},
      {"target held: passed over", {}, true, true, 0, true, 0},
      {"source held", {}, false, false, ERROR_SHARING_VIOLATION, false, 0},
      {"source gone", {}, true, false, ERROR_FILE_NOT_FOUND, false, 0},
      {"write protected", {19}, true, false, 0, false, 0},
      {"device not ready", {21}, false, false, 0, false, 0},
      {"disk full", {ERROR_DISK_FULL}, true, false, 0, false, 0},
      {"path not found", {ERROR_PATH_NOT_FOUND}, false, false, 0, false, 0},
      {"name too long", {ERROR_FILENAME_EXCED_RANGE}, false, false, 0, false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fake_win32::Reset();
    ScratchFolder source;
    ScratchFolder target;
    WriteFile(source.path() + "a", "a");
    WriteFile(source.path() + "b", "b");
    if (c.targetThere) WriteFile(target.path() + "a", "old a");
    if (c.targetHeld) fake_win32::HoldOpen(target.path() + "a");
    for (size_t i = 0; i < c.moveErrors.size(); ++i) {
      if (c.moveErrors[i]) {
        fake_win32::FailCall("SetFileInformationByHandle", static_cast<int>(i) + 1, c.moveErrors[i]);
      }
    }
    if (c.openError) fake_win32::FailCall("CreateFileW", 1, c.openError);
    EXPECT_EQ(c.result, CopyPayload(W(source.path()), nullptr, W(target.path())) == CopyOutcome::kComplete);
    fake_win32::LetGo(target.path() + "a");
    EXPECT_EQ(c.attributeResets, CallCount("SetFileAttributesW"));
    if (c.attributeResets) EXPECT_EQ((Args{target.path() + "a", "0x80"}), CallsTo("SetFileAttributesW")[0].args);
    const bool placed = c.result && !c.targetHeld;
    EXPECT_EQ(placed ? "a" : c.targetThere ? "old a" : "", test_support::ReadFile(target.path() + "a"));
    EXPECT_EQ("b", test_support::ReadFile(target.path() + "b"));  // the next file still copied
    EXPECT_EQ(c.targetThere || placed ? 2u : 1u, FilesIn(target.path()).size()) << ::testing::PrintToString(FilesIn(target.path()));
    EXPECT_TRUE(fake_win32::OpenResources().empty()) << ::testing::PrintToString(fake_win32::OpenResources());
  }
}

// A file that cannot be placed fails the copy wherever it comes in the
// listing; the files before and after it are copied all the same.
TEST_F(PlatformCallsTest, FullDiskOnALaterFileFailsTheCopy) {
  ScratchFolder source;
  ScratchFolder target;
  for (const char* name : {"a", "b", "c"}) WriteFile(source.path() + name, name);
  fake_win32::FailCall("WriteFile", 2, ERROR_DISK_FULL);
  EXPECT_EQ(CopyOutcome::kIncomplete, CopyPayload(W(source.path()), nullptr, W(target.path())));
  EXPECT_EQ((std::vector<std::string>{"a", "c"}), FilesIn(target.path()));
  EXPECT_EQ(0, CallCount("SetFileAttributesW"));
}

}  // namespace
}  // namespace vantu
