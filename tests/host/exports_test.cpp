// The nine exports against a scripted component registered as the local
// server, with the platform's call log and faults.
#include "acpi/exports.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

#include "acpi/firmware_probe.h"
#include "fake_win32/control.h"
#include "tests/support/scratch.h"
#include "tests/support/scripted_component.h"

namespace vantu {
namespace {

using test_support::Bytes;
using test_support::Hex;
using test_support::MethodScript;
using test_support::ScriptedComponent;

class ExportsTest : public test_support::PlatformTest {
 protected:
  ExportsTest() {
    test_support::RegisterAsBridgeComponent(&component);
    CoInitialize(nullptr);
  }
  ~ExportsTest() override {
    EXPECT_EQ(1u, component.references()) << "an instance was not released";
    EXPECT_EQ(0, component.over_releases()) << "an instance was released twice";
  }

  std::string Buffer(const BYTE* bytes, size_t size) { return Hex(std::string(reinterpret_cast<const char*>(bytes), size)); }

  ScriptedComponent component;
};

TEST_F(ExportsTest, ScalarCallsReachTheirMethods) {
  ULONG value = 1;
  EXPECT_EQ(1u, AcpiInit());
  component.scripts[L"iAcpiGetItem"].value = 0x42;
  EXPECT_EQ(1u, AcpiGetItem(9, &value));
  EXPECT_EQ(0x42u, value);
  component.scripts[L"iAcpiGetItemEx"].value = 0x43;
  EXPECT_EQ(1u, AcpiGetItemEx(5, 7, &value));
  EXPECT_EQ(0x43u, value);
  EXPECT_EQ(1u, AcpiSetItem(1, 2, 3));

  ASSERT_EQ(4u, component.calls.size());
  EXPECT_EQ(L"iAcpiInit", component.calls[0].method);
  EXPECT_TRUE(component.calls[0].arguments.empty());
  EXPECT_EQ(L"iAcpiGetItem", component.calls[1].method);
  ASSERT_EQ(2u, component.calls[1].arguments.size());
  EXPECT_EQ(VT_BYREF | VT_UI4, component.calls[1].arguments[0].vt);
  EXPECT_EQ(9u, component.calls[1].arguments[1].ui4);
  const auto& ex = component.calls[2].arguments;  // [reference to v, 7, 5]
  ASSERT_EQ(3u, ex.size());
  EXPECT_EQ(&value, ex[0].reference);
  EXPECT_EQ(7u, ex[1].ui4);
  EXPECT_EQ(5u, ex[2].ui4);
  const auto& set = component.calls[3].arguments;
  ASSERT_EQ(3u, set.size());
  EXPECT_EQ(3u, set[0].ui4);
  EXPECT_EQ(2u, set[1].ui4);
  EXPECT_EQ(1u, set[2].ui4);
}

TEST_F(ExportsTest, EveryCallMakesItsOwnInstance) {
  AcpiInit();
  ULONG value = 0;
  AcpiGetItem(1, &value);
  EXPECT_EQ(2, fake_win32::CallCount("CLSIDFromProgID"));
  EXPECT_EQ(2, fake_win32::CallCount("CoCreateInstance"));
  const auto create = fake_win32::CallsTo("CoCreateInstance")[0].args;
  EXPECT_EQ("(null)", create[1]);  // no outer object
  EXPECT_EQ("0x4", create[2]);     // local server only
  EXPECT_EQ("{00020400-0000-0000-C000-000000000046}", create[3]);
  EXPECT_EQ("trelvoCom.axdata", fake_win32::CallsTo("CLSIDFromProgID")[0].args[0]);
}

TEST_F(ExportsTest, FailedMethodCall) {
  component.scripts[L"iAcpiInit"].result = E_FAIL;
  component.scripts[L"iAcpiGetItemBuffer"].result = E_FAIL;
  EXPECT_EQ(0u, AcpiInit());  // a scalar call reports it
  BYTE buffer[2] = {1, 2};
  ULONG length = 2;
  EXPECT_EQ(1u, AcpiGetItemBuffer(0, 0, buffer, &length));  // a buffer call does not
}

TEST_F(ExportsTest, BufferCallsExchangeTheCallersBytes) {
  struct Case {
    const char* name;
    std::function<ULONG(BYTE*, ULONG*)> call;
    const wchar_t* method;
    size_t leading;  // values before the array
  };
  const BYTE selector[4] = {0x78, 0x56, 0x34, 0x12};
  const Case cases[] = {
      {"GetItemBuffer", [](BYTE* b, ULONG* l) { return AcpiGetItemBuffer(3, 4, b, l); }, L"iAcpiGetItemBuffer", 2},
      {"SetItemBuffer", [](BYTE* b, ULONG* l) { return AcpiSetItemBuffer(3, 4, b, l); }, L"iAcpiSetItemBuffer", 2},
      {"Mbif", [](BYTE* b, ULONG* l) { return AcpiMbif(b, l); }, L"iAcpiMbif", 0},
      {"GGrp", [](BYTE* b, ULONG* l) { return AcpiGGrp(6, b, l); }, L"iAcpiGGrp", 1},
      {"CallMethod", [&selector](BYTE* b, ULONG* l) { return AcpiCallMethod(selector, b, l); }, L"iAcpiCallMethod", 1},
  };
  for (const Case& c : cases) {
    component.calls.clear();
    auto& script = component.scripts[c.method];
    script.leave = MethodScript::Leave::kNewArray;
    script.data = Bytes("a1 a2 a3");
    BYTE buffer[8] = {0x10, 0x20, 0x30, 0x40, 0x50, 0xA5, 0xA5, 0xA5};
    ULONG length = 5;
    EXPECT_EQ(1u, c.call(buffer, &length)) << c.name;
    EXPECT_EQ(3u, length) << c.name;
    const std::string first = std::wstring(c.method) == L"iAcpiGGrp" ? "e1" : "10";
    EXPECT_EQ("a1a2a3" "4050" "a5a5a5", Buffer(buffer, 8)) << c.name;
    ASSERT_EQ(1u, component.calls.size()) << c.name;
    const auto& arguments = component.calls[0].arguments;
    ASSERT_EQ(c.leading + 2, arguments.size()) << c.name;
    EXPECT_EQ(VT_BYREF | VT_UI4, arguments[0].vt);
    EXPECT_EQ(&length, arguments[0].reference);
    EXPECT_EQ(5u, arguments[0].ui4);  // the capacity went out as the length
    EXPECT_EQ(VT_BYREF | VT_VARIANT, arguments[1].vt);
    EXPECT_EQ(VT_ARRAY | VT_I1, arguments[1].referencedVt);
    EXPECT_EQ(first + "20304050", Hex(arguments[1].arrayBytes)) << c.name;
    if (c.leading == 2) {
      EXPECT_EQ(4u, arguments[2].ui4);
      EXPECT_EQ(3u, arguments[3].ui4);
    }
    if (std::wstring(c.method) == L"iAcpiCallMethod") {
      EXPECT_EQ(0x12345678u, arguments[2].ui4);  // little-endian: the first byte lowest
    }
    if (std::wstring(c.method) == L"iAcpiGGrp") {
      EXPECT_EQ(6u, arguments[2].ui4);
    }
  }
  EXPECT_TRUE(fake_win32::OpenResources().empty());
}

TEST_F(ExportsTest, LengthZeroSendsAnEmptyArray) {
  BYTE untouched[2] = {0x11, 0x22};
  ULONG length = 0;
  EXPECT_EQ(1u, AcpiGGrp(1, untouched, &length));
  EXPECT_EQ("1122", Buffer(untouched, 2));  // no room for the marker: nothing written
  ASSERT_EQ(1u, component.calls.size());
  EXPECT_EQ("", component.calls[0].arguments[1].arrayBytes);
  length = 0;
  EXPECT_EQ(1u, AcpiMbif(nullptr, &length));  // a null buffer of length 0 is fine
}

TEST_F(ExportsTest, UnsafeArgumentsCallNothing) {
  BYTE buffer[4] = {};
  ULONG length = 4;
  const BYTE selector[4] = {};
  EXPECT_EQ(0u, AcpiGetItemBuffer(0, 0, nullptr, &length));
  EXPECT_EQ(0u, AcpiSetItemBuffer(0, 0, buffer, nullptr));
  EXPECT_EQ(0u, AcpiMbif(nullptr, &length));
  EXPECT_EQ(0u, AcpiGGrp(0, nullptr, &length));
  EXPECT_EQ(0u, AcpiCallMethod(nullptr, buffer, &length));
  EXPECT_EQ(0u, AcpiCallMethod(selector, buffer, nullptr));
  EXPECT_EQ(0u, AcpiGetItem(0, nullptr));
  EXPECT_EQ(0u, AcpiGetItemEx(0, 0, nullptr));
  EXPECT_EQ(0, fake_win32::CallCount("CoCreateInstance"));
}

TEST_F(ExportsTest, WithoutTheComponentNothingChanges) {
  struct Failure {
    const char* function;
    uint32_t error;
  };
  const Failure failures[] = {{"CLSIDFromProgID", static_cast<uint32_t>(CO_E_CLASSSTRING)},
                              {"CoCreateInstance", static_cast<uint32_t>(REGDB_E_CLASSNOTREG)},
                              {"CoCreateInstance", static_cast<uint32_t>(0x800706BF)}};
  for (const auto& failure : failures) {
    fake_win32::FailEveryCall(failure.function, failure.error);
    BYTE buffer[4] = {1, 2, 3, 4};
    ULONG length = 4;
    ULONG value = 77;
    const BYTE selector[4] = {9, 9, 9, 9};
    EXPECT_EQ(0u, AcpiInit());
    EXPECT_EQ(0u, AcpiGetItem(1, &value));
    EXPECT_EQ(0u, AcpiGetItemEx(1, 2, &value));
    EXPECT_EQ(0u, AcpiSetItem(1, 2, 3));
    EXPECT_EQ(0u, AcpiGetItemBuffer(1, 2, buffer, &length));
    EXPECT_EQ(0u, AcpiSetItemBuffer(1, 2, buffer, &length));
    EXPECT_EQ(0u, AcpiMbif(buffer, &length));
    EXPECT_EQ(0u, AcpiGGrp(1, buffer, &length));
    EXPECT_EQ(0u, AcpiCallMethod(selector, buffer, &length));
    EXPECT_EQ("01020304", Buffer(buffer, 4)) << failure.function;
    EXPECT_EQ(4u, length);
    EXPECT_EQ(77u, value);
    EXPECT_TRUE(component.calls.empty());
    fake_win32::Reset();
    test_support::RegisterAsBridgeComponent(&component);
    CoInitialize(nullptr);
  }
}

TEST_F(ExportsTest, UninitialisedThreadCannotCreateAnInstance) {
  ULONG result = 99;
  std::thread other([&result] { result = AcpiInit(); });
  other.join();
  EXPECT_EQ(0u, result);
  EXPECT_EQ(1u, AcpiInit());  // this thread is initialised
}

// Every way a buffer call can end early or late: the instance is released
// exactly once (checked by the fixture) and every array destroyed.
TEST_F(ExportsTest, LifecycleOnEveryPath) {
  struct Path {
    const char* name;
    const char* function;
    int occurrence;
    uint32_t error;
    ULONG result;
  };
  const Path paths[] = {
      {"array not created", "SafeArrayCreate", 1, 0, 0},
      {"array not locked for filling", "SafeArrayAccessData", 1, static_cast<uint32_t>(E_UNEXPECTED), 0},
      {"array not locked for copying back", "SafeArrayAccessData", 2, static_cast<uint32_t>(E_UNEXPECTED), 1},
      {"result not cleared", "VariantClear", 1, static_cast<uint32_t>(DISP_E_BADVARTYPE), 1},
      {"array not cleared", "VariantClear", 2, static_cast<uint32_t>(DISP_E_BADVARTYPE), 0},
      {"bounds unreadable", "SafeArrayGetUBound", 1, static_cast<uint32_t>(E_INVALIDARG), 1},
  };
  for (const Path& path : paths) {
    fake_win32::FailCall(path.function, path.occurrence, path.error);
    BYTE buffer[4] = {1, 2, 3, 4};
    ULONG length = 4;
    EXPECT_EQ(path.result, AcpiMbif(buffer, &length)) << path.name;
    EXPECT_TRUE(fake_win32::OpenResources().empty()) << path.name;
    EXPECT_EQ(1u, component.references()) << path.name;
    fake_win32::Reset();
    test_support::RegisterAsBridgeComponent(&component);
    CoInitialize(nullptr);
  }
}

TEST_F(ExportsTest, ReplacedArrayIsTheOneDestroyed) {
  component.scripts[L"iAcpiMbif"].leave = MethodScript::Leave::kNewArray;
  component.scripts[L"iAcpiMbif"].data = Bytes("01 02");
  BYTE buffer[4] = {};
  ULONG length = 4;
  EXPECT_EQ(1u, AcpiMbif(buffer, &length));
  EXPECT_EQ(1, fake_win32::CallCount("SafeArrayCreate"));  // the component's own is off the record
  EXPECT_EQ("0102", Buffer(buffer, 2));                    // read from the new one
  EXPECT_TRUE(fake_win32::OpenResources().empty());         // and both are gone
}

TEST_F(ExportsTest, ProbeReadsTheThirdElementThroughMbif) {
  // N = 3; three short elements; element 3 holds 0x0203.
  component.scripts[L"iAcpiMbif"].data =
      Bytes("00000000 03000000  0000 0400 01000000 00000000  0000 0400 02000000 00000000  0000 0400 03020000");
  ULONG word = 0;
  ReadMbifValues(&word, 1);
  EXPECT_EQ(0x0203u, word);
  ASSERT_EQ(1u, component.calls.size());
  EXPECT_EQ(4096u, component.calls[0].arguments[0].ui4);
  EXPECT_EQ(std::string(4096, '\0'), component.calls[0].arguments[1].arrayBytes);  // zero-filled
}

TEST_F(ExportsTest, ProbeLeavesTheWordWhenNothingComesBack) {
  ULONG word = 0;
  component.scripts[L"iAcpiMbif"].result = E_FAIL;  // nothing written: zeros walk to nothing
  ReadMbifValues(&word, 1);
  EXPECT_EQ(0u, word);
  fake_win32::FailEveryCall("CoCreateInstance", static_cast<uint32_t>(REGDB_E_CLASSNOTREG));
  word = 0x5555;
  ReadMbifValues(&word, 1);
  EXPECT_EQ(0x5555u, word);
}

}  // namespace
}  // namespace vantu
