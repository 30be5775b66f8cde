// What the floor programs share: one late-bound method call on the
// automation component "trelvoCom.axdata", written out with the plain
// COM and automation calls, and a microsecond stopwatch.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

namespace floor_bench {

// Resolves the ProgID, creates an instance as a local server (IDispatch),
// looks the method up (locale 0x0400), calls it once (DISPATCH_METHOD,
// locale 0x0800) with `count` arguments already in DISPPARAMS order (last
// parameter first), clears the result and releases the instance.
// Returns the first failing HRESULT, or Invoke's. With `steps`, the
// duration of each platform call is added to it (microseconds).
struct CallSteps {
  long long progId = 0;   // CLSIDFromProgID
  long long create = 0;   // CoCreateInstance
  long long lookup = 0;   // IDispatch::GetIDsOfNames
  long long invoke = 0;   // IDispatch::Invoke and VariantClear of the result
  long long release = 0;  // IDispatch::Release
};
HRESULT CallComponentMethod(const wchar_t* method, VARIANTARG* arguments, UINT count, CallSteps* steps = nullptr);

class Stopwatch {
 public:
  Stopwatch();
  void Restart();
  long long Microseconds() const;
  // Microseconds since the last start, and starts again.
  long long Lap();

 private:
  LARGE_INTEGER frequency_;
  LARGE_INTEGER start_;
};

}  // namespace floor_bench
