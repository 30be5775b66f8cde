// The setup run's operations bound to their real implementations.
#pragma once

#include "setup/setup_operations.h"

namespace vantu {

class ProductionOperations : public SetupOperations {
 public:
  void InitializeComponentModel() override;
  void AcpiInit() override;
  void ReadMbifValues(ULONG* word) override;
  std::string ReadSetupVersion() override;
  std::string ReadInstalledVersion() override;
  bool IsServiceInstalled() override;
  std::string ResolveInstallFolder(std::string version) override;
  std::string ModuleDirectory() override;
  bool CopyPayload(const std::string& sourceRoot, const std::string& targetRoot) override;
  bool LaunchServiceExecutable(const std::string& installFolder) override;
  std::string ReadRegistryKey() override;
  void RecordInstall(const std::string& keyPath, const std::string& version,
                     const std::string& installFolder) override;
};

}  // namespace vantu
