// An automation component for tests and the copy-back fuzzer: answers
// method calls by name from a script, records every lookup and call as it
// saw it and what it left behind, and counts its references. Works on the
// in-memory platform and on the real one alike; natively it can also be
// registered as the local server the bridge creates.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace test_support {

// What a method does when it is called.
struct MethodScript {
  enum class Leave { kSameArray, kNewArray, kUi1Array, kI4, kEmpty, kBstr };
  HRESULT result = S_OK;
  bool unknownName = false;             // the name lookup fails
  std::optional<ULONG> value;           // written into the VT_BYREF | VT_UI4 argument
  std::optional<std::string> data;      // bytes left in the array
  std::optional<ULONG> length;          // left in the length argument
  Leave leave = Leave::kSameArray;
  LONG lowerBound = 0;                  // of a new array
  // When set, what the method does to the VARIANT it gets by reference,
  // instead of `leave` and `data`: for whatever the kinds above leave out.
  std::function<void(VARIANT* held)> leaveWith;
  // When set, fills the method's result VARIANT (left empty otherwise).
  std::function<void(VARIANT* result)> answer;
};

// One argument as the component received it.
struct SeenArgument {
  VARTYPE vt = VT_EMPTY;
  ULONG ui4 = 0;                   // VT_UI4, or the value behind VT_BYREF | VT_UI4
  const void* reference = nullptr; // the pointer of a by-reference argument
  VARTYPE referencedVt = VT_EMPTY; // VT_BYREF | VT_VARIANT: what the VARIANT held
  std::string arrayBytes;          // ... and its array's data
  LONG arrayLowerBound = 0;
  // ... and that array's shape, read from the array itself.
  bool arrayPresent = false;
  USHORT arrayDimensions = 0;
  ULONG arrayElementSize = 0;
  ULONG arrayElements = 0;  // of the first dimension
  ULONG arrayLocks = 0;
  // What the component left in a VT_BYREF | VT_VARIANT argument.
  VARTYPE leftVt = VT_EMPTY;
  bool leftArray = false;   // an array type with an array
  std::string leftBytes;    // every byte of that array, as laid out
};

struct SeenCall {
  std::wstring method;
  DISPID id = 0;
  bool nullInterface = false;  // the interface id was IID_NULL
  LCID lcid = 0;
  WORD flags = 0;
  UINT namedArguments = 0;
  bool namedArgumentIds = false;  // an array of named argument ids was passed
  bool resultSupplied = false;
  VARTYPE resultVt = VT_EMPTY;    // what the result VARIANT held on entry
  bool exceptionRequested = false;
  bool argumentErrorRequested = false;
  std::vector<SeenArgument> arguments;  // as in DISPPARAMS: the last parameter first
};

struct SeenLookup {
  std::wstring name;
  bool nullInterface = false;  // the interface id was IID_NULL
  UINT count = 0;
  LCID lcid = 0;
};

class ScriptedComponent : public IDispatch {
 public:
  // Made with one reference, which the test owns.
  ScriptedComponent() = default;

  std::map<std::wstring, MethodScript> scripts;
  std::vector<SeenLookup> lookups;
  std::vector<SeenCall> calls;
  // Every Invoke, also one with an id that no lookup gave out (which
  // leaves no entry in `calls`).
  int invokes = 0;

  ULONG references() const { return references_; }
  // Releases beyond the last reference: each is a fault of the caller.
  int over_releases() const { return overReleases_; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* exception, UINT* argumentError) override;

 private:
  void Perform(const MethodScript& script, DISPPARAMS* params);
  static void RecordLeft(const DISPPARAMS& params, SeenCall* call);
  std::vector<std::wstring> names_;  // index + 1 is the DISPID
  ULONG references_ = 1;
  int overReleases_ = 0;
};

// Natively: registers `component` as the local server behind the bridge's
// ProgID; every instance created is `component` with one more reference.
void RegisterAsBridgeComponent(ScriptedComponent* component);

// The bytes of a string of hex digits ("e1 00 ff").
std::string Bytes(const std::string& hex);
std::string Hex(const std::string& bytes);

}  // namespace test_support
