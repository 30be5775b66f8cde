#include "setup/production_operations.h"

#include "acpi/exports.h"
#include "acpi/firmware_probe.h"
#include "deploy/install_folder.h"
#include "deploy/payload_copy.h"
#include "registry/reg_writer.h"
#include "setup/installed_version.h"
#include "setup/service.h"
#include "setup/settings.h"

namespace vantu {

void ProductionOperations::AcpiInit() { ::AcpiInit(); }

void ProductionOperations::ReadMbifValues(ULONG* word) { vantu::ReadMbifValues(word, 1); }

std::string ProductionOperations::ReadSetupVersion() { return vantu::ReadSetupVersion(); }

std::string ProductionOperations::ReadInstalledVersion() { return vantu::ReadInstalledVersion(); }

bool ProductionOperations::IsServiceInstalled() { return vantu::IsServiceInstalled(); }

std::string ProductionOperations::ResolveInstallFolder(std::string version) {
  return vantu::ResolveInstallFolder(std::move(version));
}

std::string ProductionOperations::ModuleDirectory() { return vantu::ModuleDirectory(); }

bool ProductionOperations::CopyPayload(const std::string& sourceRoot, const std::string& targetRoot) {
  return vantu::CopyPayload(sourceRoot, targetRoot);
}

bool ProductionOperations::LaunchServiceExecutable(const std::string& installFolder) {
  return vantu::LaunchServiceExecutable(installFolder);
}

std::string ProductionOperations::ReadRegistryKey() { return vantu::ReadRegistryKey(); }

bool ProductionOperations::CreateRegistryKey(RegWriter& writer, const std::string& keyPath) {
  return writer.Create(keyPath);
}

}  // namespace vantu
