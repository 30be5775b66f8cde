// Command lines for the processes the test tools start.
#pragma once

#include <string>

namespace tools {

// One argument quoted so that the C runtime's parser gives it back unchanged.
std::string QuoteArgument(const std::string& arg);
std::wstring QuoteArgument(const std::wstring& arg);

}  // namespace tools
