// The version of setup.exe itself (not of the payload it deploys, which is
// setup.ini's "version"). Raise it with every release; the resource
// compiler and the code read it from here.
#pragma once

#define FANSETUP_VERSION_NUMBERS 1, 2, 0, 0
#define FANSETUP_VERSION_TEXT "1.2.0.0"
