// Links in the folders that the user's own programs may change: every kind
// of reparse point (and what Wine makes of a Unix symbolic link) in the
// program folder, the program folder itself reached through a link, and the
// run log's file and folder. Only the in-memory platform can make most of
// these: Wine makes no reparse point (end-to-end cases cover the links it
// shows).
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "fake_win32/control.h"
#include "runlog/run_log.h"
#include "runlog/safe_log_file.h"
#include "run/production_operations.h"
#include "program/redirection_guard.h"
#include "program/run_start.h"
#include "run/setup_run.h"
#include "tests/support/run_once.h"
#include "tests/support/run_scenario.h"
#include "tests/support/scratch.h"
#include "tests/support/wide.h"

namespace vantu {
namespace {

using fake_win32::CallCount;
using fake_win32::CallsTo;
using test_support::FileExists;
using test_support::QueryValue;
using test_support::ReadFile;
using test_support::RunScenario;
using test_support::U8;
using test_support::W;
using test_support::WriteFile;

using Args = std::vector<std::string>;

constexpr char kSecret[] = "C:\\Secret\\secret.txt";
constexpr char kSecretText[] = "readable by administrators only";
const std::wstring kProgramFolder = L"C:\\Fan\\Setup\\";

// The lines of the run log at `path`, without their time stamps.
std::vector<std::string> LogLines(const std::string& path) {
  std::vector<std::string> lines;
  const std::string text = ReadFile(path);
  for (size_t start = 3, end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
    lines.push_back(text.substr(start + 24, end - start - 24));
  }
  return lines;
}

bool HasLine(const std::vector<std::string>& lines, const std::string& line) {
  for (const auto& l : lines) {
    if (l == line) return true;
  }
  return false;
}

// Whether any file below `folder` holds `text`.
bool AnyFileHolds(const std::string& folder, const std::string& text) {
  const std::filesystem::path root = fake_win32::HostPath(folder);
  std::error_code error;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root, error)) {
    if (!entry.is_regular_file()) continue;
    const std::string name = std::filesystem::relative(entry.path(), root).string();
    if (ReadFile(folder + name).find(text) != std::string::npos) return true;
  }
  return false;
}

class LinksTest : public test_support::PlatformTest {
 protected:
  LinksTest() {
    test_support::MakeFolder("C:\\Secret");
    WriteFile(kSecret, kSecretText);
  }
};

// Every kind of reparse point in the program folder, and what Wine makes of
// a Unix symbolic link. A name whose tag names another place (a symbolic
// link, a junction's kin) is not copied and fails the copy: exit -1, nothing
// launched or recorded. A file that a filter keeps (cloud, deduplicated,
// WCI) is opened through its filter and copied; a tag that no filter handles
// cannot be opened, and fails the copy. Folders, links to folders among
// them, are never deployed and fail nothing. So is a name that Wine shows
// as a plain file but that leads elsewhere refused, and a second name of a
// file elsewhere. A dangling Unix link, which Wine does not list, is no
// entry at all.
TEST_F(LinksTest, EveryKindOfReparsePointInTheProgramFolder) {
  enum class Make { kLink, kFiltered, kHardLink };
  struct Case {
    const char* name;
    const char* entry;
    Make make;
    const char* target;  // kLink: where it leads
    DWORD tag;           // kLink: 0 for a Unix symbolic link as Wine shows it
    bool copied;         // the entry is deployed, and the run with it
    const char* logged;  // the log's line of the entry
  };
  const char* const kRefusal = "; the program folder may hold plain files only";
  const Case cases[] = {
      {"symbolic link to a file", "notes.txt", Make::kLink, kSecret, IO_REPARSE_TAG_SYMLINK, false,
       "not copied notes.txt: a symbolic link"},
      {"dangling symbolic link", "gone.txt", Make::kLink, "C:\\Secret\\absent.txt", IO_REPARSE_TAG_SYMLINK, false,
       "not copied gone.txt: a symbolic link"},
      {"unknown name-surrogate tag", "odd.dat", Make::kLink, kSecret, 0xA0000099, false,
       "not copied odd.dat: a reparse point (tag 0xA0000099)"},
      {"symbolic link to a folder", "docs", Make::kLink, "C:\\Secret", IO_REPARSE_TAG_SYMLINK, true,
       "folder not deployed: docs"},
      {"junction", "docs", Make::kLink, "C:\\Secret", IO_REPARSE_TAG_MOUNT_POINT, true, "folder not deployed: docs"},
      {"cloud file", "cloud.dat", Make::kFiltered, nullptr, 0x9000001A, true, "copying cloud.dat"},
      {"cloud file, another provider", "cloud.dat", Make::kFiltered, nullptr, 0x9000101A, true, "copying cloud.dat"},
      {"cloud file, the last provider", "cloud.dat", Make::kFiltered, nullptr, 0x9000F01A, true, "copying cloud.dat"},
      {"deduplicated file", "dedup.dat", Make::kFiltered, nullptr, 0x80000013, true, "copying dedup.dat"},
      {"WCI file", "wci.dat", Make::kFiltered, nullptr, 0x80000018, true, "copying wci.dat"},
      {"app execution alias", "alias.exe", Make::kFiltered, nullptr, 0x8000001B, false,
       "could not copy alias.exe: 1920 (The file cannot be accessed by the system.)"},
      {"unknown tag that names no place", "odd.dat", Make::kFiltered, nullptr, 0x80000099, false,
       "could not copy odd.dat: 1920 (The file cannot be accessed by the system.)"},
      {"Unix link to a file", "notes.txt", Make::kLink, kSecret, 0, false,
       "not copied notes.txt: it leads to C:\\Secret\\secret.txt (a link)"},
      {"Unix link to a folder", "docs", Make::kLink, "C:\\Secret", 0, true, "folder not deployed: docs"},
      {"hard link", "notes.txt", Make::kHardLink, nullptr, 0, false,
       "not copied notes.txt: it is a file of 2 names (a hard link)"},
      {"dangling Unix link", "gone.txt", Make::kLink, "C:\\Secret\\absent.txt", 0, true, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fake_win32::Reset();
    {
      test_support::MakeFolder("C:\\Secret");
      WriteFile(kSecret, kSecretText);
      RunScenario scenario;
      const std::string entry = std::string(RunScenario::kProgramFolder) + c.entry;
      switch (c.make) {
        case Make::kLink:
          fake_win32::MakeLink(entry, c.target, c.tag);
          break;
        case Make::kFiltered:
          WriteFile(entry, "kept by a filter");
          fake_win32::SetFilterTag(entry, c.tag);
          break;
        case Make::kHardLink:
          test_support::MakeHardLink(entry, kSecret);
          break;
      }
      test_support::MakeFolder("C:\\Logs");
      RunLog log;
      std::string refusal;
      ASSERT_TRUE(RunLog::OpenPath(L"C:\\Logs\\run.log", kProgramFolder, log, &refusal)) << refusal;
      EXPECT_EQ(c.copied ? RunOutcome::kInstalled : RunOutcome::kCopyFailed, test_support::RunOnce());
      EXPECT_EQ(c.copied ? 1u : 0u, scenario.launches.size());
      EXPECT_EQ(c.copied, QueryValue(RunScenario::kRegistryKey, "Version").exists);
      EXPECT_FALSE(AnyFileHolds("C:\\Program Files (x86)\\", kSecretText));
      const bool file = c.make == Make::kFiltered;
      EXPECT_EQ(file && c.copied, FileExists(scenario.InstallFolder() + c.entry));
      if (file && c.copied) EXPECT_EQ("kept by a filter", ReadFile(scenario.InstallFolder() + c.entry));
      EXPECT_TRUE(FileExists(scenario.InstallFolder() + "fan.dll"));  // every other file is copied
      EXPECT_EQ(kSecretText, ReadFile(kSecret));
      if (c.logged) {
        const std::string line = std::string(c.logged) + (c.copied || file ? "" : kRefusal);
        EXPECT_TRUE(HasLine(LogLines("C:\\Logs\\run.log"), line))
            << line << "\n" << ::testing::PrintToString(LogLines("C:\\Logs\\run.log"));
      }
    }
    EXPECT_TRUE(fake_win32::OpenResources().empty()) << ::testing::PrintToString(fake_win32::OpenResources());
  }
}

// The program folder is taken as the run finds it at its start, by its
// final path, and held. Started through a link (a junction or a Unix link)
// that is pointed elsewhere while the run goes on, the run still copies the
// folder it started from.
TEST_F(LinksTest, ProgramFolderIsTakenAtTheStart) {
  for (const DWORD tag : {DWORD{IO_REPARSE_TAG_MOUNT_POINT}, DWORD{0}}) {
    SCOPED_TRACE(tag);
    fake_win32::Reset();
    {
      RunScenario scenario;  // the payload in C:\Fan\Setup
      test_support::MakeFolder("C:\\Entry");
      fake_win32::MakeLink("C:\\Entry\\Setup", "C:\\Fan\\Setup", tag);
      fake_win32::SetModuleFileName("C:\\Entry\\Setup\\setup.exe");
      test_support::MakeFolder("C:\\Other");
      WriteFile("C:\\Other\\setup.ini", ReadFile("C:\\Fan\\Setup\\setup.ini"));
      WriteFile("C:\\Other\\planted.dll", kSecretText);
      WriteFile("C:\\Other\\fansvc.exe", "MZ planted");

      RunContext context;
      context.OpenProgramFolder();
      EXPECT_EQ(L"C:\\Fan\\Setup\\", context.program_folder().path());
      // Pointed elsewhere after the start.
      std::filesystem::remove(fake_win32::HostPath("C:\\Entry\\Setup"));
      fake_win32::MakeLink("C:\\Entry\\Setup", "C:\\Other", tag);
      ASSERT_FALSE(context.Take().has_value());
      ProductionOperations operations(context);
      EXPECT_EQ(RunOutcome::kInstalled, RunSetup(operations));
      EXPECT_EQ("MZ service", ReadFile(scenario.InstallFolder() + "fansvc.exe"));
      EXPECT_FALSE(FileExists(scenario.InstallFolder() + "planted.dll"));
      EXPECT_EQ("\"" + scenario.InstallFolder() + "fansvc.exe\" /Service", scenario.launches.at(0));
    }
    EXPECT_TRUE(fake_win32::OpenResources().empty()) << ::testing::PrintToString(fake_win32::OpenResources());
  }
}

// The flags the log is opened with: its folder first, as itself and held;
// then the file as itself, never created over anything; an existing file
// is emptied only once its handle showed a plain file of its own.
TEST_F(LinksTest, LogFileIsOpenedAsItselfAndEmptiedOnlyAfterTheChecks) {
  test_support::MakeFolder("C:\\Logs");
  WriteFile("C:\\Logs\\run.log", "an older log, longer than the first line of the new one");
  {
    RunLog log;
    std::string refusal;
    ASSERT_TRUE(RunLog::OpenPath(L"C:\\Logs\\run.log", kProgramFolder, log, &refusal)) << refusal;
    const auto opens = CallsTo("CreateFileW");
    ASSERT_EQ(2u, opens.size());
    // GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE (no FILE_SHARE_DELETE),
    // OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT.
    EXPECT_EQ((Args{"C:\\Logs", "0x80000000", "0x3", "(null)", "3", "0x2200000", "(null)"}), opens[0].args);
    // GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING,
    // FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT.
    EXPECT_EQ((Args{"C:\\Logs\\run.log", "0x40000000", "0x1", "(null)", "3", "0x200080", "(null)"}), opens[1].args);
    const auto sequence = fake_win32::CallSequence();
    const auto at = [&](const std::string& function, int occurrence) {
      int seen = 0;
      for (size_t i = 0; i < sequence.size(); ++i) {
        if (sequence[i] == function && ++seen == occurrence) return i;
      }
      return sequence.size();
    };
    EXPECT_LT(at("GetFinalPathNameByHandleW", 2), at("SetEndOfFile", 1));  // the file's final path first
    EXPECT_EQ(1, CallCount("SetEndOfFile"));
    EXPECT_EQ(L"C:\\Logs\\run.log", log.path());
  }
  EXPECT_EQ(std::string::npos, ReadFile("C:\\Logs\\run.log").find("older"));

  // A new file: looked for as itself, then made only where nothing is.
  fake_win32::ClearCalls();
  {
    RunLog log;
    std::string refusal;
    ASSERT_TRUE(RunLog::OpenPath(L"C:\\Logs\\new.log", kProgramFolder, log, &refusal)) << refusal;
  }
  const auto opens = CallsTo("CreateFileW");
  ASSERT_EQ(3u, opens.size());
  EXPECT_EQ((Args{"C:\\Logs\\new.log", "0x40000000", "0x1", "(null)", "3", "0x200080", "(null)"}), opens[1].args);
  EXPECT_EQ((Args{"C:\\Logs\\new.log", "0x40000000", "0x1", "(null)", "1", "0x200080", "(null)"}), opens[2].args);
  EXPECT_EQ(0, CallCount("SetEndOfFile"));
}

// A log that cannot be opened safely is not opened, and nothing it names
// is changed or made: the run would go on without it, and standard error
// says why.
TEST_F(LinksTest, LogsThatWouldFollowALinkAreRefused) {
  struct Case {
    const char* name;
    void (*prepare)();
    const char* path;
    const char* refusal;     // part of the reason given
    const char* untouched;   // a file that must keep its content, or stay absent
  };
  const Case cases[] = {
      {"setup.ini of the program folder", [] {}, "C:\\Fan\\Setup\\setup.ini", "program folder",
       "C:\\Fan\\Setup\\setup.ini"},
      {"a new file in the program folder", [] {}, "C:\\Fan\\Setup\\run.log", "program folder",
       "C:\\Fan\\Setup\\run.log"},
      {"the program folder by another name", [] {}, "c:\\Fan\\Setup\\..\\Setup\\.\\setup.ini", "program folder",
       "C:\\Fan\\Setup\\setup.ini"},
      {"symbolic link", [] { fake_win32::MakeLink("C:\\Logs\\run.log", kSecret, IO_REPARSE_TAG_SYMLINK); },
       "C:\\Logs\\run.log", "reparse point", kSecret},
      {"Unix link", [] { fake_win32::MakeLink("C:\\Logs\\run.log", kSecret, 0); }, "C:\\Logs\\run.log",
       "leads to C:\\Secret\\secret.txt", kSecret},
      // Opened as itself, a dangling symbolic link is there all the same.
      {"dangling symbolic link",
       [] { fake_win32::MakeLink("C:\\Logs\\run.log", "C:\\Secret\\made.txt", IO_REPARSE_TAG_SYMLINK); },
       "C:\\Logs\\run.log", "reparse point", "C:\\Secret\\made.txt"},
      // Wine does not show it: looked for, nothing is there; made where
      // nothing is, a name is.
      {"dangling Unix link", [] { fake_win32::MakeLink("C:\\Logs\\run.log", "C:\\Secret\\made.txt", 0); },
       "C:\\Logs\\run.log", "cannot be made", "C:\\Secret\\made.txt"},
      {"hard link", [] { test_support::MakeHardLink("C:\\Logs\\run.log", kSecret); }, "C:\\Logs\\run.log",
       "2 names", kSecret},
      {"a folder", [] {}, "C:\\Logs", "cannot be opened", "C:\\Logs\\run.log"},
      {"its folder is a junction",
       [] { fake_win32::MakeLink("C:\\Linked", "C:\\Secret", IO_REPARSE_TAG_MOUNT_POINT); },
       "C:\\Linked\\run.log", "is a link", "C:\\Secret\\run.log"},
      {"its folder is a Unix link", [] { fake_win32::MakeLink("C:\\Linked", "C:\\Secret", 0); },
       "C:\\Linked\\run.log", "leads to C:\\Secret", "C:\\Secret\\run.log"},
      {"a folder on the way is a junction",
       [] {
         test_support::MakeFolder("C:\\Secret\\sub");
         fake_win32::MakeLink("C:\\Deep", "C:\\Secret", IO_REPARSE_TAG_MOUNT_POINT);
       },
       "C:\\Deep\\sub\\run.log", "leads to C:\\Secret\\sub", "C:\\Secret\\sub\\run.log"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fake_win32::Reset();
    {
      RunScenario scenario;
      test_support::MakeFolder("C:\\Secret");
      WriteFile(kSecret, kSecretText);
      test_support::MakeFolder("C:\\Logs");
      c.prepare();
      const bool existed = FileExists(c.untouched);
      const std::string content = ReadFile(c.untouched);
      RunLog log;
      ::testing::internal::CaptureStderr();
      OpenRequestedLog(LogRequest{LogRequest::Kind::kPath, W(c.path)}, kProgramFolder, log);
      const std::string said = ::testing::internal::GetCapturedStderr();
      EXPECT_FALSE(log.is_open());
      EXPECT_FALSE(LogEnabled());
      EXPECT_EQ(0u, said.rfind(std::string("setup.exe: no run log ") + c.path + ": ", 0)) << said;
      EXPECT_NE(std::string::npos, said.find(c.refusal)) << said;
      EXPECT_EQ('\n', said.back());
      EXPECT_EQ(existed, FileExists(c.untouched));
      EXPECT_EQ(content, ReadFile(c.untouched));
      EXPECT_EQ(0, CallCount("SetEndOfFile"));
      EXPECT_EQ(0, CallCount("WriteFile"));
    }
    EXPECT_TRUE(fake_win32::OpenResources().empty()) << ::testing::PrintToString(fake_win32::OpenResources());
  }
}

// /LOG alone: a new file in a temporary folder that is itself no link; a
// predictable name taken by a link is passed over; as the local system
// account, the system's own temporary folder where kernel32 has
// GetTempPath2W.
TEST_F(LinksTest, LogInTheTemporaryFolder) {
  const std::string firstName = U8(TemporaryLogName(SYSTEMTIME{2026, 12, 3, 9, 14, 5, 9, 42}, 1));
  const std::string secondName = U8(TemporaryLogName(SYSTEMTIME{2026, 12, 3, 9, 14, 5, 9, 42}, 2));
  EXPECT_EQ("FanServiceSetup_20261209_001.log", firstName);
  struct Case {
    const char* name;
    bool system;
    bool getTempPath2;
    void (*prepare)();
    const char* logged;  // where the log is; null: refused
  };
  const Case cases[] = {
      {"an administrator", false, false, [] {}, "C:\\windows\\temp\\FanServiceSetup_20261209_001.log"},
      {"an administrator, GetTempPath2W there", false, true, [] {},
       "C:\\windows\\temp\\FanServiceSetup_20261209_001.log"},
      {"the local system account", true, true, [] {},
       "C:\\windows\\SystemTemp\\FanServiceSetup_20261209_001.log"},
      {"the local system account on an older Windows", true, false, [] {},
       "C:\\windows\\temp\\FanServiceSetup_20261209_001.log"},
      {"the first name is a symbolic link",
       false, false,
       [] {
         fake_win32::MakeLink("C:\\windows\\temp\\FanServiceSetup_20261209_001.log", "C:\\Secret\\made.txt",
                              IO_REPARSE_TAG_SYMLINK);
       },
       "C:\\windows\\temp\\FanServiceSetup_20261209_002.log"},
      {"the first name is a dangling Unix link",
       false, false,
       [] {
         fake_win32::MakeLink("C:\\windows\\temp\\FanServiceSetup_20261209_001.log", "C:\\Secret\\made.txt", 0);
       },
       "C:\\windows\\temp\\FanServiceSetup_20261209_002.log"},
      {"the temporary folder is a junction",
       false, false,
       [] {
         test_support::RemoveTree("C:\\windows\\temp");
         fake_win32::MakeLink("C:\\windows\\temp", "C:\\Secret", IO_REPARSE_TAG_MOUNT_POINT);
       },
       nullptr},
      {"the temporary folder is a Unix link",
       false, false,
       [] {
         test_support::RemoveTree("C:\\windows\\temp");
         fake_win32::MakeLink("C:\\windows\\temp", "C:\\Secret", 0);
       },
       nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fake_win32::Reset();
    {
      test_support::MakeFolder("C:\\Secret");
      fake_win32::SetRunningAsLocalSystem(c.system);
      if (c.getTempPath2) fake_win32::ProvideKernel32Function("GetTempPath2W");
      c.prepare();
      RunLog log;
      std::string refusal;
      EXPECT_EQ(c.logged != nullptr, RunLog::OpenNewInTemp(kProgramFolder, log, &refusal)) << refusal;
      if (c.logged) {
        EXPECT_EQ(c.logged, U8(log.path()));
        LogLine({"a line"});
        EXPECT_EQ(std::vector<std::string>{"a line"}, LogLines(c.logged));
      } else {
        EXPECT_NE(std::string::npos, refusal.find("C:\\windows\\temp")) << refusal;
      }
      // GetTempPath2W only for the local system account, where it is there.
      EXPECT_EQ(c.system && c.getTempPath2 ? 1 : 0, CallCount("GetTempPath2W"));
      EXPECT_EQ(c.system ? 1 : 0, CallCount("GetProcAddress"));
      EXPECT_FALSE(FileExists("C:\\Secret\\made.txt"));
      std::error_code error;
      EXPECT_TRUE(std::filesystem::is_empty(fake_win32::HostPath("C:\\Secret"), error));
    }
    EXPECT_TRUE(fake_win32::OpenResources().empty()) << ::testing::PrintToString(fake_win32::OpenResources());
  }
}

// The process mitigation that ignores links made by users other than
// administrators: taken where kernel32 has the function, with the policy and
// flag Windows documents; otherwise nothing happens.
TEST_F(LinksTest, RedirectionTrustWhereWindowsHasIt) {
  EXPECT_FALSE(EnforceRedirectionTrust());
  EXPECT_EQ((std::vector<std::string>{"GetModuleHandleW", "GetProcAddress"}), fake_win32::CallSequence());
  EXPECT_EQ("SetProcessMitigationPolicy", CallsTo("GetProcAddress")[0].args[1]);

  fake_win32::ProvideKernel32Function("SetProcessMitigationPolicy");
  fake_win32::ClearCalls();
  EXPECT_TRUE(EnforceRedirectionTrust());
  // ProcessRedirectionTrustPolicy (16), EnforceRedirectionTrust (0x1), one DWORD.
  EXPECT_EQ((Args{"16", "0x1", "4"}), CallsTo("SetProcessMitigationPolicy").at(0).args);

  // A Windows that has the function but not the policy refuses it.
  fake_win32::FailCall("SetProcessMitigationPolicy", 2, ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(EnforceRedirectionTrust());
}

}  // namespace
}  // namespace vantu
