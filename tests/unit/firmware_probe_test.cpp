#include "acpi/firmware_probe.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vantu {
namespace {

// A package: 4 bytes not examined, N, then elements of (2 bytes, L, value,
// L - 4 more bytes when L > 4).
class Package {
 public:
  explicit Package(uint32_t count) {
    Put32(0xDEADBEEF);
    Put32(count);
  }
  Package& Element(uint16_t length, uint32_t value) {
    Put16(0x7777);
    Put16(length);
    Put32(value);
    const size_t extra = length < 5 ? 4 : length;
    bytes_.insert(bytes_.end(), extra, 0xEE);
    return *this;
  }
  std::vector<BYTE> Bytes(size_t size = kMbifBufferSize) const {
    std::vector<BYTE> padded = bytes_;
    padded.resize(std::max(size, padded.size()), 0);
    padded.resize(size);
    return padded;
  }

 private:
  void Put16(uint16_t v) {
    bytes_.push_back(static_cast<BYTE>(v));
    bytes_.push_back(static_cast<BYTE>(v >> 8));
  }
  void Put32(uint32_t v) {
    Put16(static_cast<uint16_t>(v));
    Put16(static_cast<uint16_t>(v >> 16));
  }
  std::vector<BYTE> bytes_;
};

struct Walked {
  size_t count;
  std::vector<ULONG> values;
};

Walked WalkOf(const std::vector<BYTE>& bytes, size_t capacity) {
  std::vector<ULONG> values(capacity + 1, 0xCAFECAFE);
  const size_t count = WalkMbifPackage(bytes.data(), bytes.size(), values.data(), capacity);
  return {count, values};
}

TEST(FirmwareProbeTest, ThirdElementOfWellFormedPackages) {
  struct Case {
    const char* name;
    Package package;
    ULONG expected;
  };
  const Case cases[] = {
      {"three short elements", Package(3).Element(4, 1).Element(4, 2).Element(4, 0x200), 0x200},
      {"second element long", Package(3).Element(4, 1).Element(16, 2).Element(4, 0x1FF), 0x1FF},
      {"first element of 5 bytes: no rounding", Package(3).Element(5, 1).Element(4, 2).Element(4, 0xFF00), 0xFF00},
      {"first element of 6 bytes", Package(3).Element(6, 1).Element(0, 2).Element(2, 0x12345678), 0x12345678},
      {"six elements: only the third", Package(6).Element(4, 1).Element(4, 2).Element(4, 3).Element(4, 4)
           .Element(4, 5).Element(4, 6), 3},
      {"longest element", Package(3).Element(0xFFFF, 1).Element(4, 2).Element(4, 9), 9},
  };
  for (const Case& c : cases) {
    const auto bytes = c.package.Bytes(c.name[0] == 'l' ? 0x10100 : kMbifBufferSize);
    const Walked walked = WalkOf(bytes, 1);
    EXPECT_EQ(1u, walked.count) << c.name;
    EXPECT_EQ(c.expected, walked.values[0]) << c.name;
    EXPECT_EQ(0xCAFECAFEu, walked.values[1]) << c.name;  // capacity respected
  }
}

TEST(FirmwareProbeTest, OffsetsFollowTheLengths) {
  // N = 3, element 1 with L = 4, element 2 with L = 16: element 3 at 44, its
  // value at 48.
  auto bytes = Package(3).Element(4, 1).Element(16, 2).Element(4, 0).Bytes();
  bytes[48] = 0x34;
  bytes[49] = 0x12;
  EXPECT_EQ(0x1234u, WalkOf(bytes, 1).values[0]);
  // Element 1 with L = 5 takes 13 bytes: element 2 starts at 21 and takes
  // 12, so element 3's value is at 37.
  std::vector<BYTE> odd(kMbifBufferSize, 0);
  odd[4] = 3;
  odd[8 + 2] = 5;
  odd[21 + 2] = 4;
  odd[33 + 2] = 4;
  odd[37] = 0x00;
  odd[38] = 0x02;
  EXPECT_EQ(0x200u, WalkOf(odd, 1).values[0]);
}

TEST(FirmwareProbeTest, NothingWithoutAThirdElement) {
  struct Case {
    const char* name;
    std::vector<BYTE> bytes;
  };
  const Case cases[] = {
      {"N = 2", Package(2).Element(4, 1).Element(4, 2).Element(4, 0x200).Bytes()},
      {"N = 1", Package(1).Element(4, 1).Element(4, 2).Element(4, 0x200).Bytes()},
      {"N = 0", Package(0).Element(4, 1).Element(4, 2).Element(4, 0x200).Bytes()},
      {"all zeros", std::vector<BYTE>(kMbifBufferSize, 0)},
      {"shorter than the header", std::vector<BYTE>(7, 3)},
      {"empty", std::vector<BYTE>()},
      {"element 1 runs past the end", Package(3).Element(4090, 1).Bytes()},
      {"element 2 runs past the end", Package(3).Element(4, 1).Element(4080, 2).Bytes()},
      {"third value cut by the end", Package(3).Element(4, 1).Element(4, 2).Element(4, 0x200).Bytes(8 + 24 + 6)},
      {"third header cut by the end", Package(3).Element(4, 1).Element(4, 2).Bytes(8 + 24 + 2)},
  };
  for (const Case& c : cases) {
    const Walked walked = WalkOf(c.bytes, 1);
    EXPECT_EQ(0u, walked.count) << c.name;
    EXPECT_EQ(0xCAFECAFEu, walked.values[0]) << c.name;
  }
}

TEST(FirmwareProbeTest, LargerCapacityCollectsUpToNMinusTwo) {
  const auto bytes = Package(5).Element(4, 1).Element(4, 2).Element(4, 3).Element(7, 4).Element(4, 5)
                         .Element(4, 6).Bytes();
  const Walked walked = WalkOf(bytes, 8);
  EXPECT_EQ(3u, walked.count);
  EXPECT_EQ((std::vector<ULONG>{3, 4, 5}), std::vector<ULONG>(walked.values.begin(), walked.values.begin() + 3));
  EXPECT_EQ(0xCAFECAFEu, walked.values[3]);
  // A count that claims more elements than the buffer holds stops at its end.
  // The zeros after element 3 read as one more element of 12 bytes.
  const auto lying = Package(0xFFFFFFFF).Element(4, 1).Element(4, 2).Element(4, 3).Bytes(8 + 36 + 12);
  const Walked all = WalkOf(lying, 100);
  EXPECT_EQ(2u, all.count);
  EXPECT_EQ(3u, all.values[0]);
  EXPECT_EQ(0u, all.values[1]);
}

}  // namespace
}  // namespace vantu
