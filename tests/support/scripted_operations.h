// A scripted double of every operation the setup run calls: answers from
// fields the test sets, and records each call with its arguments in order.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "setup/installed_version.h"
#include "setup/setup_operations.h"

namespace test_support {

class ScriptedOperations : public vantu::SetupOperations {
 public:
  std::optional<ULONG> firmwareWord = 0x200;  // nullopt: the probe writes nothing
  std::string offeredVersion = "2.0";
  std::string installedVersion = "1.0";
  std::vector<bool> serviceInstalled = {true, true};  // answers, in order
  std::string installFolder = "C:\\Program Files\\Fan\\2.0\\";
  std::string moduleDirectory = "C:\\Setup\\";
  bool copyResult = true;
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
  std::string ReadSetupVersion() override {
    calls.push_back("ReadSetupVersion");
    return offeredVersion;
  }
  std::string ReadInstalledVersion() override {
    calls.push_back("ReadInstalledVersion");
    return installedVersion;
  }
  bool IsServiceInstalled() override {
    const size_t asked = CountOf("IsServiceInstalled");
    calls.push_back("IsServiceInstalled");
    return asked < serviceInstalled.size() ? serviceInstalled[asked] : false;
  }
  std::string ResolveInstallFolder(std::string version) override {
    calls.push_back("ResolveInstallFolder(" + version + ")");
    return installFolder;
  }
  std::string ModuleDirectory() override {
    calls.push_back("ModuleDirectory");
    return moduleDirectory;
  }
  bool CopyPayload(const std::string& source, const std::string& target) override {
    calls.push_back("CopyPayload(" + source + "," + target + ")");
    return copyResult;
  }
  bool LaunchServiceExecutable(const std::string& folder) override {
    calls.push_back("LaunchServiceExecutable(" + folder + ")");
    return launchResult;
  }
  std::string ReadRegistryKey() override {
    calls.push_back("ReadRegistryKey");
    return registryKey;
  }
  // Records for real, below HKEY_LOCAL_MACHINE, unless createKey is false.
  void RecordInstall(const std::string& keyPath, const std::string& version,
                     const std::string& folder) override {
    calls.push_back("RecordInstall(" + keyPath + "," + version + "," + folder + ")");
    if (createKey) vantu::RecordInstall(keyPath, version, folder);
  }

  size_t CountOf(const std::string& call) const {
    size_t n = 0;
    for (const auto& c : calls) n += c.rfind(call, 0) == 0 ? 1 : 0;
    return n;
  }
};

}  // namespace test_support
