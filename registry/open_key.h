// One open registry key with its two name buffers: what RegReader and
// RegWriter hold. Closes the key when destroyed.
#pragma once

#include <windows.h>

#include <memory>

#include "registry/name_buffers.h"

namespace vantu {

class OpenKey {
 public:
  OpenKey() = default;
  ~OpenKey();
  OpenKey(const OpenKey&) = delete;
  OpenKey& operator=(const OpenKey&) = delete;

  // Takes ownership of a freshly opened handle and makes its name buffers.
  void Adopt(HKEY key);

  HKEY key() const { return key_; }
  bool is_open() const { return isOpen_; }
  const SubKeyNameBuffer* sub_key_names() const { return subKeyNames_.get(); }
  const ValueNameBuffer* value_names() const { return valueNames_.get(); }

 private:
  HKEY key_ = nullptr;
  bool isOpen_ = false;
  std::unique_ptr<SubKeyNameBuffer> subKeyNames_;
  std::unique_ptr<ValueNameBuffer> valueNames_;
};

}  // namespace vantu
