#include "setup/production_operations.h"

#include <windows.h>
#include <objbase.h>

#include "acpi/exports.h"
#include "acpi/firmware_probe.h"
#include "deploy/install_folder.h"
#include "deploy/payload_copy.h"
#include "settings/settings.h"
#include "setup/installed_version.h"
#include "setup/service.h"

namespace vantu {

void ProductionOperations::InitializeComponentModel() { CoInitialize(nullptr); }

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

void ProductionOperations::RecordInstall(const std::string& keyPath, const std::string& version,
                                         const std::string& installFolder) {
  vantu::RecordInstall(keyPath, version, installFolder);
}

}  // namespace vantu
