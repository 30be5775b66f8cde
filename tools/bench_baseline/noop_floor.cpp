// noop_floor.exe: the floor under a setup run that has nothing to do (the
// offered version is installed already and the service is present). Makes
// just the platform calls such a run must make, in the run's order:
//
//   CoInitialize(NULL)
//   "iAcpiInit" (no arguments) and "iAcpiMbif" (a 4096-byte VT_I1 array by
//     reference, its length by reference), each through CLSIDFromProgID,
//     CoCreateInstance, GetIDsOfNames, Invoke, Release; the package's third
//     element is the firmware word, which must pass the gate
//   GetModuleFileNameA, to find setup.ini beside the executable
//   GetPrivateProfileStringA "version", then "RegistryKey" (section Common)
//   RegOpenKeyExA + RegQueryValueExA "Version" + RegCloseKey
//   GetPrivateProfileStringA "ServiceName"
//   OpenSCManagerA + OpenServiceA + CloseServiceHandle (twice)
//
//   noop_floor.exe [--steps]
//
// Exit code: 0 when the run has nothing to do, as setup.exe's would be;
// -1 when the firmware gate is closed; 1 when an install would be due or a
// step failed (the floor is then not measuring a run that has nothing to do).
// --steps prints the duration of each step as one JSON line; when the
// launcher put its QueryPerformanceCounter reading of the moment before
// CreateProcess in BENCH_LAUNCH_QPC, the time from there to main is printed
// as "startUs".
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "floor_common.h"

#ifdef FLOOR_LINK_SHELL_USER
#include <shlobj.h>
#endif

namespace {

constexpr ULONG kMbifBufferSize = 4096;
constexpr char kSection[] = "Common";

ULONG Read32(const BYTE* p) {
  return static_cast<ULONG>(p[0]) | static_cast<ULONG>(p[1]) << 8 | static_cast<ULONG>(p[2]) << 16 |
         static_cast<ULONG>(p[3]) << 24;
}

ULONG ElementSize(const BYTE* element) {
  const ULONG length = static_cast<ULONG>(element[2]) | static_cast<ULONG>(element[3]) << 8;
  return length < 5 ? 12 : 8 + length;
}

// The firmware word: the value of the package's third element, 0 when none.
ULONG FirmwareWord(const BYTE* package) {
  if (Read32(package + 4) < 3) return 0;
  ULONG offset = 8;
  for (int i = 0; i < 2; ++i) {
    offset += ElementSize(package + offset);
    if (offset + 8 > kMbifBufferSize) return 0;
  }
  return Read32(package + offset + 4);
}

bool ReadMbif(BYTE* buffer) {
  SAFEARRAYBOUND bound = {kMbifBufferSize, 0};
  SAFEARRAY* array = SafeArrayCreate(VT_I1, 1, &bound);
  if (!array) return false;
  void* data = nullptr;
  if (SUCCEEDED(SafeArrayAccessData(array, &data))) {
    std::memcpy(data, buffer, kMbifBufferSize);
    SafeArrayUnaccessData(array);
  }
  VARIANT arrayVariant;
  VariantInit(&arrayVariant);
  V_VT(&arrayVariant) = VT_ARRAY | VT_I1;
  V_ARRAY(&arrayVariant) = array;
  ULONG length = kMbifBufferSize;
  VARIANTARG arguments[2];
  VariantInit(&arguments[0]);
  V_VT(&arguments[0]) = VT_BYREF | VT_UI4;
  V_UI4REF(&arguments[0]) = &length;
  VariantInit(&arguments[1]);
  V_VT(&arguments[1]) = VT_BYREF | VT_VARIANT;
  V_VARIANTREF(&arguments[1]) = &arrayVariant;
  floor_bench::CallComponentMethod(L"iAcpiMbif", arguments, 2);
  if (V_VT(&arrayVariant) == (VT_ARRAY | VT_I1) && SUCCEEDED(SafeArrayAccessData(V_ARRAY(&arrayVariant), &data))) {
    std::memcpy(buffer, data, length < kMbifBufferSize ? length : kMbifBufferSize);
    SafeArrayUnaccessData(V_ARRAY(&arrayVariant));
  }
  return SUCCEEDED(VariantClear(&arrayVariant));
}

std::string ReadSetting(const char* key, const std::string& iniPath) {
  char value[512];
  GetPrivateProfileStringA(kSection, key, "", value, sizeof value, iniPath.c_str());
  return value;
}

// Byte by byte, each byte signed, a proper prefix older.
bool IsOlder(const std::string& installed, const std::string& offered) {
  for (size_t i = 0; i < installed.size(); ++i) {
    if (i >= offered.size()) return false;
    const auto a = static_cast<signed char>(installed[i]);
    const auto b = static_cast<signed char>(offered[i]);
    if (a != b) return a < b;
  }
  return offered.size() > installed.size();
}

// The step durations, kept only with --steps (a timed floor reads no clock).
struct Steps {
  bool enabled = false;
  std::string json;
  floor_bench::Stopwatch watch;
  void Mark(const char* name) {
    if (enabled) json += ",\"" + std::string(name) + "Us\":" + std::to_string(watch.Lap());
  }
};

}  // namespace

int main(int argc, char** argv) {
  LARGE_INTEGER entered;
  QueryPerformanceCounter(&entered);
  const bool printSteps = argc > 1 && std::strcmp(argv[1], "--steps") == 0;
#ifdef FLOOR_LINK_SHELL_USER
  // Linked like setup.exe, never called in a run that has nothing to do.
  if (argc > 2) {
    char folder[MAX_PATH];
    SHGetFolderPathAndSubDirA(nullptr, CSIDL_PROGRAM_FILES, nullptr, SHGFP_TYPE_CURRENT, argv[2], folder);
    MessageBoxA(nullptr, folder, "noop_floor", MB_OK);
  }
#endif
  Steps steps;
  steps.enabled = printSteps;
  steps.watch.Restart();
  CoInitialize(nullptr);
  steps.Mark("coInitialize");
  floor_bench::CallComponentMethod(L"iAcpiInit", nullptr, 0);
  steps.Mark("init");
  BYTE package[kMbifBufferSize] = {};
  const bool probed = ReadMbif(package);
  const ULONG word = FirmwareWord(package);
  steps.Mark("mbif");
  if (!probed || (word & 0xFF00) < 0x200) return -1;

  char modulePath[MAX_PATH];
  const DWORD count = GetModuleFileNameA(nullptr, modulePath, MAX_PATH);
  if (count == 0 || count >= MAX_PATH) return 1;
  std::string iniPath(modulePath, count);
  iniPath = iniPath.substr(0, iniPath.rfind('\\') + 1) + "setup.ini";
  const std::string offered = ReadSetting("version", iniPath);
  const std::string keyPath = ReadSetting("RegistryKey", iniPath);
  steps.Mark("settings");
  std::string installed;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
    char data[256] = {};
    DWORD size = sizeof data - 1;
    DWORD type = REG_NONE;
    if (RegQueryValueExA(key, "Version", nullptr, &type, reinterpret_cast<BYTE*>(data), &size) == ERROR_SUCCESS &&
        type == REG_SZ) {
      installed = data;
    }
    RegCloseKey(key);
  }
  steps.Mark("registry");
  if (IsOlder(installed, offered)) return 1;
  const std::string service = ReadSetting("ServiceName", iniPath);
  steps.Mark("serviceName");
  bool present = false;
  if (SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS)) {
    if (SC_HANDLE handle = OpenServiceA(manager, service.c_str(), SERVICE_QUERY_CONFIG)) {
      present = true;
      CloseServiceHandle(handle);
    }
    CloseServiceHandle(manager);
  }
  steps.Mark("serviceManager");
  if (printSteps) {
    std::string start;
    if (const char* launched = std::getenv("BENCH_LAUNCH_QPC")) {
      LARGE_INTEGER frequency;
      QueryPerformanceFrequency(&frequency);
      const long long before = std::strtoll(launched, nullptr, 10);
      start = ",\"startUs\":" + std::to_string((entered.QuadPart - before) * 1000000 / frequency.QuadPart);
    }
    std::printf("{\"steps\":true%s%s}\n", start.c_str(), steps.json.c_str());
  }
  return present ? 0 : 1;
}
