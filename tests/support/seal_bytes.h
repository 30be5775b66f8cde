// Seal manifests as bytes, written field by field, for the tests and the
// fuzz target: good ones and every kind of broken one.
#pragma once

#include <cstdint>
#include <string>

namespace test_support {

class SealBytes {
 public:
  // The header: magic, format version, reserved field, count.
  SealBytes& Header(uint32_t count, uint16_t version = 1, uint16_t reserved = 0, const char* magic = "SEAL") {
    bytes_.append(magic, 4);
    return Number(version, 2).Number(reserved, 2).Number(count, 4);
  }
  // One entry; `length` overrides the name's stated length in code units.
  SealBytes& Entry(const std::u16string& name, uint64_t size, unsigned char digestFill,
                   int64_t length = -1) {
    Number(length < 0 ? name.size() : static_cast<uint64_t>(length), 2);
    for (const char16_t unit : name) Number(unit, 2);
    Number(size, 8);
    bytes_.append(32, static_cast<char>(digestFill));
    return *this;
  }
  SealBytes& Number(uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) bytes_ += static_cast<char>(value >> (8 * i) & 0xFF);
    return *this;
  }
  SealBytes& Raw(const std::string& bytes) {
    bytes_ += bytes;
    return *this;
  }
  const std::string& bytes() const { return bytes_; }

 private:
  std::string bytes_;
};

}  // namespace test_support
