// A key below HKEY_LOCAL_MACHINE, created if missing, open with full access.
#pragma once

#include <windows.h>

#include <string>

#include "registry/open_key.h"

namespace vantu {

class RegWriter {
 public:
  RegWriter() = default;
  RegWriter(const RegWriter&) = delete;
  RegWriter& operator=(const RegWriter&) = delete;
  // Closes the key if it is open.
  ~RegWriter() = default;

  // Creates or opens `subKey` below HKEY_LOCAL_MACHINE with KEY_ALL_ACCESS.
  // Called once, on a closed writer.
  bool Create(const std::wstring& subKey);

  HKEY key() const { return key_.key(); }
  bool is_open() const { return key_.is_open(); }
  const OpenKey& open_key() const { return key_; }

 private:
  OpenKey key_;
};

}  // namespace vantu
