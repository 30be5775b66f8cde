#include "registry/reg_writer.h"

namespace vantu {

bool RegWriter::Create(const std::wstring& subKey) {
  HKEY created = nullptr;
  DWORD disposition = 0;  // a created key and an opened one are alike
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                      nullptr, &created, &disposition) != ERROR_SUCCESS) {
    return false;
  }
  key_.Adopt(created);
  return true;
}

}  // namespace vantu
