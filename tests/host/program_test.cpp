// The program around the run: its switches, how a setting it cannot read is
// told (a message box, or a line where nobody can see a box), and the
// machine-wide guard that lets one run at a time go on.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "fake_win32/control.h"
#include "notice/notice.h"
#include "run/production_operations.h"
#include "program/program.h"
#include "program/run_guard.h"
#include "program/switches.h"
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

// The guard belongs to administrators: a mutex in a private namespace whose
// boundary holds Administrators or, where the system has none, in Global\;
// each made with a DACL for Administrators and the local system account
// alone, and held while the service executable runs.
TEST_F(ProgramTest, GuardAsCreated) {
  using fake_win32::PrivateNamespaces;
  const std::vector<fake_win32::AccessEntry> adminOnly = {{"S-1-5-32-544", GENERIC_ALL, true},
                                                          {"S-1-5-18", GENERIC_ALL, true}};
  // Windows; one whose CreateBoundaryDescriptorW makes nothing and says
  // nothing; Wine 8.
  for (int variant = 0; variant < 3; ++variant) {
    const bool inNamespace = variant == 0;
    const std::string name = inNamespace ? "FanControlServiceSetup\\Run" : "Global\\FanControlServiceSetup.Guard";
    SCOPED_TRACE(variant);
    fake_win32::Reset();
    fake_win32::SetPrivateNamespaces(variant == 2 ? PrivateNamespaces::kWine8 : PrivateNamespaces::kWindows);
    if (variant == 1) fake_win32::FailEveryCall("CreateBoundaryDescriptorW", ERROR_SUCCESS);
    fake_win32::NamespaceFacts space;
    fake_win32::ObjectSecurity mutex;
    {
      RunScenario scenario;
      scenario.duringLaunch = [&] {
        space = fake_win32::PrivateNamespaceNow("FanControlServiceSetup");
        mutex = fake_win32::NamedObjectSecurity(name);
        EXPECT_TRUE(fake_win32::MutexOwnedHere(name));
      };
      EXPECT_EQ(0, Run({}));
      EXPECT_EQ(1u, scenario.launches.size());
    }
    EXPECT_EQ("S-1-5-32-544", mutex.owner);
    EXPECT_EQ(adminOnly, mutex.dacl);
    EXPECT_EQ(inNamespace, space.exists);
    EXPECT_EQ(inNamespace ? "FanControlServiceSetup" : "", space.boundaryName);
    EXPECT_EQ(inNamespace ? std::vector<std::string>{"S-1-5-32-544"} : std::vector<std::string>{}, space.boundarySids);
    EXPECT_EQ(inNamespace ? adminOnly : std::vector<fake_win32::AccessEntry>{}, space.security.dacl);
    EXPECT_FALSE(fake_win32::MutexOwnedHere(name));
    EXPECT_FALSE(fake_win32::PrivateNamespaceNow("FanControlServiceSetup").exists);
    EXPECT_TRUE(fake_win32::OpenResources().empty()) << ::testing::PrintToString(fake_win32::OpenResources());
  }
}

// Another run holds the guard: a second one waits for it, takes over from
// one that was killed, or gives up after the limit with 1618, having done
// nothing. Names that other users' programs made (the guard of earlier
// versions, Global\FanControlServiceSetup.Guard) make no run wait and none
// go on unguarded: out of the namespace's reach, or, without namespaces, a
// name that no run made ends the run at once.
TEST_F(ProgramTest, OneRunAtATime) {
  using fake_win32::OtherOwner;
  const std::string inNamespace = "FanControlServiceSetup\\Run";
  const std::string global = "Global\\FanControlServiceSetup.Guard";
  const std::string earlier = "Global\\FanControlServiceSetup.Run";
  const auto heldByAnotherRun = [](const std::string& name, OtherOwner other) {
    return [=] {
      fake_win32::HoldPrivateNamespaceElsewhere("FanControlServiceSetup");
      // Closed by the other run between this run's create and open: made afresh.
      fake_win32::FailCall("OpenPrivateNamespaceW", 1, ERROR_PATH_NOT_FOUND);
      fake_win32::SetMutexOwner(name, other, 1500);
    };
  };
  const auto madeByAUser = [](const std::string& name, DWORD everybody) {
    return [=] {
      fake_win32::MakeNamedObject(name, "Mutex", {"S-1-5-21-1-2-3-1001", true, {{"S-1-1-0", everybody, true}}});
      fake_win32::SetMutexOwner(name, OtherOwner::kHolds);
    };
  };
  struct Case {
    bool namespaces;
    std::function<void()> setUp;
    int exitCode;
    std::string line;  // in the log
  };
  const std::string usersOwn = "the run guard could not be taken: " + global +
                               ": made by another program, not by a setup run (owner S-1-5-21-1-2-3-1001)";
  const std::string gaveUp = "another setup run still holds the run guard after 600 s: giving up";
  const Case cases[] = {
      {true, [] {}, 0, "run guard: the mutex " + inNamespace + " in the administrators' private namespace"},
      {true, heldByAnotherRun(inNamespace, OtherOwner::kReleasesAfter), 0, "the other setup run ended: waited 1500 ms"},
      {true, heldByAnotherRun(inNamespace, OtherOwner::kEnded), 0,
       "took over the run guard of a setup run that ended without letting go of it (waited 0 ms)"},
      {true, heldByAnotherRun(inNamespace, OtherOwner::kHolds), 1618, gaveUp},
      {false, heldByAnotherRun(global, OtherOwner::kHolds), 1618, gaveUp},
      {true, [&] { madeByAUser(earlier, SYNCHRONIZE)(), madeByAUser(global, GENERIC_ALL)(); }, 0,
       "run guard: the mutex " + inNamespace + " in the administrators' private namespace"},
      {false, madeByAUser(earlier, SYNCHRONIZE), 0,
       "run guard: the mutex " + global + " for administrators alone (this system has no private namespaces)"},
      {false, madeByAUser(global, GENERIC_ALL), -1, usersOwn + "; nothing done"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    fake_win32::Reset();
    test_support::MakeFolder("C:\\logs");
    bool guarded = false;
    {
      RunScenario scenario;
      if (!c.namespaces) fake_win32::SetPrivateNamespaces(fake_win32::PrivateNamespaces::kWine8);
      c.setUp();
      const std::string guard = c.namespaces ? inNamespace : global;
      scenario.duringLaunch = [&] { guarded = fake_win32::MutexOwnedHere(guard); };
      EXPECT_EQ(c.exitCode, Run({std::string("/LOG=") + kLog}));
      EXPECT_EQ(c.exitCode ? 0 : 1, CallCount("CoInitialize"));
      EXPECT_FALSE(fake_win32::MutexOwnedHere(guard));
    }
    EXPECT_EQ(c.exitCode == 0, guarded);
    EXPECT_TRUE(HasLine(c.line)) << ::testing::PrintToString(LogLines());
    EXPECT_EQ(c.exitCode == 1618 || c.line.find("waited 1500") != std::string::npos,
              HasLine("another setup run is in progress: waiting for it to end (at most 600 s)"));
    EXPECT_EQ(c.exitCode == 1618  ? "setup.exe: another setup run held the machine for too long; nothing was done\r\n"
              : c.exitCode == -1 ? "setup.exe: " + usersOwn + "; nothing was done\r\n"
                                 : "",
              fake_win32::StandardError());
  }
}

// Every call that makes or waits for the guard, failed: -1, nothing done,
// why on standard error and in the log, everything released.
TEST_F(ProgramTest, GuardErrors) {
  struct Case {
    bool namespaces;
    const char* function;
    uint32_t error;
    const char* failure;
  };
  const Case cases[] = {
      {true, "CreateWellKnownSid", ERROR_NOT_ENOUGH_MEMORY,
       "FanControlServiceSetup: building its security descriptor failed: 8 (Not enough memory resources are "
       "available to process this command.)"},
      {true, "CreateBoundaryDescriptorW", ERROR_NOT_ENOUGH_MEMORY,
       "FanControlServiceSetup: CreateBoundaryDescriptorW failed: 8 (Not enough memory resources are available to "
       "process this command.)"},
      {true, "AddSIDToBoundaryDescriptor", ERROR_ACCESS_DENIED,
       "FanControlServiceSetup: AddSIDToBoundaryDescriptor failed: 5 (Access is denied.)"},
      // A run without administrator rights is not within the boundary.
      {true, "CreatePrivateNamespaceW", ERROR_ACCESS_DENIED,
       "FanControlServiceSetup: CreatePrivateNamespaceW failed: 5 (Access is denied.)"},
      {true, "OpenPrivateNamespaceW", ERROR_ACCESS_DENIED,
       "FanControlServiceSetup: OpenPrivateNamespaceW failed: 5 (Access is denied.)"},
      {true, "CreateMutexW", ERROR_ACCESS_DENIED,
       "FanControlServiceSetup\\Run: CreateMutexW failed: 5 (Access is denied.)"},
      {true, "WaitForSingleObject", ERROR_INVALID_HANDLE,
       "FanControlServiceSetup\\Run: WaitForSingleObject failed: 6 (The handle is invalid.)"},
      {false, "SetSecurityDescriptorDacl", ERROR_INVALID_PARAMETER,
       "Global\\FanControlServiceSetup.Guard: building its security descriptor failed: 87"},
      // A DACL that keeps this run out (5), an object of another type (6).
      {false, "CreateMutexW", ERROR_INVALID_HANDLE,
       "Global\\FanControlServiceSetup.Guard: CreateMutexW failed: 6 (The handle is invalid.)"},
      {false, "GetSecurityInfo", ERROR_ACCESS_DENIED,
       "Global\\FanControlServiceSetup.Guard: GetSecurityInfo failed: 5 (Access is denied.)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.function);
    fake_win32::Reset();
    test_support::MakeFolder("C:\\logs");
    {
      RunScenario scenario;
      if (!c.namespaces) fake_win32::SetPrivateNamespaces(fake_win32::PrivateNamespaces::kNone);
      // The namespace and the mutex are there already, made by another run.
      fake_win32::HoldPrivateNamespaceElsewhere("FanControlServiceSetup");
      fake_win32::SetMutexOwner("Global\\FanControlServiceSetup.Guard", fake_win32::OtherOwner::kReleasesAfter);
      fake_win32::FailEveryCall(c.function, c.error);
      EXPECT_EQ(-1, Run({std::string("/LOG=") + kLog}));
      EXPECT_EQ(0, CallCount("CoInitialize"));
    }
    EXPECT_EQ("setup.exe: the run guard could not be taken: " + std::string(c.failure) + "; nothing was done\r\n",
              fake_win32::StandardError());
    EXPECT_TRUE(HasLine("the run guard could not be taken: " + std::string(c.failure) + "; nothing done"))
        << ::testing::PrintToString(LogLines());
    EXPECT_TRUE(fake_win32::OpenResources().empty()) << ::testing::PrintToString(fake_win32::OpenResources());
    EXPECT_TRUE(fake_win32::Misuses().empty()) << ::testing::PrintToString(fake_win32::Misuses());
  }
}

}  // namespace
}  // namespace vantu
