// Every step the setup run takes, behind one interface, so that the run can
// be driven by its real implementations or by a scripted double that sees
// the whole run. The run itself makes no platform call.
#pragma once

#include <windows.h>

#include <string>

#include "deploy/install_folder.h"
#include "deploy/payload_copy.h"
#include "registry/installed_version.h"

namespace vantu {

// The version setup.ini offers, in the two forms the run needs: its text,
// which names the install folder and is recorded, and the same text in the
// ANSI code page, the form in which it is compared with the installed
// version.
struct OfferedVersion {
  std::wstring text;
  std::string ansi;
};

class SetupOperations {
 public:
  virtual ~SetupOperations() = default;

  // Initialises the component model for the calling thread, which the
  // bridge needs; never undone. The result is not looked at.
  virtual void InitializeComponentModel() = 0;
  virtual void AcpiInit() = 0;
  // Writes at most the one word it is given.
  virtual void ReadMbifValues(ULONG* word) = 0;
  virtual OfferedVersion ReadSetupVersion() = 0;
  // The installed version in the ANSI code page; refused when the
  // "RegistryKey" setting breaks its rule (the log says why).
  virtual InstalledVersion ReadInstalledVersion() = 0;
  virtual bool IsServiceInstalled() = 0;
  // Whether the "Execution" setting keeps to its rule (one plain file name),
  // read ahead without a message; the log says when it does not.
  virtual bool ExecutionKeepsToItsRule() = 0;
  // The install folder, ending in a backslash; empty on failure; refused
  // when the settings lead out of the program-files folder.
  virtual InstallFolder ResolveInstallFolder(std::wstring version) = 0;
  // Copies the program folder, as the run took it at its start, into
  // `installFolder`.
  virtual CopyOutcome CopyPayload(const std::wstring& installFolder) = 0;
  // Returns once the service executable has ended; true when it was started.
  virtual bool LaunchServiceExecutable(const std::wstring& installFolder) = 0;
  virtual std::wstring ReadRegistryKey() = 0;
  // Records `version` as "Version" and `installFolder` as "Path" in the key
  // `keyPath` below HKEY_LOCAL_MACHINE, created when missing; nothing when
  // the key path is empty or breaks its rule, or the key can be neither
  // created nor opened. True when both values were written.
  virtual bool RecordInstall(const std::wstring& keyPath, const std::wstring& version,
                             const std::wstring& installFolder) = 0;
};

}  // namespace vantu
