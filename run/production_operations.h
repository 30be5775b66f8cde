// The setup run's operations bound to their real implementations, working
// from what the run took at its start (run_context.h).
#pragma once

#include "run/run_context.h"
#include "run/setup_operations.h"

namespace vantu {

class ProductionOperations : public SetupOperations {
 public:
  // `context` outlives this, taken.
  explicit ProductionOperations(RunContext& context) : context_(context) {}

  void InitializeComponentModel() override;
  void AcpiInit() override;
  void ReadMbifValues(ULONG* word) override;
  OfferedVersion ReadSetupVersion() override;
  InstalledVersion ReadInstalledVersion() override;
  bool IsServiceInstalled() override;
  bool ExecutionKeepsToItsRule() override;
  InstallFolder ResolveInstallFolder(std::wstring version) override;
  CopyOutcome CopyPayload(const std::wstring& installFolder) override;
  bool LaunchServiceExecutable(const std::wstring& installFolder) override;
  std::wstring ReadRegistryKey() override;
  bool RecordInstall(const std::wstring& keyPath, const std::wstring& version,
                     const std::wstring& installFolder) override;

 private:
  RunContext& context_;
};

}  // namespace vantu
