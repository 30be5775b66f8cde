// Test main. Run with "/Service" as its last argument, the test program
// stands in for a service executable instead: it leaves a note beside
// itself, so that a launch test can see that it ran, and ends.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[argc - 1], "/Service") == 0) {
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string note(self);
    note = note.substr(0, note.rfind('\\') + 1) + "service-ran.txt";
    std::ofstream(note) << "ran\n";
    return 7;
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
