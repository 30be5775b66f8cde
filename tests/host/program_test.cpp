// The program around the run: its switches, how a setting it cannot read is
// told (a message box, or a line where nobody can see a box), and the
// machine-wide guard that lets one run at a time go on.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_win32/control.h"
#include "notice/notice.h"
#include "setup/production_operations.h"
#include "setup/program.h"
#include "setup/run_guard.h"
#include "setup/switches.h"
#include "tests/support/run_scenario.h"
#include "tests/support/scratch.h"
#include "tests/support/wide.h"

namespace vantu {
namespace {

using fake_win32::CallCount;
using test_support::RunScenario;
using test_support::W;

const char kLog[] = "C:\\logs\\setup.log";

class ProgramTest : public test_support::PlatformTest {
 protected:
  ProgramTest() { GiveNoticesAsBoxes(); }
  ~ProgramTest() override { GiveNoticesAsBoxes(); }

  static int Run(const std::vector<std::string>& arguments) {
    std::vector<std::wstring> wide;
    for (const auto& argument : arguments) wide.push_back(W(argument));
    return RunProgram(wide);
  }

  // The log's lines after their time stamps.
  static std::vector<std::string> LogLines() {
    const std::string text = test_support::ReadFile(kLog);
    std::vector<std::string> lines;
    size_t start = text.rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
      lines.push_back(text.substr(start + 24, end - start - 24));
    }
    return lines;
  }

  static bool HasLine(const std::string& line) {
    for (const auto& l : LogLines()) {
      if (l == line) return true;
    }
    return false;
  }

  static std::vector<std::string> ProfileReads() {
    std::vector<std::string> keys;
    for (const auto& call : fake_win32::CallsTo("GetPrivateProfileStringW")) keys.push_back(call.args[1]);
    return keys;
  }
};

TEST_F(ProgramTest, HelpPrintsTheUsageAndDoesNothingElse) {
  const std::vector<std::vector<std::string>> helps = {
      {"/?"}, {"-?"}, {"/help"}, {"/HELP"}, {"-Help"}, {"/LOG", "/?"}, {"/QUIET", "extra", "/help"}};
  for (const auto& arguments : helps) {
    fake_win32::Reset();
    test_support::MakeFolder("C:\\logs");
    RunScenario scenario;
    fake_win32::ClearCalls();
    EXPECT_EQ(0, Run(arguments)) << arguments[0];
    EXPECT_EQ(kUsage, fake_win32::StandardOutput()) << arguments[0];
    EXPECT_EQ((std::vector<std::string>{"GetStdHandle", "WriteFile"}), fake_win32::CallSequence()) << arguments[0];
    EXPECT_TRUE(scenario.component.calls.empty());
    EXPECT_TRUE(scenario.launches.empty());
  }
  // Look-alikes are other arguments: ignored, and the run goes on.
  for (const char* other : {"/??", "/helpme", "?", "help", "/h"}) {
    fake_win32::Reset();
    RunScenario scenario;
    EXPECT_EQ(0, Run({other})) << other;
    EXPECT_EQ("", fake_win32::StandardOutput()) << other;
    EXPECT_EQ(1u, scenario.launches.size()) << other;
  }
  EXPECT_NE(std::string::npos, std::string(kUsage).find("/QUIET"));
  EXPECT_NE(std::string::npos, std::string(kUsage).find("0xFFFFFFFF"));
}

TEST_F(ProgramTest, SwitchesInAnyCaseAndOrder) {
  struct Case {
    std::vector<std::string> arguments;
    bool quiet;
    bool help;
    LogRequest::Kind log;
  };
  const Case cases[] = {
      {{}, false, false, LogRequest::Kind::kNone},
      {{"/QUIET"}, true, false, LogRequest::Kind::kNone},
      {{"-quiet", "/LOG"}, true, false, LogRequest::Kind::kNewInTemp},
      {{"/LOG=x.log", "/Quiet"}, true, false, LogRequest::Kind::kPath},
      {{"/QUIETER", "quiet", "/QUIET=1"}, false, false, LogRequest::Kind::kNone},
      {{"/?", "-quiet"}, true, true, LogRequest::Kind::kNone},
  };
  for (const auto& c : cases) {
    std::vector<std::wstring> wide;
    for (const auto& argument : c.arguments) wide.push_back(W(argument));
    const Switches switches = ParseSwitches(wide);
    EXPECT_EQ(c.quiet, switches.quiet) << ::testing::PrintToString(c.arguments);
    EXPECT_EQ(c.help, switches.help) << ::testing::PrintToString(c.arguments);
    EXPECT_EQ(c.log, switches.log.kind) << ::testing::PrintToString(c.arguments);
  }
}

// setup.ini without "Execution" on a fresh install: the message comes after
// the copy. Where nobody could see a box (/QUIET, an invisible window
// station), none is shown: the text goes to standard error and the log, and
// the run goes on exactly as after a dismissed box, with the same reads in
// the same order, outcome and exit code.
TEST_F(ProgramTest, NoticesWhereNobodyCanSeeABox) {
  struct Case {
    const char* name;
    bool quiet;
    bool stationVisible;
    bool boxFails;
    bool boxShown;
    const char* logged;  // how the log tells what became of the message
    DWORD session = 1;
  };
  const Case cases[] = {
      {"interactive", false, true, false, true, "message shown: "},
      {"session 0, visible station", false, true, false, false,
       "message not shown (session 0, where nobody sees a window), written to standard error: ", 0},
      {"quiet", true, true, false, false, "message not shown (/QUIET), written to standard error: "},
      {"invisible station", false, false, false, false,
       "message not shown (the window station is not visible), written to standard error: "},
      {"quiet and invisible", true, false, false, false, "message not shown (/QUIET), written to standard error: "},
      {"box fails", false, true, true, false,
       "message not shown (MessageBoxA failed: 5 (Access is denied.)), written to standard error: "},
  };
  std::vector<std::string> interactiveReads;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fake_win32::Reset();
    test_support::MakeFolder("C:\\logs");
    int exitCode = 0;
    {
      RunScenario scenario;
      scenario.settings.erase("Execution");
      scenario.WriteSetupIni(scenario.settings);
      fake_win32::SetWindowStationVisible(c.stationVisible);
      fake_win32::SetSessionId(c.session);
      if (c.boxFails) fake_win32::FailEveryCall("MessageBoxA", ERROR_ACCESS_DENIED);
      std::vector<std::string> arguments = {std::string("/LOG=") + kLog};
      if (c.quiet) arguments.push_back("/QUIET");
      exitCode = Run(arguments);
      EXPECT_TRUE(scenario.launches.empty());  // no executable to start
      EXPECT_TRUE(test_support::FileExists(scenario.InstallFolder() + "fan.dll"));
    }
    EXPECT_EQ(0, exitCode);
    EXPECT_FALSE(test_support::KeyExists(RunScenario::kRegistryKey));
    const size_t boxes = fake_win32::MessageBoxes().size();
    EXPECT_EQ(c.boxShown ? 1u : 0u, boxes);
    EXPECT_EQ(c.boxShown || c.boxFails ? 1 : 0, CallCount("MessageBoxA"));
    const std::string message = "Can not read executable file name from setup.ini";
    EXPECT_EQ(c.boxShown ? "" : "setup.exe: " + message + "\r\n", fake_win32::StandardError());
    EXPECT_TRUE(HasLine("setting \"Execution\" missing from C:\\Fan\\Setup\\setup.ini: " + std::string(c.logged) +
                        message))
        << ::testing::PrintToString(LogLines());
    if (interactiveReads.empty()) {
      interactiveReads = ProfileReads();
    } else {
      EXPECT_EQ(interactiveReads, ProfileReads());
    }
  }
}

// The guard: taken at once, after another run let go, taken over from a run
// that was killed, given up after the limit (nothing is run), or missing
// (the run goes on as it always did). After the run it is let go and closed.
TEST_F(ProgramTest, OneRunAtATime) {
  using fake_win32::OtherOwner;
  struct Case {
    const char* name;
    OtherOwner other;
    bool mutexFails;
    int exitCode;
    bool ran;
    const char* line;  // a line the log must hold ("" none)
  };
  const Case cases[] = {
      {"free", OtherOwner::kNone, false, 0, true, ""},
      {"another run ends", OtherOwner::kReleasesAfter, false, 0, true,
       "the other setup run ended: waited 1500 ms"},
      {"another run was killed", OtherOwner::kEnded, false, 0, true,
       "took over the run guard of a setup run that ended without letting go of it (waited 0 ms)"},
      {"held by someone for good", OtherOwner::kHolds, false, -1, false,
       "another setup run still holds the run guard after 600 s: giving up"},
      {"no guard", OtherOwner::kNone, true, 0, true,
       "no machine-wide run guard (5 (Access is denied.)): going on without it"},
  };
  const std::string guard = "Global\\FanControlServiceSetup.Run";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fake_win32::Reset();
    test_support::MakeFolder("C:\\logs");
    {
      RunScenario scenario;
      if (c.other != OtherOwner::kNone) fake_win32::SetMutexOwner(guard, c.other, 1500);
      if (c.mutexFails) fake_win32::FailEveryCall("CreateMutexW", ERROR_ACCESS_DENIED);
      EXPECT_EQ(c.exitCode, Run({std::string("/LOG=") + kLog}));
      EXPECT_EQ(c.ran ? 1u : 0u, scenario.launches.size());
      EXPECT_EQ(c.ran ? 1 : 0, CallCount("CoInitialize"));
      EXPECT_FALSE(fake_win32::MutexOwnedHere(guard));
    }
    if (*c.line) {
      EXPECT_TRUE(HasLine(c.line)) << ::testing::PrintToString(LogLines());
    }
    if (c.other == OtherOwner::kHolds || c.other == OtherOwner::kReleasesAfter) {
      EXPECT_TRUE(HasLine("another setup run is in progress: waiting for it to end (at most 600 s)"));
    }
    EXPECT_EQ(c.exitCode == 0 ? "" : "setup.exe: another setup run held the machine for too long; nothing was done\r\n",
              fake_win32::StandardError());
    EXPECT_EQ(c.ran ? (c.mutexFails ? 0 : 1) : 0, CallCount("ReleaseMutex"));
  }
}

}  // namespace
}  // namespace vantu
