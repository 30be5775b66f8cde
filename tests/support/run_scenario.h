// A whole setup run on the in-memory platform: a program folder with
// setup.exe, setup.ini, a service executable and payload, a component that
// answers the firmware probe, and a service executable whose run registers
// the service.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "tests/support/scripted_component.h"

namespace test_support {

// One element of a firmware package: its data length L and its value. It
// takes 12 bytes when L is below 5, else 8 + L.
struct MbifElement {
  uint16_t length;
  ULONG value;
};

// The package "iAcpiMbif" returns: `count` (N), then `elements` back to back
// (filler bytes 0xEE after each value), cut at the 4096 bytes the probe
// fetches.
std::string MbifPackage(ULONG count, const std::vector<MbifElement>& elements);
// Three short elements, the third holding `word`.
std::string MbifPackage(ULONG word);

class RunScenario {
 public:
  static constexpr const char* kProgramFolder = "C:\\Fan\\Setup\\";
  static constexpr const char* kServiceName = "FanControl";
  static constexpr const char* kRegistryKey = "SOFTWARE\\Vendor\\FanControl";

  // Sets the platform up (after its reset): folder, files, component.
  explicit RunScenario(ULONG firmwareWord = 0x200, const std::string& version = "2.1.0");
  ~RunScenario();

  std::string InstallFolder() const;
  void WriteSetupIni(const std::map<std::string, std::string>& settings) const;
  std::map<std::string, std::string> settings;
  ScriptedComponent component;
  // Command lines the service executable was run with.
  std::vector<std::string> launches;
  // Called while the service executable runs, when set.
  std::function<void()> duringLaunch;
};

}  // namespace test_support
