#include "base/text_encoding.h"

#include <windows.h>

#include <limits>
#include <new>

namespace vantu {
namespace {

// The platform counts in int; text beyond that is no name nor version.
int CountOf(size_t size) {
  if (size > static_cast<size_t>(std::numeric_limits<int>::max())) throw std::bad_alloc();
  return static_cast<int>(size);
}

std::wstring ToWide(UINT codePage, std::string_view text) {
  if (text.empty()) return std::wstring();
  const int length = CountOf(text.size());
  const int needed = MultiByteToWideChar(codePage, 0, text.data(), length, nullptr, 0);
  if (needed <= 0) throw std::bad_alloc();
  std::wstring wide(static_cast<size_t>(needed), L'\0');
  if (MultiByteToWideChar(codePage, 0, text.data(), length, &wide[0], needed) != needed) throw std::bad_alloc();
  return wide;
}

std::string FromWide(UINT codePage, std::wstring_view wide) {
  if (wide.empty()) return std::string();
  const int length = CountOf(wide.size());
  const int needed = WideCharToMultiByte(codePage, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) throw std::bad_alloc();
  std::string text(static_cast<size_t>(needed), '\0');
  if (WideCharToMultiByte(codePage, 0, wide.data(), length, &text[0], needed, nullptr, nullptr) != needed) {
    throw std::bad_alloc();
  }
  return text;
}

}  // namespace

std::wstring WideFromAnsi(std::string_view ansi) { return ToWide(CP_ACP, ansi); }

std::string AnsiFromWide(std::wstring_view wide) { return FromWide(CP_ACP, wide); }

std::string Utf8FromWide(std::wstring_view wide) { return FromWide(CP_UTF8, wide); }

std::string HexWord(unsigned long value) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text = "0x00000000";
  for (size_t i = 9; i >= 2; --i, value >>= 4) text[i] = kDigits[value & 0xF];
  return text;
}

std::wstring WideDecimal(unsigned long long number) {
  std::wstring digits;
  do {
    digits.insert(digits.begin(), static_cast<wchar_t>(L'0' + number % 10));
    number /= 10;
  } while (number != 0);
  return digits;
}

}  // namespace vantu
