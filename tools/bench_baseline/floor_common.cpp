#include "floor_common.h"

namespace floor_bench {

namespace {

// Adds the time since the last lap to `field` when steps are wanted.
class StepClock {
 public:
  explicit StepClock(CallSteps* steps) : steps_(steps) {}
  void Lap(long long CallSteps::*field) {
    if (steps_) steps_->*field += watch_.Lap();
  }

 private:
  CallSteps* steps_;
  Stopwatch watch_;
};

}  // namespace

HRESULT CallComponentMethod(const wchar_t* method, VARIANTARG* arguments, UINT count, CallSteps* steps) {
  StepClock clock(steps);
  CLSID clsid;
  HRESULT hr = CLSIDFromProgID(L"trelvoCom.axdata", &clsid);
  clock.Lap(&CallSteps::progId);
  if (FAILED(hr)) return hr;
  IDispatch* dispatch = nullptr;
  hr = CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch, reinterpret_cast<void**>(&dispatch));
  clock.Lap(&CallSteps::create);
  if (FAILED(hr)) return hr;
  LPOLESTR name = const_cast<LPOLESTR>(method);
  DISPID id = DISPID_UNKNOWN;
  hr = dispatch->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id);
  clock.Lap(&CallSteps::lookup);
  if (SUCCEEDED(hr)) {
    DISPPARAMS parameters = {arguments, nullptr, count, 0};
    VARIANT result;
    VariantInit(&result);
    hr = dispatch->Invoke(id, IID_NULL, LOCALE_SYSTEM_DEFAULT, DISPATCH_METHOD, &parameters, &result, nullptr,
                          nullptr);
    VariantClear(&result);
    clock.Lap(&CallSteps::invoke);
  }
  dispatch->Release();
  clock.Lap(&CallSteps::release);
  return hr;
}

Stopwatch::Stopwatch() {
  QueryPerformanceFrequency(&frequency_);
  Restart();
}

void Stopwatch::Restart() { QueryPerformanceCounter(&start_); }

long long Stopwatch::Lap() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  const long long elapsed = (now.QuadPart - start_.QuadPart) * 1000000 / frequency_.QuadPart;
  start_ = now;
  return elapsed;
}

long long Stopwatch::Microseconds() const {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return (now.QuadPart - start_.QuadPart) * 1000000 / frequency_.QuadPart;
}

}  // namespace floor_bench
