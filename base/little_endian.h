// Numbers stored little-endian in byte buffers (the firmware package, the
// selector of a method call), read without regard to alignment or to the
// byte order of the machine.
#pragma once

#include <cstdint>

namespace vantu {

inline uint16_t ReadLittleEndian16(const unsigned char* bytes) {
  return static_cast<uint16_t>(bytes[0] | bytes[1] << 8);
}

inline uint32_t ReadLittleEndian32(const unsigned char* bytes) {
  return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
         static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

}  // namespace vantu
