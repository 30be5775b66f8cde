// Every operation the setup run calls, behind one interface, so that the run
// can be driven by its real implementations or by a scripted double.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace vantu {

class RegWriter;

class SetupOperations {
 public:
  virtual ~SetupOperations() = default;

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
  // RegWriter::Create on the run's writer.
  virtual bool CreateRegistryKey(RegWriter& writer, const std::string& keyPath) = 0;
};

}  // namespace vantu
