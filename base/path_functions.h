// Path texts as the setup handles them: UTF-16, the character `\` as the
// only separator, no access to the file system. Cutting at that character
// (never at a byte) keeps names in every language whole: in a double-byte
// ANSI code page the second byte of a character may be 0x5C.
#pragma once

#include <string>

namespace vantu {

// The text up to and including the first colon, or empty when there is none.
std::wstring DrivePart(const std::wstring& path);

// The text after the last backslash or colon; empty when the path holds
// neither, or when one of them is its last character.
std::wstring FileNamePart(const std::wstring& path);

}  // namespace vantu
