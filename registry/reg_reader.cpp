#include "registry/reg_reader.h"

namespace vantu {

REGSAM RegReader::AccessMask() const { return KEY_READ; }

bool RegReader::Open(const std::wstring& subKey) {
  HKEY opened = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, subKey.c_str(), 0, AccessMask(), &opened) != ERROR_SUCCESS) return false;
  key_.Adopt(opened);
  return true;
}

}  // namespace vantu
