// An existing key below HKEY_LOCAL_MACHINE, opened for reading. Key paths
// are UTF-16, as setup.ini gives them.
#pragma once

#include <windows.h>

#include <string>

#include "registry/open_key.h"

namespace vantu {

class RegReader {
 public:
  RegReader() = default;
  RegReader(const RegReader&) = delete;
  RegReader& operator=(const RegReader&) = delete;
  // Closes the key if it is open. Not virtual: readers live on the stack.
  ~RegReader() = default;

  // The access the key is opened with: KEY_READ.
  virtual REGSAM AccessMask() const;

  // Opens `subKey` below HKEY_LOCAL_MACHINE (empty: the root itself). Called
  // once, on a closed reader.
  bool Open(const std::wstring& subKey);

  HKEY key() const { return key_.key(); }
  bool is_open() const { return key_.is_open(); }
  const OpenKey& open_key() const { return key_; }

 private:
  OpenKey key_;
};

}  // namespace vantu
