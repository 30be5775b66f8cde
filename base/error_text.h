// An error code as the log and standard error tell it.
#pragma once

#include <windows.h>

#include <string>

namespace vantu {

// "5 (Access is denied.)": an error code with the system's text for it, in
// UTF-8; the code alone where the system has no text.
std::string ErrorText(DWORD error);

}  // namespace vantu
