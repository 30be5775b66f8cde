// Text in the three encodings a run meets. Names and paths are UTF-16 and
// go through the wide Windows functions, so that a name Windows can store is
// handled exactly, whatever the ANSI code page. Versions are compared as
// text in the ANSI code page, and the run log is written in UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace vantu {

// Text in the ANSI code page as UTF-16.
std::wstring WideFromAnsi(std::string_view ansi);

// UTF-16 text in the ANSI code page; a character the code page lacks
// becomes the code page's default character ("?").
std::string AnsiFromWide(std::wstring_view wide);

// UTF-16 text as UTF-8; a lone surrogate becomes U+FFFD.
std::string Utf8FromWide(std::wstring_view wide);

// A number in decimal digits, as UTF-16 (for names: the C runtime's
// std::to_wstring would bring its whole formatted output into the image).
std::wstring WideDecimal(unsigned long long number);

// "0x000001FF": eight hexadecimal digits (a firmware word, a status, a tag).
std::string HexWord(unsigned long value);

// A conversion fails only when memory runs out; each of the three then
// throws std::bad_alloc, as the standard library does.

}  // namespace vantu
