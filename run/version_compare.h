// Version texts are compared as text, never parsed.
#pragma once

#include <string>

namespace vantu {

// True when `installed` sorts before `offered`: byte by byte, each byte
// taken as a signed 8-bit value, a proper prefix sorting first. So 1.0.9 is
// not older than 1.0.10, 1.2 is older than 1.2.0, and a byte of 0x80 or
// above sorts before every ASCII byte.
bool IsOlderVersion(const std::string& installed, const std::string& offered);

// True when `version` can name the install folder: exactly one folder name
// below InstallPath. Not empty, not made of dots and blanks alone ("." and
// ".." among them), and free of backslashes, slashes, colons and zeros;
// anything else would put the payload into InstallPath itself, above it, or
// somewhere else entirely. Judged on the UTF-16 text, character by
// character: in a double-byte ANSI code page a character's second byte may
// be 0x5C, which is no backslash.
bool IsDeployableVersion(const std::wstring& version);

}  // namespace vantu
