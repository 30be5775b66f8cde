// One open registry key with its two name buffers: what RegReader and
// RegWriter hold. Closes the key when destroyed.
#pragma once

#include <windows.h>

#include <memory>

#include "base/unique_handle.h"
#include "registry/name_buffers.h"

namespace vantu {

// Not copyable: it owns the key and the buffers.
class OpenKey {
 public:
  // Takes ownership of a freshly opened handle and makes its name buffers.
  void Adopt(HKEY key);

  HKEY key() const { return key_.get(); }
  bool is_open() const { return static_cast<bool>(key_); }
  const SubKeyNameBuffer* sub_key_names() const { return subKeyNames_.get(); }
  const ValueNameBuffer* value_names() const { return valueNames_.get(); }

 private:
  UniqueRegistryKey key_;
  std::unique_ptr<SubKeyNameBuffer> subKeyNames_;
  std::unique_ptr<ValueNameBuffer> valueNames_;
};

}  // namespace vantu
