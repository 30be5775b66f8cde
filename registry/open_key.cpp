#include "registry/open_key.h"

namespace vantu {

void OpenKey::Adopt(HKEY key) {
  key_.reset(key);
  // The value names' buffer first, then the subkey names': the order of the
  // two queries of the key.
  valueNames_.reset(new ValueNameBuffer(key));
  subKeyNames_.reset(new SubKeyNameBuffer(key));
}

}  // namespace vantu
