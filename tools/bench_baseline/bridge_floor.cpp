// bridge_floor.exe: the floor under one AcpiGetItem call through setup.exe's
// export. Makes the same platform calls directly, once per call:
// CLSIDFromProgID, CoCreateInstance (CLSCTX_LOCAL_SERVER, IID_IDispatch),
// GetIDsOfNames, one Invoke of "iAcpiGetItem" with (VT_UI4 item,
// VT_BYREF|VT_UI4 value), VariantClear of the result, Release.
//
//   bridge_floor.exe [--steps] <calls> <item> <value>
//
// Prints one JSON line per call, in export_client's form:
//   {"call":"GetItem","ret":1,"value":4660,"us":8123}
// "us" is the call's duration in microseconds. --steps adds the duration of
// each platform call ("progIdUs", "createUs", "lookupUs", "invokeUs",
// "releaseUs"); it costs a few clock readings per call, so the timed floor
// runs without it. Exit code 0 once every call was made, 2 for a bad command
// line, 3 when CoInitialize fails.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "floor_common.h"

int main(int argc, char** argv) {
  int first = 1;
  const bool withSteps = argc > 1 && std::strcmp(argv[1], "--steps") == 0;
  if (withSteps) ++first;
  if (argc - first != 3) {
    std::fprintf(stderr, "usage: bridge_floor.exe [--steps] <calls> <item> <value>\n");
    return 2;
  }
  const long calls = std::strtol(argv[first], nullptr, 0);
  const auto item = static_cast<ULONG>(std::strtoul(argv[first + 1], nullptr, 0));
  const auto start = static_cast<ULONG>(std::strtoul(argv[first + 2], nullptr, 0));
  if (calls <= 0) {
    std::fprintf(stderr, "bridge_floor: <calls> must be positive\n");
    return 2;
  }
  if (FAILED(CoInitialize(nullptr))) {
    std::fprintf(stderr, "bridge_floor: CoInitialize failed\n");
    return 3;
  }
  for (long i = 0; i < calls; ++i) {
    ULONG value = start;
    floor_bench::CallSteps steps;
    floor_bench::Stopwatch watch;
    VARIANTARG arguments[2];
    VariantInit(&arguments[0]);
    V_VT(&arguments[0]) = VT_BYREF | VT_UI4;
    V_UI4REF(&arguments[0]) = &value;
    VariantInit(&arguments[1]);
    V_VT(&arguments[1]) = VT_UI4;
    V_UI4(&arguments[1]) = item;
    const HRESULT hr =
        floor_bench::CallComponentMethod(L"iAcpiGetItem", arguments, 2, withSteps ? &steps : nullptr);
    const long long elapsed = watch.Microseconds();
    std::printf("{\"call\":\"GetItem\",\"ret\":%d,\"value\":%lu,\"us\":%lld", SUCCEEDED(hr) ? 1 : 0,
                static_cast<unsigned long>(value), elapsed);
    if (withSteps) {
      std::printf(",\"progIdUs\":%lld,\"createUs\":%lld,\"lookupUs\":%lld,\"invokeUs\":%lld,\"releaseUs\":%lld",
                  steps.progId, steps.create, steps.lookup, steps.invoke, steps.release);
    }
    std::printf("}\n");
    std::fflush(stdout);
  }
  CoUninitialize();
  return 0;
}
