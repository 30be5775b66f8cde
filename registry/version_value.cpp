#include "registry/version_value.h"

#include <limits>
#include <memory>

namespace vantu {

bool QueryVersionValue(HKEY key, std::string* version) {
  DWORD type = REG_NONE;
  DWORD size = 0;
  if (RegQueryValueExA(key, "Version", nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return false;
  if (type != REG_SZ && type != REG_EXPAND_SZ && type != REG_MULTI_SZ) return false;
  if (size == std::numeric_limits<DWORD>::max()) return false;
  // One byte more than the data, always zero, so that the text ends even when
  // the stored data has no terminator.
  std::unique_ptr<char[]> buffer(new char[static_cast<size_t>(size) + 1]());
  DWORD read = size;
  if (RegQueryValueExA(key, "Version", nullptr, &type, reinterpret_cast<BYTE*>(buffer.get()), &read) !=
      ERROR_SUCCESS) {
    return false;
  }
  version->assign(buffer.get());
  return true;
}

}  // namespace vantu
