// Something to run as the service executable in launch tests. Natively the
// in-memory platform's process runner plays it; under Wine it is a copy of
// the test program, which behaves as a stand-in when given "/Service". Either
// way the run leaves service-ran.txt beside the executable and ends with 7.
// And services registered with the service manager, and deleted, as an
// install would have left them.
#pragma once

#include <string>

namespace test_support {

// Puts the stand-in at `path` (a full path to an .exe).
void PlaceServiceStandIn(const std::string& path);

// True once a stand-in placed in `folder` (ending in a backslash) has run.
bool ServiceStandInRan(const std::string& folder);

// Registers a service of that name (its own process, started on demand)
// whose executable is `binaryPath`; true when it was made.
bool RegisterService(const std::string& name, const std::string& binaryPath);

// Deletes the service of that name; true when it was there and is gone.
bool DeleteServiceNamed(const std::string& name);

}  // namespace test_support
