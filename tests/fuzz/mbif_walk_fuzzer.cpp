// The firmware package walk on arbitrary bytes: it reads only inside the
// package (the package and the destination are exactly as large as they
// claim, so AddressSanitizer sees any byte outside), stores at most
// `capacity` values and at most N - 2, nothing when N < 3, writes no slot
// at or after the count it returns, and every value it stores is the value
// word of elements 3, 4, ... in order.
//
// Input: byte 0 is the capacity (0 to 255), the rest is the package.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "acpi/firmware_probe.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

std::string Describe(size_t size, size_t capacity, size_t count, const fuzz_support::PackageReading& reading) {
  return "size " + std::to_string(size) + ", capacity " + std::to_string(capacity) + ", N " +
         std::to_string(reading.count) + ", returned " + std::to_string(count) + ", wanted " +
         std::to_string(reading.wanted) + ", readable " + std::to_string(reading.readable.size()) + ", whole " +
         std::to_string(reading.whole) + (reading.wellFormed ? ", well formed" : ", cut short");
}

// One walk with every destination slot preset to `sentinel`.
size_t Walk(const BYTE* package, size_t size, size_t capacity, ULONG sentinel,
            const fuzz_support::PackageReading& reading) {
  std::unique_ptr<ULONG[]> values(new ULONG[capacity]);
  for (size_t i = 0; i < capacity; ++i) values[i] = sentinel;
  const size_t count = vantu::WalkMbifPackage(package, size, values.get(), capacity);
  const std::string what = Describe(size, capacity, count, reading);

  CHECK(count <= capacity, what);
  if (!reading.countReadable || reading.count < 3) CHECK(count == 0, what);
  CHECK(count <= reading.wanted, what);
  // Never a value that is not inside the package.
  CHECK(count <= reading.readable.size(), what);
  if (reading.wellFormed) {
    CHECK(count == reading.wanted, "every wanted element lies inside: " + what);
  } else {
    // Cut short: either nothing, or up to the last whole element (the value
    // of an element whose data runs past the end may still be taken).
    CHECK(count == 0 || count >= reading.whole, what);
  }
  for (size_t i = 0; i < count; ++i) {
    CHECK(values[i] == reading.readable[i], "value " + std::to_string(i) + " is " + std::to_string(values[i]) +
                                                ", element " + std::to_string(i + 3) + " holds " +
                                                std::to_string(reading.readable[i]) + "; " + what);
  }
  for (size_t i = count; i < capacity; ++i) {
    CHECK(values[i] == sentinel, "slot " + std::to_string(i) + " written beyond the count; " + what);
  }
  return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t capacity = data[0];
  const size_t packageSize = size - 1;
  // Exactly as large as the package: any read beyond it is caught.
  std::unique_ptr<BYTE[]> package(new BYTE[packageSize]);
  if (packageSize) std::memcpy(package.get(), data + 1, packageSize);

  const auto reading = fuzz_support::ReadPackage(package.get(), packageSize, capacity);
  const size_t first = Walk(package.get(), packageSize, capacity, 0xA5A5A5A5u, reading);
  const size_t second = Walk(package.get(), packageSize, capacity, 0x5A5A5A5Au, reading);
  CHECK(first == second, "the walk depends on what the destination held before");
  return 0;
}
