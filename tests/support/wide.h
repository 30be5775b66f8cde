// UTF-8 text of the tests as the product's UTF-16 names, and back, without a
// platform call (so that counting a test's platform calls is not disturbed).
// wchar_t holds UTF-16 on Windows and a whole code point on the host.
#pragma once

#include <string>

namespace test_support {

std::wstring W(const std::string& utf8);
std::string U8(const std::wstring& wide);

}  // namespace test_support
