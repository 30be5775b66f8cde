#include "run/production_operations.h"

#include <windows.h>
#include <objbase.h>

#include "acpi/exports.h"
#include "acpi/firmware_probe.h"
#include "base/text_encoding.h"
#include "deploy/install_folder.h"
#include "deploy/payload_copy.h"
#include "settings/settings.h"
#include "registry/installed_version.h"
#include "service/service.h"

namespace vantu {

void ProductionOperations::InitializeComponentModel() { CoInitialize(nullptr); }

void ProductionOperations::AcpiInit() { ::AcpiInit(); }

void ProductionOperations::ReadMbifValues(ULONG* word) { vantu::ReadMbifValues(word, 1); }

OfferedVersion ProductionOperations::ReadSetupVersion() {
  std::wstring text = vantu::ReadSetupVersion(context_.settings());
  std::string ansi = AnsiFromWide(text);
  return OfferedVersion{std::move(text), std::move(ansi)};
}

InstalledVersion ProductionOperations::ReadInstalledVersion() {
  return vantu::ReadInstalledVersion(context_.settings());
}

bool ProductionOperations::IsServiceInstalled() { return vantu::IsServiceInstalled(context_.settings()); }

bool ProductionOperations::ExecutionKeepsToItsRule() { return vantu::ExecutionKeepsToItsRule(context_.settings()); }

InstallFolder ProductionOperations::ResolveInstallFolder(std::wstring version) {
  return vantu::ResolveInstallFolder(context_.settings(), std::move(version));
}

CopyOutcome ProductionOperations::CopyPayload(const std::wstring& installFolder) {
  return vantu::CopyPayload(context_.program_folder().path(), &context_.image(), installFolder,
                            context_.payload_rule());
}

bool ProductionOperations::LaunchServiceExecutable(const std::wstring& installFolder) {
  return vantu::LaunchServiceExecutable(context_.settings(), installFolder);
}

std::wstring ProductionOperations::ReadRegistryKey() { return vantu::ReadRegistryKey(context_.settings()); }

bool ProductionOperations::RecordInstall(const std::wstring& keyPath, const std::wstring& version,
                                         const std::wstring& installFolder) {
  return vantu::RecordInstall(keyPath, version, installFolder);
}

}  // namespace vantu
