#include "acpi/dispatch.h"

#include <gtest/gtest.h>

#include <string>

#include "acpi/byte_array.h"
#include "tests/support/scratch.h"
#include "tests/support/scripted_component.h"

namespace vantu {
namespace {

using test_support::Bytes;
using test_support::Hex;
using test_support::MethodScript;
using test_support::ScriptedComponent;

class DispatchTest : public test_support::PlatformTest {
 protected:
  ~DispatchTest() override {
    EXPECT_EQ(1u, component.references());
    EXPECT_EQ(0, component.over_releases());
  }
  ScriptedComponent component;
};

TEST_F(DispatchTest, ArgumentsTravelReversedWithTheirReferences) {
  ULONG value = 0x1234;
  const VARIANT arguments[] = {UnsignedArgument(5), UnsignedArgument(7), UnsignedReference(&value)};
  component.scripts[L"iAcpiGetItemEx"].value = 0xBEEF;
  EXPECT_EQ(S_OK, CallMethod(&component, L"iAcpiGetItemEx", 3, arguments));

  ASSERT_EQ(1u, component.lookups.size());
  EXPECT_EQ(L"iAcpiGetItemEx", component.lookups[0].name);
  EXPECT_EQ(1u, component.lookups[0].count);
  EXPECT_EQ(static_cast<LCID>(0x0400), component.lookups[0].lcid);

  ASSERT_EQ(1u, component.calls.size());
  const auto& call = component.calls[0];
  EXPECT_EQ(static_cast<LCID>(0x0800), call.lcid);
  EXPECT_EQ(static_cast<WORD>(DISPATCH_METHOD), call.flags);
  EXPECT_EQ(0u, call.namedArguments);
  EXPECT_TRUE(call.resultSupplied);
  EXPECT_FALSE(call.exceptionRequested);
  EXPECT_FALSE(call.argumentErrorRequested);
  ASSERT_EQ(3u, call.arguments.size());
  EXPECT_EQ(VT_BYREF | VT_UI4, call.arguments[0].vt);
  EXPECT_EQ(&value, call.arguments[0].reference);  // the caller's own variable
  EXPECT_EQ(0x1234u, call.arguments[0].ui4);
  EXPECT_EQ(VT_UI4, call.arguments[1].vt);
  EXPECT_EQ(7u, call.arguments[1].ui4);
  EXPECT_EQ(VT_UI4, call.arguments[2].vt);
  EXPECT_EQ(5u, call.arguments[2].ui4);
  EXPECT_EQ(0xBEEFu, value);
}

TEST_F(DispatchTest, MethodWithoutArguments) {
  EXPECT_EQ(S_OK, CallMethod(&component, L"iAcpiInit", 0, nullptr));
  ASSERT_EQ(1u, component.calls.size());
  EXPECT_TRUE(component.calls[0].arguments.empty());
}

TEST_F(DispatchTest, LookupFailureEndsTheCall) {
  component.scripts[L"iAcpiSetItem"].unknownName = true;
  const VARIANT arguments[] = {UnsignedArgument(1), UnsignedArgument(2), UnsignedArgument(3)};
  EXPECT_EQ(DISP_E_UNKNOWNNAME, CallMethod(&component, L"iAcpiSetItem", 3, arguments));
  EXPECT_EQ(1u, component.lookups.size());
  EXPECT_TRUE(component.calls.empty());
}

TEST_F(DispatchTest, InvokeResultComesBackAsIs) {
  for (HRESULT result : {S_OK, S_FALSE, E_FAIL, static_cast<HRESULT>(0x80010108L), static_cast<HRESULT>(2)}) {
    component.scripts[L"iAcpiInit"].result = result;
    EXPECT_EQ(result, CallMethod(&component, L"iAcpiInit", 0, nullptr));
  }
}

TEST_F(DispatchTest, NullDispatchAndTooManyArguments) {
  EXPECT_EQ(E_FAIL, CallMethod(nullptr, L"iAcpiInit", 0, nullptr));
  VARIANT five[5] = {UnsignedArgument(1), UnsignedArgument(2), UnsignedArgument(3), UnsignedArgument(4),
                     UnsignedArgument(5)};
  EXPECT_EQ(E_INVALIDARG, CallMethod(&component, L"iAcpiInit", 5, five));
  EXPECT_TRUE(component.lookups.empty());
}

TEST_F(DispatchTest, BufferShapes) {
  ULONG length = 3;
  ByteArray array;
  ASSERT_TRUE(array.Create(length));
  BYTE bytes[3] = {1, 2, 3};
  ASSERT_TRUE(array.Fill(bytes, 3, false));

  EXPECT_EQ(S_OK, InvokeItemBuffer(&component, L"iAcpiGetItemBuffer", 11, 22, array.variant(), &length));
  EXPECT_EQ(S_OK, InvokeSelectorBuffer(&component, L"iAcpiGGrp", 33, array.variant(), &length));
  ASSERT_EQ(2u, component.calls.size());
  const auto& item = component.calls[0].arguments;
  ASSERT_EQ(4u, item.size());
  EXPECT_EQ(VT_BYREF | VT_UI4, item[0].vt);
  EXPECT_EQ(&length, item[0].reference);
  EXPECT_EQ(VT_BYREF | VT_VARIANT, item[1].vt);
  EXPECT_EQ(array.variant(), item[1].reference);
  EXPECT_EQ(VT_ARRAY | VT_I1, item[1].referencedVt);
  EXPECT_EQ("010203", Hex(item[1].arrayBytes));
  EXPECT_EQ(0, item[1].arrayLowerBound);
  EXPECT_EQ(22u, item[2].ui4);
  EXPECT_EQ(11u, item[3].ui4);
  const auto& selector = component.calls[1].arguments;
  ASSERT_EQ(3u, selector.size());
  EXPECT_EQ(VT_BYREF | VT_UI4, selector[0].vt);
  EXPECT_EQ(VT_BYREF | VT_VARIANT, selector[1].vt);
  EXPECT_EQ(33u, selector[2].ui4);
  EXPECT_EQ(S_OK, array.Clear());
}

// What comes back into a caller's buffer of 4 bytes (and 4 guard bytes)
// for everything a component may leave behind.
TEST_F(DispatchTest, CopyBackStaysInsideTheCapacityAndTheArray) {
  using Leave = MethodScript::Leave;
  struct Case {
    const char* name;
    Leave leave;
    std::string data;
    ULONG leftLength;
    std::string buffer;  // 4 bytes, then the guard
    ULONG copied;
  };
  const std::string guard = "\xA5\xA5\xA5\xA5";
  const Case cases[] = {
      {"echo", Leave::kSameArray, "", 4, std::string("\x10\x20\x30\x40", 4) + guard, 4},
      {"written in place", Leave::kSameArray, "\x01\x02", 2, std::string("\x01\x02\x30\x40", 4) + guard, 2},
      {"new longer array, length beyond capacity", Leave::kNewArray, "abcdefgh", 8, "abcd" + guard, 4},
      {"new shorter array, length beyond it", Leave::kNewArray, "ab", 4, std::string("ab\x30\x40", 4) + guard, 2},
      {"length zero", Leave::kNewArray, "abcd", 0, std::string("\x10\x20\x30\x40", 4) + guard, 0},
      {"byte array of another type", Leave::kUi1Array, "wxyz", 4, std::string("\x10\x20\x30\x40", 4) + guard, 0},
      {"number instead of array", Leave::kI4, "", 4, std::string("\x10\x20\x30\x40", 4) + guard, 0},
      {"nothing left", Leave::kEmpty, "", 4, std::string("\x10\x20\x30\x40", 4) + guard, 0},
      {"string left", Leave::kBstr, "", 4, std::string("\x10\x20\x30\x40", 4) + guard, 0},
  };
  for (const Case& c : cases) {
    BYTE buffer[8] = {0x10, 0x20, 0x30, 0x40, 0xA5, 0xA5, 0xA5, 0xA5};
    ULONG length = 4;
    ByteArray array;
    ASSERT_TRUE(array.Create(length));
    ASSERT_TRUE(array.Fill(buffer, length, false));
    auto& script = component.scripts[L"iAcpiGetItemBuffer"];
    script.leave = c.leave;
    script.data = c.data.empty() ? std::nullopt : std::optional<std::string>(c.data);
    script.length = c.leftLength;
    InvokeItemBuffer(&component, L"iAcpiGetItemBuffer", 0, 0, array.variant(), &length);
    EXPECT_EQ(c.leftLength, length) << c.name;
    EXPECT_EQ(c.copied, array.CopyBack(buffer, 4, length)) << c.name;
    EXPECT_EQ(Hex(c.buffer), Hex(std::string(reinterpret_cast<char*>(buffer), 8))) << c.name;
    EXPECT_EQ(S_OK, array.Clear()) << c.name;
  }
}

// An array at the ends of the LONG range: its upper bound wraps, its size
// must not.
TEST_F(DispatchTest, CopyBackOfArraysAtTheEndsOfTheBoundRange) {
  struct Case {
    const char* name;
    LONG lowerBound;
    std::string data;
    ULONG copied;
  };
  const Case cases[] = {
      {"empty array at -2^31", static_cast<LONG>(0x80000000u), "", 0},
      {"three bytes at 2^31 - 1", 0x7FFFFFFF, "xyz", 3},
      {"three bytes at -2^31", static_cast<LONG>(0x80000000u), "xyz", 3},
      {"two bytes at -1", -1, "ab", 2},
  };
  for (const Case& c : cases) {
    BYTE buffer[8] = {0x10, 0x20, 0x30, 0x40, 0xA5, 0xA5, 0xA5, 0xA5};
    ULONG length = 4;
    ByteArray array;
    ASSERT_TRUE(array.Create(length));
    ASSERT_TRUE(array.Fill(buffer, length, false));
    auto& script = component.scripts[L"iAcpiMbif"];
    script.leave = MethodScript::Leave::kNewArray;
    script.data = c.data;
    script.lowerBound = c.lowerBound;
    script.length = 64;  // more than the caller's capacity and the array
    const VARIANT arguments[] = {VariantReference(array.variant()), UnsignedReference(&length)};
    CallMethod(&component, L"iAcpiMbif", 2, arguments);
    EXPECT_EQ(c.copied, array.CopyBack(buffer, 4, length)) << c.name;
    EXPECT_EQ(Hex(c.data + std::string("\x10\x20\x30\x40", 4).substr(c.data.size()) + "\xA5\xA5\xA5\xA5"),
              Hex(std::string(reinterpret_cast<char*>(buffer), 8)))
        << c.name;
    EXPECT_EQ(S_OK, array.Clear()) << c.name;
  }
}

TEST_F(DispatchTest, GroupMarkerNeedsRoom) {
  BYTE buffer[2] = {0x00, 0x55};
  ByteArray array;
  ASSERT_TRUE(array.Create(2));
  ASSERT_TRUE(array.Fill(buffer, 2, true));
  EXPECT_EQ(0xE1, buffer[0]);
  BYTE untouched = 0x00;
  ByteArray empty;
  ASSERT_TRUE(empty.Create(0));
  ASSERT_TRUE(empty.Fill(&untouched, 0, true));
  EXPECT_EQ(0x00, untouched);
}

}  // namespace
}  // namespace vantu
