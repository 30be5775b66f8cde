// Test main. Run with "/Service" as its last argument, the test program
// stands in for a service executable instead: it leaves a note beside
// itself, so that a launch test can see that it ran, and ends.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[argc - 1], "/Service") == 0) {
    // Its own path may hold any character: read and used in UTF-16.
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring note(self);
    note = note.substr(0, note.rfind(L'\\') + 1) + L"service-ran.txt";
    std::ofstream(std::filesystem::path(note)) << "ran\n";
    return 7;
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
