// export_client.exe: calls setup.exe's exported ACPI bridge functions the
// way an outside program does, and prints what came back.
//
//   export_client.exe <path of setup.exe> <call> [<call> ...]
//
// It initialises the component model on its thread (CoInitialize), loads
// setup.exe with LoadLibraryA and finishes that load where the loader left
// it unfinished (Wine applies neither relocations nor imports to an
// executable loaded as a library; see image_loader.h), never calls its entry
// point, then makes the calls in the order given.
//
// Calls (see call_syntax.h for the details):
//   Init | GetItem:item:value | GetItemEx:first:second:value |
//   SetItem:first:second:third | GetItemBuffer:first:second:hex[:size] |
//   SetItemBuffer:first:second:hex[:size] | Mbif:hex[:size] |
//   GGrp:selector:hex[:size] | CallMethod:4-hex-bytes:hex[:size] |
//   Sleep:ms
// value: a number or "null"; hex: the buffer's first bytes or "null";
// size: capacity, capacity/length or "nulllen" (a null length pointer).
// Numbers are decimal or 0x-hex.
//
// Output, one JSON object per call on standard output, e.g.
//   {"call":"GetItemEx","input":"GetItemEx:5:7:0","ret":1,"value":4660,"us":8123}
//   {"call":"Mbif","input":"Mbif::16","ret":1,"length":4,
//    "buffer":"01020304cccccccccccccccccccccccc","canaryIntact":true,"us":9000}
// "value"/"length" are null for a null pointer, "buffer" is null (and
// "canaryIntact" absent) for a null buffer; "buffer" shows all <capacity>
// bytes. 16 canary bytes 0xA5 follow the buffer; "canaryIntact" says whether
// they are unchanged. CallMethod adds "selector", the 4 selector bytes after
// the call. A call that crashes prints {"call":...,"crash":"0x<code>",...}.
//
// Exit code: 0 once every call has been made (whatever they returned), 2 for
// a bad command line, 3 when setup.exe or one of its exports cannot be
// loaded; a crash ends the process with the exception's code.
#include <windows.h>
#include <objbase.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "call_syntax.h"
#include "image_loader.h"

#include "common/json_text.h"

namespace export_client {
namespace {

constexpr size_t kCanaryBytes = 16;
constexpr BYTE kCanary = 0xA5;
constexpr BYTE kFiller = 0xCC;

using InitFunction = ULONG(WINAPI*)();
using GetItemFunction = ULONG(WINAPI*)(ULONG, ULONG*);
using GetItemExFunction = ULONG(WINAPI*)(ULONG, ULONG, ULONG*);
using SetItemFunction = ULONG(WINAPI*)(ULONG, ULONG, ULONG);
using ItemBufferFunction = ULONG(WINAPI*)(ULONG, ULONG, BYTE*, ULONG*);
using MbifFunction = ULONG(WINAPI*)(BYTE*, ULONG*);
using GroupFunction = ULONG(WINAPI*)(ULONG, BYTE*, ULONG*);
using CallMethodFunction = ULONG(WINAPI*)(const BYTE*, BYTE*, ULONG*);

template <typename Target>
Target As(FARPROC address) {
  // Through void(*)(), which converts to every function pointer type.
  return reinterpret_cast<Target>(reinterpret_cast<void (*)()>(address));
}

void PrintLine(const std::string& line) {
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

// The call being made, for the crash report.
const Call* g_currentCall = nullptr;

// Digits of an address in this process: 8, or 16 in a 64-bit one.
constexpr int kAddressDigits = static_cast<int>(2 * sizeof(void*));

LONG WINAPI ReportCrash(EXCEPTION_POINTERS* exception) {
  char details[96];
  std::snprintf(details, sizeof details, ",\"crash\":\"0x%08lx\",\"address\":\"0x%0*llx\"}",
                static_cast<unsigned long>(exception->ExceptionRecord->ExceptionCode), kAddressDigits,
                static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(exception->ExceptionRecord->ExceptionAddress)));
  std::string line = "{\"call\":";
  line += tools::JsonString(g_currentCall ? FunctionName(g_currentCall->function) : "");
  line += ",\"input\":" + tools::JsonString(g_currentCall ? g_currentCall->text : "") + details;
  PrintLine(line);
  return EXCEPTION_EXECUTE_HANDLER;
}

class Stopwatch {
 public:
  Stopwatch() {
    QueryPerformanceFrequency(&frequency_);
    QueryPerformanceCounter(&start_);
  }
  long long Microseconds() const {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return (now.QuadPart - start_.QuadPart) * 1000000 / frequency_.QuadPart;
  }

 private:
  LARGE_INTEGER frequency_;
  LARGE_INTEGER start_;
};

// The caller's buffer: <capacity> bytes, then the canary.
class CallerBuffer {
 public:
  explicit CallerBuffer(const BufferLayout& layout)
      : layout_(layout), bytes_(layout.capacity + kCanaryBytes, kFiller), length_(layout.length) {
    std::copy(layout.start.begin(), layout.start.end(), bytes_.begin());
    std::fill(bytes_.begin() + layout.capacity, bytes_.end(), kCanary);
  }
  BYTE* buffer() { return layout_.nullBuffer ? nullptr : bytes_.data(); }
  ULONG* length() { return layout_.nullLength ? nullptr : &length_; }

  std::string Json() const {
    std::string json = ",\"length\":" + (layout_.nullLength ? std::string("null") : std::to_string(length_));
    if (layout_.nullBuffer) return json + ",\"buffer\":null";
    json += ",\"buffer\":\"" + tools::HexBytes(bytes_.data(), layout_.capacity) + "\"";
    bool intact = true;
    for (size_t i = layout_.capacity; i < bytes_.size(); ++i) intact = intact && bytes_[i] == kCanary;
    return json + ",\"canaryIntact\":" + (intact ? "true" : "false");
  }

 private:
  const BufferLayout& layout_;
  std::vector<BYTE> bytes_;
  ULONG length_;
};

std::string ValueJson(bool isNull, ULONG value) {
  return ",\"value\":" + (isNull ? std::string("null") : std::to_string(value));
}

std::string MakeCall(const Call& call, const std::map<Function, FARPROC>& exports) {
  const FARPROC address = call.function == Function::kSleep ? nullptr : exports.at(call.function);
  std::string details;
  ULONG result = 0;
  ULONG value = call.value;
  CallerBuffer buffer(call.buffer);
  std::array<BYTE, 4> selector = call.selector;
  Stopwatch watch;
  switch (call.function) {
    case Function::kInit:
      result = As<InitFunction>(address)();
      break;
    case Function::kGetItem:
      result = As<GetItemFunction>(address)(call.numbers[0], call.nullValue ? nullptr : &value);
      details = ValueJson(call.nullValue, value);
      break;
    case Function::kGetItemEx:
      result = As<GetItemExFunction>(address)(call.numbers[0], call.numbers[1], call.nullValue ? nullptr : &value);
      details = ValueJson(call.nullValue, value);
      break;
    case Function::kSetItem:
      result = As<SetItemFunction>(address)(call.numbers[0], call.numbers[1], call.numbers[2]);
      break;
    case Function::kGetItemBuffer:
    case Function::kSetItemBuffer:
      result = As<ItemBufferFunction>(address)(call.numbers[0], call.numbers[1], buffer.buffer(), buffer.length());
      details = buffer.Json();
      break;
    case Function::kMbif:
      result = As<MbifFunction>(address)(buffer.buffer(), buffer.length());
      details = buffer.Json();
      break;
    case Function::kGGrp:
      result = As<GroupFunction>(address)(call.numbers[0], buffer.buffer(), buffer.length());
      details = buffer.Json();
      break;
    case Function::kCallMethod:
      result = As<CallMethodFunction>(address)(call.nullSelector ? nullptr : selector.data(), buffer.buffer(),
                                               buffer.length());
      details = buffer.Json() + ",\"selector\":" +
                (call.nullSelector ? std::string("null") : "\"" + tools::HexBytes(selector.data(), selector.size()) + "\"");
      break;
    case Function::kSleep:
      Sleep(call.numbers[0]);
      return "{\"call\":\"Sleep\",\"input\":" + tools::JsonString(call.text) + ",\"ms\":" + std::to_string(call.numbers[0]) +
             "}";
  }
  const long long elapsed = watch.Microseconds();
  return "{\"call\":" + tools::JsonString(FunctionName(call.function)) + ",\"input\":" + tools::JsonString(call.text) +
         ",\"ret\":" + std::to_string(result) + details + ",\"us\":" + std::to_string(elapsed) + "}";
}

int Usage(const std::string& problem) {
  std::fprintf(stderr,
               "export_client: %s\n"
               "usage: export_client.exe <path of setup.exe> <call> [<call> ...]\n"
               "  Init | GetItem:item:value | GetItemEx:first:second:value | SetItem:first:second:third |\n"
               "  GetItemBuffer:first:second:hex[:size] | SetItemBuffer:first:second:hex[:size] |\n"
               "  Mbif:hex[:size] | GGrp:selector:hex[:size] | CallMethod:4-hex-bytes:hex[:size] | Sleep:ms\n"
               "  value: number or null; hex: the buffer's first bytes or null;\n"
               "  size: capacity, capacity/length or nulllen (default: the hex's length)\n",
               problem.c_str());
  return 2;
}

int Run(int argc, char** argv) {
  if (argc < 3) return Usage("a path and at least one call are needed");
  const std::string path = argv[1];
  std::vector<Call> calls;
  for (int i = 2; i < argc; ++i) {
    Call call;
    std::string error;
    if (!ParseCall(argv[i], call, error)) return Usage(std::string(argv[i]) + ": " + error);
    calls.push_back(call);
  }

  const HRESULT initialised = CoInitialize(nullptr);
  if (FAILED(initialised)) {
    std::fprintf(stderr, "export_client: CoInitialize failed: 0x%08lx\n", static_cast<unsigned long>(initialised));
    return 3;
  }
  // A setup.exe of the other bitness cannot be loaded into this process;
  // say so rather than leave it to LoadLibraryA's error code.
  std::string error;
  if (!CheckImageFile(path, error)) {
    std::fprintf(stderr, "export_client: cannot load %s: %s\n", path.c_str(), error.c_str());
    return 3;
  }
  const HMODULE module = LoadLibraryA(path.c_str());
  if (!module) {
    std::fprintf(stderr, "export_client: cannot load %s: error %lu\n", path.c_str(), GetLastError());
    return 3;
  }
  LoadReport report;
  if (!CompleteImageLoad(module, path, report, error)) {
    std::fprintf(stderr, "export_client: cannot complete the load of %s: %s\n", path.c_str(), error.c_str());
    return 3;
  }
  std::fprintf(stderr,
               "export_client: %s at 0x%0*llx (preferred 0x%0*llx); relocations applied here: %lu%s; "
               "imports resolved here: %lu, found resolved: %lu\n",
               path.c_str(), kAddressDigits, static_cast<unsigned long long>(report.base), kAddressDigits,
               static_cast<unsigned long long>(report.preferredBase),
               report.relocationsApplied, report.relocatedByLoader ? " (the loader had applied them)" : "",
               report.importsResolved, report.importsFound);

  std::map<Function, FARPROC> exports;
  for (const Call& call : calls) {
    const char* name = ExportName(call.function);
    if (!name || exports.count(call.function)) continue;
    const FARPROC address = GetProcAddress(module, name);
    if (!address) {
      std::fprintf(stderr, "export_client: %s does not export %s\n", path.c_str(), name);
      return 3;
    }
    exports[call.function] = address;
  }

  SetUnhandledExceptionFilter(ReportCrash);
  for (const Call& call : calls) {
    g_currentCall = &call;
    PrintLine(MakeCall(call, exports));
  }
  g_currentCall = nullptr;
  // setup.exe stays loaded: its code may have left objects of the
  // libraries it uses behind, and it was never initialised to be unloaded.
  CoUninitialize();
  return 0;
}

}  // namespace
}  // namespace export_client

int main(int argc, char** argv) { return export_client::Run(argc, argv); }
