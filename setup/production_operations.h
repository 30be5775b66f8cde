// The setup run's operations bound to their real implementations.
#pragma once

#include "deploy/sealed_copy.h"
#include "setup/setup_operations.h"

namespace vantu {

class ProductionOperations : public SetupOperations {
 public:
  // With `sealed`, the copy is a sealed one (deploy/sealed_copy.h).
  explicit ProductionOperations(const SealedCopy* sealed = nullptr) : sealed_(sealed) {}

  void InitializeComponentModel() override;
  void AcpiInit() override;
  void ReadMbifValues(ULONG* word) override;
  OfferedVersion ReadSetupVersion() override;
  std::string ReadInstalledVersion() override;
  bool IsServiceInstalled() override;
  std::wstring ResolveInstallFolder(std::wstring version) override;
  std::wstring ModuleDirectory() override;
  bool CopyPayload(const std::wstring& sourceRoot, const std::wstring& targetRoot) override;
  bool LaunchServiceExecutable(const std::wstring& installFolder) override;
  std::wstring ReadRegistryKey() override;
  void RecordInstall(const std::wstring& keyPath, const std::wstring& version,
                     const std::wstring& installFolder) override;

 private:
  const SealedCopy* sealed_;
};

}  // namespace vantu
