// Registry keys below HKEY_LOCAL_MACHINE, each owned by one object that
// closes it when it goes: an existing key opened for reading (RegReader), a
// key created or opened with full access (RegWriter). Both hold their key
// with room for its longest subkey and value names, made on every
// successful open or create (two RegQueryInfoKeyW calls that follow every
// open; nothing in setup.exe enumerates names). Key paths are UTF-16, as
// setup.ini gives them.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "base/unique_handle.h"

namespace vantu {

class NameBuffer {
 public:
  NameBuffer(const NameBuffer&) = delete;
  NameBuffer& operator=(const NameBuffer&) = delete;
  ~NameBuffer() = default;

  HKEY key() const { return key_; }
  const wchar_t* buffer() const { return buffer_.get(); }
  // The longest name in characters plus 1 for the terminator; 0 when the
  // key could not be queried (and there is then no buffer).
  uint32_t length() const { return length_; }

 protected:
  enum class Names { kSubKeys, kValues };
  NameBuffer(HKEY key, Names names);

 private:
  HKEY key_;  // the owner's handle, not owned
  std::unique_ptr<wchar_t[]> buffer_;
  uint32_t length_ = 0;
};

class SubKeyNameBuffer : public NameBuffer {
 public:
  explicit SubKeyNameBuffer(HKEY key) : NameBuffer(key, Names::kSubKeys) {}
};

class ValueNameBuffer : public NameBuffer {
 public:
  explicit ValueNameBuffer(HKEY key) : NameBuffer(key, Names::kValues) {}
};

// The one owner of an open key, with its two name buffers: what RegReader
// and RegWriter hold. Not copyable.
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
