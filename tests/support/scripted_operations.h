// A scripted double of every operation the setup run calls: answers from
// fields the test sets, and records each call with its arguments in order
// (in UTF-8).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "registry/installed_version.h"
#include "run/setup_operations.h"
#include "tests/support/wide.h"

namespace test_support {

class ScriptedOperations : public vantu::SetupOperations {
 public:
  std::optional<ULONG> firmwareWord = 0x200;  // nullopt: the probe writes nothing
  // The offered version's text (UTF-8) and its bytes in the ANSI code page;
  // the ANSI form is the text itself unless set.
  std::string offeredVersion = "2.0";
  std::optional<std::string> offeredAnsi;
  std::string installedVersion = "1.0";  // in the ANSI code page
  bool registryKeyRefused = false;       // true: "RegistryKey" breaks its rule
  std::vector<bool> serviceInstalled = {true, true};  // answers, in order
  bool executionKeepsToRule = true;  // false: "Execution" breaks its rule
  bool installFolderRefused = false;   // true: the settings lead out of the program-files folder
  std::string installFolder = "C:\\Program Files\\Fan\\2.0\\";
  vantu::CopyOutcome copyOutcome = vantu::CopyOutcome::kComplete;
  bool launchResult = true;
  std::string registryKey;
  bool createKey = true;  // false: the key cannot be created, nothing is recorded

  std::vector<std::string> calls;

  void InitializeComponentModel() override { calls.push_back("InitializeComponentModel"); }
  void AcpiInit() override { calls.push_back("AcpiInit"); }
  void ReadMbifValues(ULONG* word) override {
    calls.push_back("ReadMbifValues(" + std::to_string(*word) + ")");
    if (firmwareWord) *word = *firmwareWord;
  }
  vantu::OfferedVersion ReadSetupVersion() override {
    calls.push_back("ReadSetupVersion");
    return vantu::OfferedVersion{W(offeredVersion), offeredAnsi.value_or(offeredVersion)};
  }
  vantu::InstalledVersion ReadInstalledVersion() override {
    calls.push_back("ReadInstalledVersion");
    return vantu::InstalledVersion{installedVersion, registryKeyRefused};
  }
  bool IsServiceInstalled() override {
    const size_t asked = CountOf("IsServiceInstalled");
    calls.push_back("IsServiceInstalled");
    return asked < serviceInstalled.size() ? serviceInstalled[asked] : false;
  }
  bool ExecutionKeepsToItsRule() override {
    calls.push_back("ExecutionKeepsToItsRule");
    return executionKeepsToRule;
  }
  vantu::InstallFolder ResolveInstallFolder(std::wstring version) override {
    calls.push_back("ResolveInstallFolder(" + U8(version) + ")");
    if (installFolderRefused) return vantu::InstallFolder{std::wstring(), true};
    return vantu::InstallFolder{W(installFolder), false};
  }
  vantu::CopyOutcome CopyPayload(const std::wstring& target) override {
    calls.push_back("CopyPayload(" + U8(target) + ")");
    return copyOutcome;
  }
  bool LaunchServiceExecutable(const std::wstring& folder) override {
    calls.push_back("LaunchServiceExecutable(" + U8(folder) + ")");
    return launchResult;
  }
  std::wstring ReadRegistryKey() override {
    calls.push_back("ReadRegistryKey");
    return W(registryKey);
  }
  // Records for real, below HKEY_LOCAL_MACHINE, unless createKey is false.
  bool RecordInstall(const std::wstring& keyPath, const std::wstring& version,
                     const std::wstring& folder) override {
    calls.push_back("RecordInstall(" + U8(keyPath) + "," + U8(version) + "," + U8(folder) + ")");
    return createKey && vantu::RecordInstall(keyPath, version, folder);
  }

  size_t CountOf(const std::string& call) const {
    size_t n = 0;
    for (const auto& c : calls) n += c.rfind(call, 0) == 0 ? 1 : 0;
    return n;
  }
};

}  // namespace test_support
