// Something to run as the service executable in launch tests. Natively the
// in-memory platform's process runner plays it; under Wine it is a copy of
// the test program, which behaves as a stand-in when given "/Service". Either
// way the run leaves service-ran.txt beside the executable and ends with 7.
#pragma once

#include <string>

namespace test_support {

// Puts the stand-in at `path` (a full path to an .exe).
void PlaceServiceStandIn(const std::string& path);

// True once a stand-in placed in `folder` (ending in a backslash) has run.
bool ServiceStandInRan(const std::string& folder);

}  // namespace test_support
