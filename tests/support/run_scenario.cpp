#include "tests/support/run_scenario.h"

#ifdef FANSETUP_FAKE_WIN32

#include "acpi/firmware_probe.h"
#include "fake_win32/control.h"
#include "tests/support/scratch.h"

namespace test_support {

namespace {

std::string Little(uint32_t value, int bytes) {
  std::string text;
  for (int i = 0; i < bytes; ++i) text += static_cast<char>((value >> (8 * i)) & 0xFF);
  return text;
}

}  // namespace

std::string MbifPackage(ULONG count, const std::vector<MbifElement>& elements) {
  std::string package = Little(0, 4) + Little(count, 4);
  for (const MbifElement& element : elements) {
    package += Little(0, 2) + Little(element.length, 2) + Little(element.value, 4);
    package += std::string(element.length < 5 ? 4 : element.length, '\xEE');
  }
  if (package.size() > vantu::kMbifBufferSize) package.resize(vantu::kMbifBufferSize);
  return package;
}

std::string MbifPackage(ULONG word) { return MbifPackage(3, {{4, 1}, {4, 2}, {4, word}}); }

RunScenario::RunScenario(ULONG firmwareWord, const std::string& version) {
  settings = {{"ServiceName", kServiceName},
              {"InstallPath", "Vendor\\FanControl"},
              {"RegistryKey", kRegistryKey},
              {"Execution", "fansvc.exe"},
              {"version", version}};
  fake_win32::SetModuleFileName(std::string(kProgramFolder) + "setup.exe");
  MakeFolder(kProgramFolder);
  WriteFile(std::string(kProgramFolder) + "setup.exe", "MZ setup");
  WriteFile(std::string(kProgramFolder) + "fansvc.exe", "MZ service");
  WriteFile(std::string(kProgramFolder) + "fan.dll", "dll");
  MakeFolder(std::string(kProgramFolder) + "lang");
  WriteFile(std::string(kProgramFolder) + "lang\\de.txt", "de");
  WriteSetupIni(settings);

  component.scripts[L"iAcpiMbif"].data = MbifPackage(firmwareWord);
  RegisterAsBridgeComponent(&component);
  fake_win32::SetProcessRunner([this](const std::string& commandLine) -> DWORD {
    launches.push_back(commandLine);
    if (duringLaunch) duringLaunch();
    fake_win32::AddService(kServiceName, commandLine);
    return 0;
  });
}

RunScenario::~RunScenario() = default;

std::string RunScenario::InstallFolder() const {
  return "C:\\Program Files (x86)\\Vendor\\FanControl\\" + settings.at("version") + "\\";
}

void RunScenario::WriteSetupIni(const std::map<std::string, std::string>& values) const {
  std::string text = "[Common]\r\n";
  for (const auto& [key, value] : values) text += key + "=" + value + "\r\n";
  WriteFile(std::string(kProgramFolder) + "setup.ini", text);
}

}  // namespace test_support

#endif  // FANSETUP_FAKE_WIN32
