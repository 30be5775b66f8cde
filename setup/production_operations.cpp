#include "setup/production_operations.h"

#include <windows.h>
#include <objbase.h>

#include "acpi/exports.h"
#include "acpi/firmware_probe.h"
#include "base/text_encoding.h"
#include "deploy/install_folder.h"
#include "deploy/payload_copy.h"
#include "settings/settings.h"
#include "setup/installed_version.h"
#include "setup/service.h"

namespace vantu {

ProductionOperations::ProductionOperations() { programFolder_.Open(vantu::ModuleDirectory()); }

void ProductionOperations::InitializeComponentModel() { CoInitialize(nullptr); }

void ProductionOperations::AcpiInit() { ::AcpiInit(); }

void ProductionOperations::ReadMbifValues(ULONG* word) { vantu::ReadMbifValues(word, 1); }

OfferedVersion ProductionOperations::ReadSetupVersion() {
  std::wstring text = vantu::ReadSetupVersion();
  std::string ansi = AnsiFromWide(text);
  return OfferedVersion{std::move(text), std::move(ansi)};
}

std::string ProductionOperations::ReadInstalledVersion() { return vantu::ReadInstalledVersion(); }

bool ProductionOperations::IsServiceInstalled() { return vantu::IsServiceInstalled(); }

bool ProductionOperations::ExecutionKeepsToItsRule() { return vantu::ExecutionKeepsToItsRule(); }

InstallFolder ProductionOperations::ResolveInstallFolder(std::wstring version) {
  return vantu::ResolveInstallFolder(std::move(version));
}

std::wstring ProductionOperations::ModuleDirectory() { return programFolder_.path(); }

bool ProductionOperations::CopyPayload(const std::wstring& sourceRoot, const std::wstring& targetRoot) {
  return vantu::CopyPayload(sourceRoot, targetRoot, sealed_);
}

bool ProductionOperations::LaunchServiceExecutable(const std::wstring& installFolder) {
  return vantu::LaunchServiceExecutable(installFolder);
}

std::wstring ProductionOperations::ReadRegistryKey() { return vantu::ReadRegistryKey(); }

void ProductionOperations::RecordInstall(const std::wstring& keyPath, const std::wstring& version,
                                         const std::wstring& installFolder) {
  vantu::RecordInstall(keyPath, version, installFolder);
}

}  // namespace vantu
