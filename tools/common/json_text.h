// Text for the JSON lines the test tools print and log.
#pragma once

#include <cstddef>
#include <string>

namespace tools {

// `text` as a JSON string, quotes included. Bytes of 0x80 and above are
// written as \u00XX: readers take the text as Latin-1.
std::string JsonString(const std::string& text);
// UTF-16 `text` as a JSON string: every character beyond ASCII as \uXXXX (a
// surrogate pair as two), so that a reader gets the exact text back.
std::string JsonString(const std::wstring& text);

// Bytes as lower-case hex digits, two per byte.
std::string HexBytes(const void* bytes, size_t count);

}  // namespace tools
