#include "common/command_line.h"

namespace tools {
namespace {

template <typename Char>
std::basic_string<Char> Quoted(const std::basic_string<Char>& arg) {
  using Text = std::basic_string<Char>;
  const Char special[] = {Char(' '), Char('\t'), Char('"'), Char(0)};
  if (!arg.empty() && arg.find_first_of(special) == Text::npos) return arg;
  Text out(1, Char('"'));
  size_t backslashes = 0;
  for (Char c : arg) {
    if (c == Char('\\')) {
      ++backslashes;
      continue;
    }
    // Backslashes before a quote are doubled and the quote escaped; others stay.
    out.append(c == Char('"') ? backslashes * 2 + 1 : backslashes, Char('\\'));
    backslashes = 0;
    out += c;
  }
  // Before the closing quote, every backslash is doubled.
  out.append(backslashes * 2, Char('\\'));
  return out + Char('"');
}

}  // namespace

std::string QuoteArgument(const std::string& arg) { return Quoted(arg); }
std::wstring QuoteArgument(const std::wstring& arg) { return Quoted(arg); }

}  // namespace tools
