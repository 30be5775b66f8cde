#include "run/setup_run.h"

#include <gtest/gtest.h>

#include <optional>

#include <string>
#include <vector>

#include "tests/support/scratch.h"
#include "tests/support/scripted_operations.h"

namespace vantu {
namespace {

using test_support::QueryValue;
using test_support::ScratchKey;
using test_support::ScriptedOperations;
using O = RunOutcome;

class SetupRunTest : public test_support::PlatformTest {
 protected:
  SetupRunTest() { operations.registryKey = key.path(); }

  ScratchKey key;
  ScriptedOperations operations;
};

// Every row of the decision: the gate, the version comparison, the presence
// check, the copy, the launch and the key, with what must and must not run.
TEST_F(SetupRunTest, DecisionTable) {
  struct Row {
    const char* name;
    ULONG word;
    const char* installed;
    const char* offered;
    std::vector<bool> service;
    bool copy;
    bool launch;
    bool createKey;
    RunOutcome outcome;
    std::vector<std::string> calls;
    bool recorded;
    bool executionKeepsToRule = true;
    bool installFolderRefused = false;
    bool registryKeyRefused = false;
    bool rejected = false;  // the copy's check rejected a file
  };
  const std::string folder = "C:\\Program Files\\Fan\\2.0\\";
  const std::string copy = "CopyPayload(" + folder + ")";
  const std::string launch = "LaunchServiceExecutable(" + folder + ")";
  const std::string check = "ExecutionKeepsToItsRule";
  const std::string resolve = "ResolveInstallFolder(2.0)";
  const std::vector<std::string> gate = {"InitializeComponentModel", "AcpiInit", "ReadMbifValues(0)"};
  auto with = [&gate](std::vector<std::string> rest) {
    std::vector<std::string> all = gate;
    all.insert(all.end(), rest.begin(), rest.end());
    return all;
  };
  const Row rows[] = {
      {"gate closed", 0x1FF, "1.0", "2.0", {false}, true, true, true, O::kBoardNotSupported, with({}), false},
      {"nothing to do", 0x200, "2.0", "2.0", {true}, true, true, true, O::kNothingToDo,
       with({"ReadSetupVersion", "ReadInstalledVersion", "IsServiceInstalled"}), false},
      {"copy fails", 0x200, "1.0", "2.0", {true}, false, true, true, O::kCopyFailed,
       with({"ReadSetupVersion", "ReadInstalledVersion", check, resolve, copy}), false},
      {"launch fails", 0x200, "1.0", "2.0", {false}, true, false, true, O::kDeployedWithoutRecord,
       with({"ReadSetupVersion", "ReadInstalledVersion", check, resolve, copy, launch,
             "IsServiceInstalled"}),
       false},
      {"key not created", 0x200, "1.0", "2.0", {true}, true, true, false, O::kDeployedWithoutRecord,
       with({"ReadSetupVersion", "ReadInstalledVersion", check, resolve, copy, launch,
             "IsServiceInstalled", "ReadRegistryKey", "RecordInstall(KEY)"}),
       false},
      {"installed and recorded", 0x200, "1.0", "2.0", {true}, true, true, true, O::kInstalled,
       with({"ReadSetupVersion", "ReadInstalledVersion", check, resolve, copy, launch,
             "IsServiceInstalled", "ReadRegistryKey", "RecordInstall(KEY)"}),
       true},
      {"same version, service missing", 0x200, "2.0", "2.0", {false, true}, true, true, true, O::kInstalled,
       with({"ReadSetupVersion", "ReadInstalledVersion", "IsServiceInstalled", check, resolve,
             copy, launch, "IsServiceInstalled", "ReadRegistryKey", "RecordInstall(KEY)"}),
       true},
      {"no version offered, service present", 0x200, "", "", {true}, true, true, true, O::kNothingToDo,
       with({"ReadSetupVersion", "ReadInstalledVersion", "IsServiceInstalled"}), false},
      {"no version offered, service missing", 0x200, "1.0", "", {false}, true, true, true, O::kVersionNamesNoFolder,
       with({"ReadSetupVersion", "ReadInstalledVersion", "IsServiceInstalled"}), false},
      {"offered version names the folder above", 0x200, "", "..", {false}, true, true, true, O::kVersionNamesNoFolder,
       with({"ReadSetupVersion", "ReadInstalledVersion"}), false},
      // Settings that lead out of their folders: nothing made, copied, run
      // or recorded.
      {"Execution breaks its rule", 0x200, "1.0", "2.0", {true}, true, true, true, O::kExecutionLeadsOut,
       with({"ReadSetupVersion", "ReadInstalledVersion", check}), false, false},
      {"InstallPath leads out", 0x200, "1.0", "2.0", {true}, true, true, true, O::kInstallPathLeadsOut,
       with({"ReadSetupVersion", "ReadInstalledVersion", check, resolve}), false, true, true},
      {"Execution breaks its rule, service missing", 0x200, "2.0", "2.0", {false}, true, true, true, O::kExecutionLeadsOut,
       with({"ReadSetupVersion", "ReadInstalledVersion", "IsServiceInstalled", check}), false, false},
      {"RegistryKey leads out", 0x200, "1.0", "2.0", {true}, true, true, true, O::kRegistryKeyLeadsOut,
       with({"ReadSetupVersion", "ReadInstalledVersion"}), false, true, false, true},
      {"payload differs from its seal", 0x200, "1.0", "2.0", {true}, true, true, true, O::kSealMismatch,
       with({"ReadSetupVersion", "ReadInstalledVersion", check, resolve, copy}), false, true, false, false, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ScratchKey rowKey;
    ScriptedOperations ops;
    ops.firmwareWord = row.word;
    ops.installedVersion = row.installed;
    ops.offeredVersion = row.offered;
    ops.serviceInstalled = row.service;
    ops.copyOutcome = row.rejected ? CopyOutcome::kRejected : row.copy ? CopyOutcome::kComplete : CopyOutcome::kIncomplete;
    ops.registryKeyRefused = row.registryKeyRefused;
    ops.launchResult = row.launch;
    ops.createKey = row.createKey;
    ops.executionKeepsToRule = row.executionKeepsToRule;
    ops.installFolderRefused = row.installFolderRefused;
    ops.registryKey = rowKey.path();
    ops.installFolder = folder;
    std::vector<std::string> expected = row.calls;
    for (auto& call : expected) {
      if (call == "RecordInstall(KEY)") {
        call = "RecordInstall(" + rowKey.path() + "," + row.offered + "," + folder + ")";
      }
    }

    EXPECT_EQ(row.outcome, RunSetup(ops));
    EXPECT_EQ(expected, ops.calls);
    EXPECT_EQ(row.recorded, QueryValue(rowKey.path(), "Version").exists);
    EXPECT_EQ(row.recorded, QueryValue(rowKey.path(), "Path").exists);
  }
}

TEST_F(SetupRunTest, OnlyBitsEightToFifteenOpenTheGate) {
  struct Gate {
    std::optional<ULONG> word;
    int exitCode;
  };
  const Gate gates[] = {
      {0x1FF, -1},       {0x200, 0},        {0xFF00, 0},      {0x2FF, 0},    {0x100, -1},
      {0x0, -1},         {0xFFFF01FF, -1},  {0xFFFF00FF, -1}, {0x10000, -1}, {0x00010200, 0},
      {std::nullopt, -1},  // the probe wrote nothing: the word stays 0
  };
  for (const Gate& gate : gates) {
    ScriptedOperations ops;
    ops.firmwareWord = gate.word;
    ops.installedVersion = ops.offeredVersion;  // nothing to do once past the gate
    EXPECT_EQ(gate.exitCode, ExitCodeOf(RunSetup(ops))) << std::hex << gate.word.value_or(0);
    EXPECT_EQ(gate.exitCode == 0 ? 1u : 0u, ops.CountOf("ReadSetupVersion"));
  }
}

TEST_F(SetupRunTest, RecordHoldsExactTextsWithTheirTerminators) {
  operations.offeredVersion = "2.1.0";
  operations.installFolder = "C:\\Program Files (x86)\\Vendor\\Tool\\2.1.0\\";
  operations.installedVersion = "";
  ASSERT_EQ(O::kInstalled, RunSetup(operations));
  const auto version = QueryValue(key.path(), "Version");
  const auto path = QueryValue(key.path(), "Path");
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), version.type);
  EXPECT_EQ(std::string("2.1.0\0", 6), version.bytes);
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), path.type);
  EXPECT_EQ(std::string("C:\\Program Files (x86)\\Vendor\\Tool\\2.1.0\\\0", 42), path.bytes);
}

// An install is due, but the offered version is no single folder name: the
// run ends before the install folder, with only the reads that decided.
TEST_F(SetupRunTest, OfferThatNamesNoFolderEndsBeforeTheInstallFolder) {
  struct Case {
    const char* installed;
    const char* offered;
    bool presenceChecked;  // the offer was not newer, so the service was asked
  };
  const Case cases[] = {
      {"", "", true},  // no setup.ini or no "version": read as empty
      {"1.0", "", true},
      {"", ".", false},
      {"", "..", false},
      {"", "..\\2.0", false},
      {"", "2.0\\", false},
      {"", "2.0/x", false},
      {"", "D:2.0", false},
      {"3.0", "..", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("installed \"") + c.installed + "\", offered \"" + c.offered + "\"");
    ScratchKey rowKey;
    ScriptedOperations ops;
    ops.installedVersion = c.installed;
    ops.offeredVersion = c.offered;
    ops.serviceInstalled = {false, false};
    ops.registryKey = rowKey.path();
    EXPECT_EQ(O::kVersionNamesNoFolder, RunSetup(ops));
    std::vector<std::string> expected = {"InitializeComponentModel", "AcpiInit", "ReadMbifValues(0)",
                                         "ReadSetupVersion", "ReadInstalledVersion"};
    if (c.presenceChecked) expected.push_back("IsServiceInstalled");
    EXPECT_EQ(expected, ops.calls);
    EXPECT_FALSE(QueryValue(rowKey.path(), "Version").exists);
  }
}

TEST_F(SetupRunTest, InstallWithoutRecordAsksForTheServiceOnlyAfterTheLaunch) {
  operations.installedVersion = "";
  operations.offeredVersion = "1.0";
  ASSERT_EQ(O::kInstalled, RunSetup(operations));
  ASSERT_EQ(1u, operations.CountOf("IsServiceInstalled"));
  EXPECT_EQ("IsServiceInstalled", operations.calls[operations.calls.size() - 3]);
  EXPECT_EQ("LaunchServiceExecutable(" + operations.installFolder + ")",
            operations.calls[operations.calls.size() - 4]);
}

TEST_F(SetupRunTest, ComparisonDecidesBeforeThePresenceCheck) {
  struct Versions {
    const char* installed;
    const char* offered;
    bool service;
    size_t presenceChecks;
    bool deployed;
    int exitCode;
  };
  const Versions cases[] = {
      {"1.0.9", "1.0.10", true, 1, false, 0},   // not older as text
      {"1.2", "1.2.1", true, 1, true, 0},       // older: no question asked first
      {"1.2.1", "1.2", true, 1, false, 0},
      {"1.2.1", "1.2", false, 2, true, 0},      // not older, but the service is missing
      {"", "", true, 1, false, 0},              // equal: the service decides
      {"", "", false, 1, false, -1},            // due, but no version to deploy
      {"\xE9", "1", true, 1, true, 0},
  };
  for (const auto& c : cases) {
    ScratchKey rowKey;
    ScriptedOperations ops;
    ops.installedVersion = c.installed;
    ops.offeredVersion = c.offered;
    ops.serviceInstalled = {c.service, true};
    ops.registryKey = rowKey.path();
    EXPECT_EQ(c.exitCode, ExitCodeOf(RunSetup(ops))) << c.installed << " vs " << c.offered;
    EXPECT_EQ(c.presenceChecks, ops.CountOf("IsServiceInstalled")) << c.installed << " vs " << c.offered;
    EXPECT_EQ(c.deployed ? 1u : 0u, ops.CountOf("CopyPayload")) << c.installed << " vs " << c.offered;
  }
}

TEST_F(SetupRunTest, NoInstallFolderEndsTheRunBeforeTheCopy) {
  operations.installFolder = "";
  EXPECT_EQ(O::kNoInstallFolder, RunSetup(operations));
  EXPECT_EQ(0u, operations.CountOf("CopyPayload"));
  EXPECT_EQ(0u, operations.CountOf("LaunchServiceExecutable"));
}

}  // namespace
}  // namespace vantu
