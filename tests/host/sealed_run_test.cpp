// Whole runs of a sealed setup.exe on the in-memory platform: only what the
// seal lists is deployed, setup.ini is checked before any setting is read,
// and the install folder is checked against the seal before the launch.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "fake_win32/control.h"
#include "fake_win32/module_control.h"
#include "seal/sha256_provider.h"
#include "program/program.h"
#include "tests/support/run_scenario.h"
#include "tests/support/scratch.h"
#include "tests/support/seal_bytes.h"
#include "tests/support/wide.h"

namespace vantu {
namespace {

using fake_win32::CallCount;
using test_support::FileExists;
using test_support::ReadFile;
using test_support::RunScenario;
using test_support::WriteFile;

const char kLog[] = "C:\\logs\\setup.log";

// The manifest scripts/seal would write for these files of the program
// folder (their bytes as they are now).
std::string ManifestOf(const std::vector<std::string>& names) {
  Sha256Provider hasher;
  std::string why;
  EXPECT_TRUE(hasher.Open(&why)) << why;
  test_support::SealBytes bytes;
  bytes.Header(static_cast<uint32_t>(names.size()));
  for (const auto& name : names) {
    const std::string content = ReadFile(std::string(RunScenario::kProgramFolder) + name);
    Sha256Digest digest{};
    EXPECT_TRUE(hasher.HashBytes(content.data(), content.size(), &digest, &why)) << why;
    std::u16string unitName;
    for (const wchar_t c : test_support::W(name)) unitName += static_cast<char16_t>(c);
    bytes.Number(unitName.size(), 2);
    for (const char16_t unit : unitName) bytes.Number(unit, 2);
    bytes.Number(content.size(), 8);
    bytes.Raw(std::string(reinterpret_cast<const char*>(digest.data()), digest.size()));
  }
  return bytes.bytes();
}

std::vector<std::string> LogLines() {
  const std::string text = ReadFile(kLog);
  std::vector<std::string> lines;
  size_t start = text.rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0;
  for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
    lines.push_back(text.substr(start + 24, end - start - 24));
  }
  return lines;
}

bool HasLine(const std::string& line) {
  for (const auto& l : LogLines()) {
    if (l == line) return true;
  }
  return false;
}

const std::vector<std::string> kSealed = {"fan.dll", "fansvc.exe", "setup.ini"};

class SealedRunTest : public test_support::PlatformTest {
 protected:
  SealedRunTest() {
    test_support::MakeFolder("C:\\logs");
    fake_win32::SetModuleResource(L"#10", L"PAYLOAD_SEAL", ManifestOf(kSealed));
  }

  static int Run() { return RunProgram({test_support::W(std::string("/LOG=") + kLog)}); }

  RunScenario scenario;
};

TEST_F(SealedRunTest, UntouchedFolderDeploysAsUnsealed) {
  ASSERT_EQ(0, Run());
  const std::string folder = scenario.InstallFolder();
  for (const char* file : {"setup.exe", "setup.ini", "fansvc.exe", "fan.dll"}) {
    EXPECT_EQ(ReadFile(std::string(RunScenario::kProgramFolder) + file), ReadFile(folder + file)) << file;
  }
  EXPECT_EQ(1u, scenario.launches.size());
  EXPECT_TRUE(test_support::KeyExists(RunScenario::kRegistryKey));
  EXPECT_TRUE(HasLine("the install folder matches the seal: 3 sealed files"));
  EXPECT_TRUE(HasLine("sealed: 3 files; setup.ini matches the seal, and is held until the run ends"));
}

TEST_F(SealedRunTest, FilesNotSealedAreNotCopied) {
  WriteFile(std::string(RunScenario::kProgramFolder) + "version.dll", "planted");
  WriteFile(std::string(RunScenario::kProgramFolder) + "extra.exe", "MZ extra");
  ASSERT_EQ(0, Run());
  EXPECT_FALSE(FileExists(scenario.InstallFolder() + "version.dll"));
  EXPECT_FALSE(FileExists(scenario.InstallFolder() + "extra.exe"));
  EXPECT_TRUE(FileExists(scenario.InstallFolder() + "setup.exe"));  // the image itself
  EXPECT_EQ(1u, scenario.launches.size());
  EXPECT_TRUE(HasLine("not sealed, not copied: version.dll"));
  EXPECT_TRUE(HasLine("not sealed, not copied: extra.exe"));
}

// What differs from the seal: the run ends with -1, nothing is launched or
// recorded, the log names the file, and no file of the install folder, under
// any name, holds bytes that differ from the seal.
TEST_F(SealedRunTest, DifferencesEndTheRun) {
  struct Case {
    const char* name;
    void (*change)();
    bool settingsRead;   // setup.ini passed its check
    const char* line;    // the log's word for it
  };
  const Case cases[] = {
      {"a payload byte", [] { WriteFile(std::string(RunScenario::kProgramFolder) + "fan.dll", "dlL"); }, true,
       "sealed file fan.dll differs from the seal: SHA-256 "},
      {"a payload's size", [] { WriteFile(std::string(RunScenario::kProgramFolder) + "fan.dll", "dll!"); }, true,
       "sealed file fan.dll differs from the seal: more than the 3 bytes sealed"},
      {"a listed file missing",
       [] { test_support::RemoveTree(std::string(RunScenario::kProgramFolder) + "fan.dll"); }, true,
       "sealed file missing from the program folder: fan.dll"},
      {"setup.ini changed",
       [] { WriteFile(std::string(RunScenario::kProgramFolder) + "setup.ini", "[Common]\r\nversion=9.9\r\n"); },
       false, "the payload does not match the seal: setup.ini differs from the seal"},
      {"setup.ini missing",
       [] { test_support::RemoveTree(std::string(RunScenario::kProgramFolder) + "setup.ini"); }, false,
       "the payload does not match the seal: setup.ini cannot be read (2 (The system cannot find the file "},
      {"a malformed seal", [] { fake_win32::SetModuleResource(L"#10", L"PAYLOAD_SEAL", "SEAL?"); }, false,
       "the payload does not match the seal: the seal of setup.exe is malformed ("},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fake_win32::Reset();
    test_support::MakeFolder("C:\\logs");
    {
      RunScenario fresh;
      fake_win32::SetModuleResource(L"#10", L"PAYLOAD_SEAL", ManifestOf(kSealed));
      std::map<std::string, std::string> sealedBytes;
      for (const auto& name : kSealed) sealedBytes[name] = ReadFile(std::string(RunScenario::kProgramFolder) + name);
      c.change();
      EXPECT_EQ(-1, Run());
      for (const auto& name : test_support::FilesIn(fresh.InstallFolder())) {
        if (name == "setup.exe") continue;
        ASSERT_TRUE(sealedBytes.count(name)) << name;
        EXPECT_EQ(sealedBytes[name], ReadFile(fresh.InstallFolder() + name)) << name;
      }
      EXPECT_TRUE(fresh.launches.empty());
      EXPECT_FALSE(test_support::KeyExists(RunScenario::kRegistryKey));
      EXPECT_EQ(c.settingsRead, CallCount("GetPrivateProfileStringW") > 0);
      EXPECT_EQ(c.settingsRead, CallCount("CoInitialize") > 0);
      if (!c.settingsRead) {
        EXPECT_FALSE(test_support::FolderExists(fresh.InstallFolder()));
        EXPECT_TRUE(fake_win32::MessageBoxes().empty());
      }
    }
    bool found = false;
    for (const auto& line : LogLines()) found = found || line.rfind(c.line, 0) == 0;
    EXPECT_TRUE(found) << ::testing::PrintToString(LogLines());
  }
}

// A renamed image is still the image: copied, though no seal lists it.
TEST_F(SealedRunTest, TheImageUnderAnotherName) {
  fake_win32::SetModuleFileName(std::string(RunScenario::kProgramFolder) + "FanSetup.exe");
  WriteFile(std::string(RunScenario::kProgramFolder) + "FanSetup.exe", "MZ renamed setup");
  ASSERT_EQ(0, Run());
  EXPECT_TRUE(FileExists(scenario.InstallFolder() + "FanSetup.exe"));
  EXPECT_FALSE(FileExists(scenario.InstallFolder() + "setup.exe"));  // not the image now, and not sealed
}

}  // namespace
}  // namespace vantu
