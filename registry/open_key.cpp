#include "registry/open_key.h"

namespace vantu {

void OpenKey::Adopt(HKEY key) {
  key_ = key;
  isOpen_ = true;
  valueNames_.reset(new ValueNameBuffer(key));
  subKeyNames_.reset(new SubKeyNameBuffer(key));
}

OpenKey::~OpenKey() {
  if (isOpen_) {
    RegCloseKey(key_);
    isOpen_ = false;
  }
  valueNames_.reset();
  subKeyNames_.reset();
}

}  // namespace vantu
