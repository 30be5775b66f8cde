#include "setup/setup_run.h"

#include <windows.h>
#include <objbase.h>

#include "registry/reg_writer.h"
#include "setup/exit_codes.h"
#include "setup/version_compare.h"

namespace vantu {
namespace {

// A REG_SZ value with its terminating zero byte counted.
void SetStringValue(HKEY key, const char* name, const std::string& text) {
  RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                 static_cast<DWORD>(text.size() + 1));
}

}  // namespace

int RunSetup(SetupOperations& operations) {
  // The component model stays initialised until the process ends.
  CoInitialize(nullptr);
  operations.AcpiInit();

  ULONG firmwareWord = 0;
  operations.ReadMbifValues(&firmwareWord);
  if ((firmwareWord & kFirmwareWordMask) < kFirmwareWordThreshold) return kExitFailure;

  const std::string offered = operations.ReadSetupVersion();
  const std::string installed = operations.ReadInstalledVersion();
  if (!IsOlderVersion(installed, offered) && operations.IsServiceInstalled()) return kExitSuccess;

  // The offered version names the install folder. A version that is no
  // single folder name (empty, only dots and blanks, or holding a backslash,
  // a slash or a colon) would deploy into InstallPath itself or outside it: nothing
  // is made, copied, run or recorded then.
  if (!IsDeployableVersion(offered)) return kExitFailure;

  const std::string installFolder = operations.ResolveInstallFolder(offered);
  bool copied;
  {
    const std::string programFolder = operations.ModuleDirectory();
    copied = operations.CopyPayload(programFolder, installFolder);
  }
  if (!copied) return kExitFailure;

  const bool launched = operations.LaunchServiceExecutable(installFolder);
  operations.IsServiceInstalled();  // asked again; the answer changes nothing

  RegWriter writer;
  if (launched) {
    const std::string keyPath = operations.ReadRegistryKey();
    if (operations.CreateRegistryKey(writer, keyPath)) {
      SetStringValue(writer.key(), "Version", offered);
      SetStringValue(writer.key(), "Path", installFolder);
    }
  }
  return kExitSuccess;
}

}  // namespace vantu
