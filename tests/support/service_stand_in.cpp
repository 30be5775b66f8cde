#include "tests/support/service_stand_in.h"

#include <windows.h>

#include "tests/support/scratch.h"
#include "tests/support/wide.h"

#ifdef FANSETUP_FAKE_WIN32
#include "fake_win32/control.h"
#endif

namespace test_support {

void PlaceServiceStandIn(const std::string& path) {
#ifdef FANSETUP_FAKE_WIN32
  WriteFile(path, "MZ stand-in");
  fake_win32::SetProcessRunner([](const std::string& commandLine) -> DWORD {
    std::string program = commandLine;
    if (!program.empty() && program[0] == '"') program = program.substr(1, program.find('"', 1) - 1);
    const std::string folder = program.substr(0, program.rfind('\\') + 1);
    if (commandLine.size() >= 9 && commandLine.compare(commandLine.size() - 9, 9, " /Service") == 0) {
      WriteFile(folder + "service-ran.txt", "ran\n");
    }
    return 7;
  });
#else
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  EXPECT_TRUE(CopyFileW(self, W(path).c_str(), FALSE)) << "cannot copy the test program to " << path;
#endif
}

bool ServiceStandInRan(const std::string& folder) { return FileExists(folder + "service-ran.txt"); }

}  // namespace test_support
