// Every step the setup run takes, behind one interface, so that the run can
// be driven by its real implementations or by a scripted double that sees
// the whole run. The run itself makes no platform call.
#pragma once

#include <windows.h>

#include <string>

namespace vantu {

class SetupOperations {
 public:
  virtual ~SetupOperations() = default;

  // Initialises the component model for the calling thread, which the
  // bridge needs; never undone. The result is not looked at.
  virtual void InitializeComponentModel() = 0;
  virtual void AcpiInit() = 0;
  // Writes at most the one word it is given.
  virtual void ReadMbifValues(ULONG* word) = 0;
  virtual std::string ReadSetupVersion() = 0;
  virtual std::string ReadInstalledVersion() = 0;
  virtual bool IsServiceInstalled() = 0;
  // The install folder, ending in a backslash; empty on failure.
  virtual std::string ResolveInstallFolder(std::string version) = 0;
  virtual std::string ModuleDirectory() = 0;
  virtual bool CopyPayload(const std::string& sourceRoot, const std::string& targetRoot) = 0;
  // Returns once the service executable has ended; true when it was started.
  virtual bool LaunchServiceExecutable(const std::string& installFolder) = 0;
  virtual std::string ReadRegistryKey() = 0;
  // Records `version` as "Version" and `installFolder` as "Path" in the key
  // `keyPath` below HKEY_LOCAL_MACHINE, created when missing; nothing when
  // the key can be neither created nor opened.
  virtual void RecordInstall(const std::string& keyPath, const std::string& version,
                             const std::string& installFolder) = 0;
};

}  // namespace vantu
