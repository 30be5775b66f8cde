// The setup run's operations bound to their real implementations.
#pragma once

#include "deploy/program_folder.h"
#include "deploy/sealed_copy.h"
#include "setup/setup_operations.h"

namespace vantu {

class ProductionOperations : public SetupOperations {
 public:
  // Takes the program folder as the run finds it at its start, and holds it
  // until the run ends (program_folder.h).
  ProductionOperations();

  // The program folder's final path, ending in a backslash; empty when it
  // could not be opened.
  const std::wstring& program_folder() const { return programFolder_.path(); }

  // From now on the copy is a sealed one (deploy/sealed_copy.h); null: an
  // unsealed one, as at the start.
  void UseSeal(const SealedCopy* sealed) { sealed_ = sealed; }

  void InitializeComponentModel() override;
  void AcpiInit() override;
  void ReadMbifValues(ULONG* word) override;
  OfferedVersion ReadSetupVersion() override;
  std::string ReadInstalledVersion() override;
  bool IsServiceInstalled() override;
  bool ExecutionKeepsToItsRule() override;
  InstallFolder ResolveInstallFolder(std::wstring version) override;
  std::wstring ModuleDirectory() override;
  bool CopyPayload(const std::wstring& sourceRoot, const std::wstring& targetRoot) override;
  bool LaunchServiceExecutable(const std::wstring& installFolder) override;
  std::wstring ReadRegistryKey() override;
  void RecordInstall(const std::wstring& keyPath, const std::wstring& version,
                     const std::wstring& installFolder) override;

 private:
  ProgramFolder programFolder_;
  const SealedCopy* sealed_ = nullptr;
};

}  // namespace vantu
