// The bridge's buffer exports (AcpiGetItemBuffer, AcpiSetItemBuffer,
// AcpiMbif, AcpiGGrp, AcpiCallMethod, and the firmware probe through
// AcpiMbif) against a component whose behaviour comes from the input: what
// it leaves in the referenced VARIANT (the same array written, a new array of
// any size, lower bound, element type or number of dimensions, no array at
// all, a number, a string, an object), the length it leaves, its HRESULT;
// also a component that is missing, cannot start, is registered in-process
// only, a thread that is not initialised, and platform calls made to fail.
//
// Checked on every call: nothing is written outside the caller's buffer
// (canary bytes after it, poisoned for AddressSanitizer, stay intact; the
// selector is read from exactly 4 bytes); the result is 0 or 1; the
// component was called as the bridge's contract says (method, locales, a
// VT_ARRAY | VT_I1 array of exactly the caller's bytes with lower bound 0,
// the caller's length variable, the leading values); afterwards no array,
// string or handle is left, nothing was released twice, and the component's
// reference count is back where it started. Without faults, the result and
// the bytes copied back are exactly what the rules give: the first
// min(capacity, length left, size of the array left) bytes of a VT_I1 array
// left behind, nothing from anything else; a missing component changes
// nothing at all.
#include <fuzzer/FuzzedDataProvider.h>
#include <sanitizer/asan_interface.h>

#include <windows.h>
#include <oleauto.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "acpi/exports.h"
#include "acpi/firmware_probe.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/support/scripted_component.h"

namespace {

using fuzz_support::Shown;
using test_support::MethodScript;
using test_support::ScriptedComponent;
using test_support::SeenArgument;
using test_support::SeenCall;
using test_support::SeenLookup;

const CLSID kClsid = {0x3C1F0A52, 0x77E4, 0x4B0D, {0x8A, 0x61, 0x2F, 0x90, 0x14, 0xC3, 0x5B, 0x7E}};
constexpr size_t kCanarySize = 16;
constexpr BYTE kCanaryByte = 0xCB;
constexpr ULONG kWordSentinel = 0x5EADBEEFu;


enum class Leave : uint8_t {
  kSameArray,       // the caller's array, written
  kSameArrayBound,  // the caller's array, written, its lower bound changed
  kNewI1,
  kNewUi1,
  kNewI4,
  kTwoDimensions,   // VT_ARRAY | VT_I1, two dimensions
  kI1HoldingUi1,    // VT_ARRAY | VT_I1 around an array made as VT_UI1
  kI1HoldingI4,     // VT_ARRAY | VT_I1 around an array of 4-byte elements
  kNullArray,       // VT_ARRAY | VT_I1 without an array
  kEmpty,
  kI4,
  kBstr,
  kDispatch,        // the component itself, with a reference
  kMaxValue = kDispatch,
};

enum class Result : uint8_t { kNone, kI4, kBstr, kArray, kMaxValue = kArray };

struct Plan {
  bool unknownName = false;
  HRESULT hr = S_OK;
  Leave leave = Leave::kSameArray;
  Result result = Result::kNone;
  bool setLength = false;
  ULONG length = 0;
  LONG lowerBounds[2] = {0, 0};
  ULONG elements[2] = {0, 0};
  std::string fill;
};

// What the bridge should have sent.
struct Expected {
  std::wstring method;
  std::vector<ULONG> leading;  // in parameter order
  ULONG capacity = 0;
  const ULONG* lengthVariable = nullptr;  // null: not known to the caller
  const std::string* sent = nullptr;      // null: content not checked
};

// What the component did, as it recorded it.
struct Record {
  int lookups = 0;
  int invocations = 0;
  VARTYPE leftVt = VT_EMPTY;
  bool leftArray = false;
  std::string leftBytes;  // every byte of the array left, as laid out
};

BYTE FillByte(const Plan& plan, size_t i) {
  return plan.fill.empty() ? static_cast<BYTE>(i * 37 + 11) : static_cast<BYTE>(plan.fill[i % plan.fill.size()]);
}

SAFEARRAY* NewArray(const Plan& plan, VARTYPE vt, UINT dimensions) {
  SAFEARRAYBOUND bounds[2];
  for (UINT d = 0; d < dimensions; ++d) {
    bounds[d].cElements = plan.elements[d];
    bounds[d].lLbound = plan.lowerBounds[d];
  }
  SAFEARRAY* made = SafeArrayCreate(vt, dimensions, bounds);
  if (made) {
    uint64_t bytes = made->cbElements;
    for (UINT d = 0; d < dimensions; ++d) bytes *= made->rgsabound[d].cElements;
    for (size_t i = 0; i < bytes; ++i) static_cast<BYTE*>(made->pvData)[i] = FillByte(plan, i);
  }
  return made;
}

void Replace(VARIANT* held, VARTYPE vt, SAFEARRAY* array) {
  VariantClear(held);
  if (!array) return;  // could not be made: left empty
  held->vt = vt;
  held->parray = array;
}

// What the component leaves in the VARIANT it got by reference.
void LeaveBehind(const Plan& plan, IDispatch* component, VARIANT* held) {
  switch (plan.leave) {
    case Leave::kSameArrayBound:
      held->parray->rgsabound[0].lLbound = plan.lowerBounds[0];
      [[fallthrough]];
    case Leave::kSameArray: {
      const size_t size = held->parray->rgsabound[0].cElements;
      for (size_t i = 0; i < std::min(size, plan.fill.size()); ++i) {
        static_cast<BYTE*>(held->parray->pvData)[i] = FillByte(plan, i);
      }
      break;
    }
    case Leave::kNewI1:
      Replace(held, VT_ARRAY | VT_I1, NewArray(plan, VT_I1, 1));
      break;
    case Leave::kNewUi1:
      Replace(held, VT_ARRAY | VT_UI1, NewArray(plan, VT_UI1, 1));
      break;
    case Leave::kNewI4:
      Replace(held, VT_ARRAY | VT_I4, NewArray(plan, VT_I4, 1));
      break;
    case Leave::kTwoDimensions:
      Replace(held, VT_ARRAY | VT_I1, NewArray(plan, VT_I1, 2));
      break;
    case Leave::kI1HoldingUi1:
      Replace(held, VT_ARRAY | VT_I1, NewArray(plan, VT_UI1, 1));
      break;
    case Leave::kI1HoldingI4:
      Replace(held, VT_ARRAY | VT_I1, NewArray(plan, VT_I4, 1));
      break;
    case Leave::kNullArray:
      VariantClear(held);
      held->vt = VT_ARRAY | VT_I1;
      held->parray = nullptr;
      break;
    case Leave::kEmpty:
      VariantClear(held);
      break;
    case Leave::kI4:
      VariantClear(held);
      held->vt = VT_I4;
      held->lVal = 7;
      break;
    case Leave::kBstr:
      VariantClear(held);
      held->bstrVal = SysAllocString(L"left behind");
      held->vt = held->bstrVal ? VT_BSTR : VT_EMPTY;
      break;
    case Leave::kDispatch:
      VariantClear(held);
      held->vt = VT_DISPATCH;
      held->pdispVal = component;
      component->AddRef();
      break;
  }
}

void SetResult(const Plan& plan, VARIANT* result) {
  switch (plan.result) {
    case Result::kNone:
      break;
    case Result::kI4:
      result->vt = VT_I4;
      result->lVal = 1;
      break;
    case Result::kBstr:
      result->bstrVal = SysAllocString(L"result");
      result->vt = result->bstrVal ? VT_BSTR : VT_EMPTY;
      break;
    case Result::kArray: {
      SAFEARRAYBOUND bound = {3, 0};
      result->parray = SafeArrayCreate(VT_UI1, 1, &bound);
      result->vt = result->parray ? VT_ARRAY | VT_UI1 : VT_EMPTY;
      break;
    }
  }
}

// Scripts the method the export should call: its lookup, its HRESULT, the
// length it leaves, what it leaves in the array's VARIANT and its result.
void Script(ScriptedComponent& component, const Plan& plan, const Expected& expected) {
  MethodScript script;
  script.unknownName = plan.unknownName;
  script.result = plan.hr;
  if (plan.setLength) script.length = plan.length;
  script.leaveWith = [plan, &component](VARIANT* held) { LeaveBehind(plan, &component, held); };
  script.answer = [plan](VARIANT* result) { SetResult(plan, result); };
  component.scripts[expected.method] = script;
}

// Checks, from what the component recorded, that the bridge called it as
// the contract says, and returns what the component did.
Record Examine(const ScriptedComponent& component, const Plan& plan, const Expected& expected) {
  Record record;
  record.lookups = static_cast<int>(component.lookups.size());
  record.invocations = component.invokes;
  for (const SeenLookup& lookup : component.lookups) {
    CHECK(lookup.nullInterface && lookup.count == 1 && lookup.lcid == LOCALE_USER_DEFAULT,
          "name lookup not as the contract says");
    CHECK(lookup.name == expected.method, "looked up another method than the export's");
  }
  CHECK(record.invocations <= 1 && (record.invocations == 0 || !plan.unknownName),
        "invoked more than once or after a failed lookup");
  CHECK(component.calls.size() == static_cast<size_t>(record.invocations), "invoked with an id not looked up");
  if (component.calls.empty()) return record;

  const SeenCall& call = component.calls[0];
  CHECK(call.method == expected.method && call.nullInterface && call.lcid == LOCALE_SYSTEM_DEFAULT &&
            call.flags == DISPATCH_METHOD,
        "call not as the contract says");
  CHECK(call.namedArguments == 0 && !call.namedArgumentIds, "named arguments passed");
  CHECK(call.resultSupplied && call.resultVt == VT_EMPTY && !call.exceptionRequested && !call.argumentErrorRequested,
        "result, exception or argument-error pointer not as the contract says");
  const size_t leading = expected.leading.size();
  CHECK(call.arguments.size() == leading + 2, "argument count " + std::to_string(call.arguments.size()));

  // Reversed: the length last in parameter order, so first here.
  const SeenArgument& length = call.arguments[0];
  const SeenArgument& array = call.arguments[1];
  CHECK(length.vt == (VT_BYREF | VT_UI4) && length.reference, "the length is not a VT_BYREF | VT_UI4");
  if (expected.lengthVariable) CHECK(length.reference == expected.lengthVariable, "not the caller's length variable");
  CHECK(length.ui4 == expected.capacity, "length on entry " + std::to_string(length.ui4));
  CHECK(array.vt == (VT_BYREF | VT_VARIANT) && array.reference, "the array is not a VT_BYREF | VT_VARIANT");
  CHECK(array.referencedVt == (VT_ARRAY | VT_I1) && array.arrayPresent,
        "the referenced VARIANT is not VT_ARRAY | VT_I1");
  CHECK(array.arrayDimensions == 1 && array.arrayElementSize == 1 && array.arrayLowerBound == 0 &&
            array.arrayElements == expected.capacity && array.arrayLocks == 0,
        "the array sent is not one unlocked dimension of the capacity with lower bound 0");
  if (expected.sent && expected.capacity) {
    CHECK(array.arrayBytes == *expected.sent, "the array does not hold the caller's bytes: " +
                                                  Shown(array.arrayBytes) + " instead of " + Shown(*expected.sent));
  }
  for (size_t i = 0; i < leading; ++i) {
    const SeenArgument& value = call.arguments[2 + i];
    CHECK(value.vt == VT_UI4 && value.ui4 == expected.leading[leading - 1 - i],
          "leading value " + std::to_string(leading - 1 - i) + " wrong or out of order");
  }
  record.leftVt = array.leftVt;
  record.leftArray = array.leftArray;
  record.leftBytes = array.leftBytes;
  return record;
}

enum class Presence : uint8_t {
  kPresent,
  kUnregistered,
  kServerFails,     // the class is there, its server does not start
  kInProcessOnly,   // registered, but not as a local server
  kCreationFails,   // CoCreateInstance refuses
  kProgIdFails,     // CLSIDFromProgID refuses
  kUninitialised,   // the thread is not initialised for the component model
  kMaxValue = kUninitialised,
};

enum class Export : uint8_t { kGetItemBuffer, kSetItemBuffer, kMbif, kGGrp, kCallMethod, kProbe, kMaxValue = kProbe };

Plan MakePlan(FuzzedDataProvider& input) {
  Plan plan;
  plan.unknownName = input.ConsumeIntegralInRange(0, 15) == 0;
  plan.hr = input.ConsumeBool() ? S_OK : static_cast<HRESULT>(input.ConsumeIntegral<uint32_t>());
  plan.leave = input.ConsumeEnum<Leave>();
  plan.result = input.ConsumeEnum<Result>();
  plan.setLength = input.ConsumeBool();
  plan.length = input.ConsumeBool() ? input.ConsumeIntegralInRange<ULONG>(0, 5000) : input.ConsumeIntegral<ULONG>();
  for (int d = 0; d < 2; ++d) {
    plan.lowerBounds[d] = input.ConsumeBool() ? input.ConsumeIntegralInRange<LONG>(-8, 8) : input.ConsumeIntegral<LONG>();
  }
  const ULONG largest = plan.leave == Leave::kTwoDimensions ? 128 : 8192;
  plan.elements[0] = input.ConsumeIntegralInRange<ULONG>(0, largest);
  plan.elements[1] = input.ConsumeIntegralInRange<ULONG>(0, 128);
  plan.fill = input.ConsumeRandomLengthString(512);
  return plan;
}

// The bridge's platform calls that can be made to fail on the way. The
// component's own calls are another process's and never fail here.
void InjectFault(FuzzedDataProvider& input) {
  static const char* const kFunctions[] = {"SafeArrayCreate",    "SafeArrayAccessData", "SafeArrayUnaccessData",
                                           "VariantClear",       "SafeArrayGetLBound",  "SafeArrayGetUBound"};
  const char* function = kFunctions[input.ConsumeIntegralInRange<size_t>(0, std::size(kFunctions) - 1)];
  fake_win32::FailCall(function, input.ConsumeIntegralInRange(1, 4), static_cast<uint32_t>(E_UNEXPECTED));
}

std::string Describe(Export which, Presence presence, const Plan& plan, ULONG capacity, bool faulted) {
  return "export " + std::to_string(static_cast<int>(which)) + ", presence " +
         std::to_string(static_cast<int>(presence)) + ", leave " + std::to_string(static_cast<int>(plan.leave)) +
         ", capacity " + std::to_string(capacity) + (plan.setLength ? ", length left " + std::to_string(plan.length) : "") +
         ", elements " + std::to_string(plan.elements[0]) + "x" + std::to_string(plan.elements[1]) + ", lower bound " +
         std::to_string(plan.lowerBounds[0]) + (plan.unknownName ? ", unknown name" : "") +
         (faulted ? ", with a fault" : "");
}

// The bytes the caller should find: the first k bytes of what the component
// left, the rest as sent.
std::string CopiedBack(const std::string& sent, const std::string& left, ULONG capacity, ULONG length) {
  const size_t k = std::min<uint64_t>({capacity, length, left.size()});
  return left.substr(0, k) + sent.substr(k);
}

void CheckBufferExport(ScriptedComponent& component, Export which, Presence presence, const Plan& plan,
                       FuzzedDataProvider& input, bool faulted) {
  const ULONG capacity = input.ConsumeIntegralInRange<ULONG>(0, 4096);
  const std::string initial = [&] {
    std::string bytes = input.ConsumeBytesAsString(capacity);
    bytes.resize(capacity, '\x5A');
    return bytes;
  }();
  const bool nullBuffer = capacity == 0 && input.ConsumeBool();
  const ULONG first = input.ConsumeIntegral<ULONG>();
  const ULONG second = input.ConsumeIntegral<ULONG>();
  // Now and then arguments the exports refuse: no length variable, no buffer
  // for a nonzero length, no selector.
  const auto unsafe = input.ConsumeIntegralInRange<uint8_t>(0, 15);
  const bool nullLength = unsafe == 1;
  const bool nullBufferWithLength = unsafe == 2 && capacity > 0;
  const bool nullSelector = unsafe == 3 && which == Export::kCallMethod;
  const bool refused = nullLength || nullBufferWithLength || nullSelector;

  // The buffer, then the canary; the canary is poisoned while the bridge runs.
  std::unique_ptr<BYTE[]> storage(new BYTE[capacity + kCanarySize]);
  std::memcpy(storage.get(), initial.data(), capacity);
  std::memset(storage.get() + capacity, kCanaryByte, kCanarySize);
  BYTE* buffer = nullBuffer || nullBufferWithLength ? nullptr : storage.get();
  std::unique_ptr<BYTE[]> selectorBytes(new BYTE[4]);
  for (int i = 0; i < 4; ++i) selectorBytes[i] = static_cast<BYTE>(first >> (8 * i));  // little-endian
  const BYTE* selector = nullSelector ? nullptr : selectorBytes.get();
  ULONG length = capacity;
  ULONG* lengthArgument = nullLength ? nullptr : &length;

  std::string sent = initial;
  if (which == Export::kGGrp && capacity >= 1) sent[0] = static_cast<char>(0xE1);
  Expected expected;
  expected.capacity = capacity;
  expected.lengthVariable = &length;
  expected.sent = &sent;
  switch (which) {
    case Export::kGetItemBuffer:
      expected.method = L"iAcpiGetItemBuffer";
      expected.leading = {first, second};
      break;
    case Export::kSetItemBuffer:
      expected.method = L"iAcpiSetItemBuffer";
      expected.leading = {first, second};
      break;
    case Export::kMbif:
      expected.method = L"iAcpiMbif";
      break;
    case Export::kGGrp:
      expected.method = L"iAcpiGGrp";
      expected.leading = {first};
      break;
    case Export::kCallMethod:
      expected.method = L"iAcpiCallMethod";
      expected.leading = {first};  // its 4 bytes, read little-endian
      break;
    case Export::kProbe:
      break;
  }
  Script(component, plan, expected);

  ASAN_POISON_MEMORY_REGION(storage.get() + capacity, kCanarySize);
  ULONG returned = 0;
  switch (which) {
    case Export::kGetItemBuffer:
      returned = AcpiGetItemBuffer(first, second, buffer, lengthArgument);
      break;
    case Export::kSetItemBuffer:
      returned = AcpiSetItemBuffer(first, second, buffer, lengthArgument);
      break;
    case Export::kMbif:
      returned = AcpiMbif(buffer, lengthArgument);
      break;
    case Export::kGGrp:
      returned = AcpiGGrp(first, buffer, lengthArgument);
      break;
    case Export::kCallMethod:
      returned = AcpiCallMethod(selector, buffer, lengthArgument);
      break;
    case Export::kProbe:
      break;
  }
  ASAN_UNPOISON_MEMORY_REGION(storage.get() + capacity, kCanarySize);

  const std::string what = Describe(which, presence, plan, capacity, faulted);
  for (size_t i = 0; i < kCanarySize; ++i) {
    CHECK(storage[capacity + i] == kCanaryByte, "written past the buffer at +" + std::to_string(i) + ": " + what);
  }
  CHECK(returned == 0 || returned == 1, "returned " + std::to_string(returned) + ": " + what);
  const std::string now(reinterpret_cast<const char*>(storage.get()), capacity);
  const Record record = Examine(component, plan, expected);
  const ULONG lengthLeft = plan.setLength ? plan.length : capacity;

  if (refused) {
    CHECK(returned == 0, "refused arguments accepted: " + what);
    CHECK(fake_win32::CallCount("CoCreateInstance") == 0, "an instance made for refused arguments: " + what);
    CHECK(now == initial && length == capacity, "refused arguments changed the caller's memory: " + what);
    return;
  }

  // The length variable holds what the component left, or is untouched.
  CHECK(length == (record.invocations ? lengthLeft : capacity),
        "length " + std::to_string(length) + " after the call: " + what);

  if (presence != Presence::kPresent) {
    CHECK(record.lookups == 0, "a missing component was called: " + what);
    if (!faulted) {
      CHECK(returned == 0, "success without a component: " + what);
      CHECK(now == initial, "the buffer changed without a component: " + Shown(now) + ": " + what);
    }
    return;
  }

  // What may be in the buffer: the bytes as sent (nothing copied back), the
  // caller's own bytes (stopped before sending), or the copy back.
  const std::string copied = CopiedBack(sent, record.leftBytes, capacity, lengthLeft);
  const bool leftI1Array = record.leftVt == (VT_ARRAY | VT_I1) && record.leftArray;
  if (faulted) {
    CHECK(now == initial || now == sent || (record.leftArray && now == copied),
          "the buffer holds neither the caller's bytes nor the copy back: " + Shown(now) + ": " + what);
    return;
  }
  CHECK(returned == 1, "a buffer call with its component and array failed: " + what);
  if (record.invocations == 0) {
    CHECK(now == sent, "the buffer changed though the method was not called: " + what);
  } else if (leftI1Array) {
    CHECK(now == copied, "copied back " + Shown(now) + ", expected " + Shown(copied) + " from the " +
                             std::to_string(record.leftBytes.size()) + "-byte array left: " + what);
  } else if (record.leftArray) {
    // An array of another element type: the bridge may take its bytes or
    // leave the buffer as it was.
    CHECK(now == sent || now == copied, "copied back " + Shown(now) + " from a VT " +
                                            std::to_string(record.leftVt) + " array: " + what);
  } else {
    CHECK(now == sent, "bytes copied back from a VARIANT of type " + std::to_string(record.leftVt) + ": " + what);
  }
}

// The firmware probe fetches 4096 bytes through AcpiMbif into a zero-filled
// buffer and takes the value of the package's third element.
void CheckProbe(ScriptedComponent& component, Presence presence, const Plan& plan, bool faulted) {
  Expected expected;
  expected.method = L"iAcpiMbif";
  expected.capacity = static_cast<ULONG>(vantu::kMbifBufferSize);
  Script(component, plan, expected);
  std::unique_ptr<ULONG[]> word(new ULONG[1]);
  word[0] = kWordSentinel;
  vantu::ReadMbifValues(word.get(), 1);

  const std::string what = Describe(Export::kProbe, presence, plan, expected.capacity, faulted);
  const Record record = Examine(component, plan, expected);
  if (presence != Presence::kPresent || record.invocations == 0) {
    if (!faulted) CHECK(word[0] == kWordSentinel, "a word from nowhere: " + what);
    return;
  }
  const std::string zeros(vantu::kMbifBufferSize, '\0');
  const std::string package =
      (record.leftVt == (VT_ARRAY | VT_I1) && record.leftArray)
          ? CopiedBack(zeros, record.leftBytes, expected.capacity, plan.setLength ? plan.length : expected.capacity)
          : zeros;
  const auto reading =
      fuzz_support::ReadPackage(reinterpret_cast<const uint8_t*>(package.data()), package.size(), 1);
  if (faulted) {
    CHECK(word[0] == kWordSentinel || (!reading.readable.empty() && word[0] == reading.readable[0]),
          "a word that is not element 3's: " + what);
    return;
  }
  if (reading.wellFormed && reading.wanted == 1) {
    CHECK(word[0] == reading.readable[0], "the word is " + std::to_string(word[0]) + ", element 3 holds " +
                                              std::to_string(reading.readable[0]) + ": " + what);
  } else if (reading.readable.empty()) {
    CHECK(word[0] == kWordSentinel, "a word without a third element: " + what);
  } else {
    CHECK(word[0] == kWordSentinel || word[0] == reading.readable[0], "a word that is not element 3's: " + what);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const Export which = input.ConsumeEnum<Export>();
  // Mostly present; otherwise one of the ways it can be missing.
  const Presence presence = input.ConsumeIntegralInRange(0, 3) != 0 ? Presence::kPresent : input.ConsumeEnum<Presence>();
  const bool faulted = input.ConsumeIntegralInRange(0, 7) == 0;
  const Plan plan = MakePlan(input);

  fake_win32::Reset();
  // A fresh component for every input, holding the one reference it starts
  // with; every instance the bridge creates is it, with one more.
  ScriptedComponent component;
  if (presence != Presence::kUnregistered) {
    const bool starts = presence != Presence::kServerFails;
    fake_win32::RegisterClass(L"trelvoCom.axdata", kClsid,
                              presence == Presence::kInProcessOnly ? CLSCTX_INPROC_SERVER : CLSCTX_LOCAL_SERVER,
                              [&component, starts]() -> IDispatch* {
                                if (!starts) return nullptr;
                                component.AddRef();
                                return &component;
                              });
  }
  if (presence == Presence::kCreationFails) fake_win32::FailEveryCall("CoCreateInstance", static_cast<uint32_t>(CO_E_SERVER_EXEC_FAILURE));
  if (presence == Presence::kProgIdFails) fake_win32::FailEveryCall("CLSIDFromProgID", static_cast<uint32_t>(CO_E_CLASSSTRING));
  if (presence != Presence::kUninitialised) CoInitialize(nullptr);
  if (faulted) InjectFault(input);

  if (which == Export::kProbe) {
    CheckProbe(component, presence, plan, faulted);
  } else {
    CheckBufferExport(component, which, presence, plan, input, faulted);
  }

  const std::string what = Describe(which, presence, plan, 0, faulted);
  CHECK(component.references() == 1, "references " + std::to_string(component.references()) + " after the call: " + what);
  CHECK(component.over_releases() == 0, "released more often than referenced: " + what);
  fuzz_support::CheckLedgerClean("copy_back");
  return 0;
}
