// The "Version" value of an open key.
#pragma once

#include <windows.h>

#include <string>

namespace vantu {

// Reads the string value "Version" (REG_SZ, REG_EXPAND_SZ or REG_MULTI_SZ),
// in the ANSI code page, the form in which the run compares versions,
// into `*version`: unexpanded, and of a multi-string only the first string;
// data without a terminator is taken whole. False, with `*version` left as
// it was, when the value is missing, of another type or cannot be read.
bool QueryVersionValue(HKEY key, std::string* version);

}  // namespace vantu
