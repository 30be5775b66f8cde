#include "setup/installed_version.h"

#include "registry/reg_reader.h"
#include "registry/version_value.h"
#include "setup/settings.h"

namespace vantu {

std::string ReadInstalledVersion() {
  RegReader reader;
  const std::string keyPath = ReadRegistryKey();
  std::string version;
  if (reader.Open(keyPath)) QueryVersionValue(reader.key(), &version);
  return version;
}

}  // namespace vantu
