// Room for one subkey name or one value name of an open key, sized by the
// key's longest name.
//
// Both key classes make the two buffers on every successful open or create,
// so that whoever enumerates a key's names finds room ready for the longest
// one. Nothing in setup.exe enumerates names, and nothing reads the buffers:
// what they leave behind are the two RegQueryInfoKeyW calls that follow
// every open, a fixed part of the key classes' platform calls. That is
// deliberate; a query that fails leaves an empty buffer and the open still
// succeeds.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>

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

}  // namespace vantu
