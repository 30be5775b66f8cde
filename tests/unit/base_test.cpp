#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "base/little_endian.h"
#include "base/unique_handle.h"

namespace vantu {
namespace {

// Resources are small numbers; 0 owns nothing. Every release is written down.
std::vector<int>& Released() {
  static std::vector<int> released;
  return released;
}

struct CountingPolicy {
  using Type = int;
  static Type Invalid() { return 0; }
  static void Close(int resource) { Released().push_back(resource); }
};

// Like a search or a file: the invalid value is not null.
struct MinusOnePolicy {
  using Type = int;
  static Type Invalid() { return -1; }
  static void Close(int resource) { Released().push_back(resource); }
};

using Owner = UniqueHandle<CountingPolicy>;

class UniqueHandleTest : public ::testing::Test {
 protected:
  UniqueHandleTest() { Released().clear(); }
};

TEST_F(UniqueHandleTest, ReleasesOnceWhenDestroyed) {
  {
    const Owner owner(7);
    EXPECT_TRUE(owner);
    EXPECT_EQ(7, owner.get());
    EXPECT_TRUE(Released().empty());
  }
  EXPECT_EQ(std::vector<int>{7}, Released());
}

TEST_F(UniqueHandleTest, NothingOwnedIsNeverReleased) {
  {
    const Owner empty;
    const Owner invalid(0);
    EXPECT_FALSE(empty);
    EXPECT_FALSE(invalid);
  }
  {
    const UniqueHandle<MinusOnePolicy> none(-1);
    const UniqueHandle<MinusOnePolicy> zero(0);  // 0 is a resource here
    EXPECT_FALSE(none);
    EXPECT_TRUE(zero);
  }
  EXPECT_EQ(std::vector<int>{0}, Released());
}

TEST_F(UniqueHandleTest, ResetReleasesTheOldOneNow) {
  Owner owner(1);
  owner.reset(2);
  EXPECT_EQ(std::vector<int>{1}, Released());
  EXPECT_EQ(2, owner.get());
  owner.reset();
  EXPECT_EQ((std::vector<int>{1, 2}), Released());
  EXPECT_FALSE(owner);
  owner.reset();  // nothing left: nothing more released
  EXPECT_EQ((std::vector<int>{1, 2}), Released());
}

TEST_F(UniqueHandleTest, ReleaseGivesUpOwnership) {
  int kept = 0;
  {
    Owner owner(5);
    kept = owner.release();
    EXPECT_FALSE(owner);
  }
  EXPECT_EQ(5, kept);
  EXPECT_TRUE(Released().empty());
}

TEST_F(UniqueHandleTest, MovingHandsOverWithoutReleasing) {
  {
    Owner first(3);
    Owner second(std::move(first));
    EXPECT_FALSE(first);  // a moved-from owner is empty
    EXPECT_EQ(3, second.get());
    Owner third(4);
    third = std::move(second);  // 4 goes now, 3 moves on
    EXPECT_EQ(std::vector<int>{4}, Released());
    EXPECT_EQ(3, third.get());
    Owner& alias = third;
    third = std::move(alias);  // onto itself: still owned, not released
    EXPECT_EQ(3, third.get());
    EXPECT_EQ(std::vector<int>{4}, Released());
  }
  EXPECT_EQ((std::vector<int>{4, 3}), Released());
}

TEST(LittleEndianTest, LowByteFirstWithHighBitsKept) {
  const unsigned char bytes[] = {0x78, 0x56, 0x34, 0x12, 0xFF, 0x80, 0x01, 0xFE};
  EXPECT_EQ(0x12345678u, ReadLittleEndian32(bytes));
  EXPECT_EQ(0xFE0180FFu, ReadLittleEndian32(bytes + 4));
  EXPECT_EQ(0x5678u, ReadLittleEndian16(bytes));
  EXPECT_EQ(0x80FFu, ReadLittleEndian16(bytes + 4));
  EXPECT_EQ(0xFE01u, ReadLittleEndian16(bytes + 6));
}

}  // namespace
}  // namespace vantu
