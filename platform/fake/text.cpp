// Text encodings: the ANSI code page of the process (1252 unless a test sets
// another), UTF-8, and the wide characters of the host. The host's wchar_t
// holds a whole code point (32 bits), where Windows' holds a UTF-16 code unit;
// nothing the product does with names tells the two apart.
//
// Inside the subset, names, paths and texts are kept as UTF-8, the encoding
// of the host's file names: the A functions convert from and to the ANSI
// code page at their edges, the W functions from and to wide characters.
#include <iconv.h>

#include <cerrno>
#include <cstring>
#include <cwctype>
#include <string>

#include "fake_win32/control.h"
#include "internal.h"

namespace fake_win32 {
namespace {

UINT g_ansiCodePage = 1252;

// The iconv name of a Windows code page this subset knows.
const char* IconvName(UINT codePage) {
  switch (codePage) {
    case 1252:
      return "CP1252";
    case 932:
      return "CP932";
    case 936:
      return "CP936";
    default:
      return nullptr;
  }
}

UINT Resolve(UINT codePage) { return codePage == CP_ACP ? g_ansiCodePage : codePage; }

// Code page 1252 by table, without iconv: every profile read of a test
// decodes a whole file, and iconv one byte at a time is slow. 0x00 to 0x7F
// and 0xA0 to 0xFF are the characters of the same number; 0x80 to 0x9F are
// these (the five bytes the code page leaves undefined keep their own
// number, as Windows has them).
const uint16_t k1252High[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

wchar_t From1252(unsigned char b) { return static_cast<wchar_t>(b >= 0x80 && b < 0xA0 ? k1252High[b - 0x80] : b); }

// The byte of a character in code page 1252; false when it has none.
bool To1252(uint32_t c, char* byte) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
    *byte = static_cast<char>(c);
    return true;
  }
  for (int i = 0; i < 32; ++i) {
    if (k1252High[i] == c) {
      *byte = static_cast<char>(0x80 + i);
      return true;
    }
  }
  return false;
}

void AppendUtf8(std::string* out, uint32_t c) {
  if (c >= 0xD800 && c <= 0xDFFF) c = 0xFFFD;  // a lone surrogate
  if (c > 0x10FFFF) c = 0xFFFD;
  if (c < 0x80) {
    *out += static_cast<char>(c);
  } else if (c < 0x800) {
    *out += static_cast<char>(0xC0 | (c >> 6));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    *out += static_cast<char>(0xE0 | (c >> 12));
    *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    *out += static_cast<char>(0xF0 | (c >> 18));
    *out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// Decodes UTF-8; a byte that starts no valid sequence becomes U+FFFD.
std::wstring DecodeUtf8(const char* text, size_t size) {
  std::wstring out;
  size_t i = 0;
  while (i < size) {
    const auto b = static_cast<unsigned char>(text[i]);
    int extra = b < 0x80 ? 0 : (b & 0xE0) == 0xC0 ? 1 : (b & 0xF0) == 0xE0 ? 2 : (b & 0xF8) == 0xF0 ? 3 : -1;
    uint32_t c = extra == 0 ? b : extra == 1 ? (b & 0x1F) : extra == 2 ? (b & 0x0F) : (b & 0x07);
    bool good = extra >= 0 && i + static_cast<size_t>(extra) < size + (extra == 0 ? 1 : 0);
    for (int k = 1; good && k <= extra; ++k) {
      const auto next = static_cast<unsigned char>(text[i + static_cast<size_t>(k)]);
      if ((next & 0xC0) != 0x80) good = false;
      c = (c << 6) | (next & 0x3F);
    }
    if (!good) {
      out += static_cast<wchar_t>(0xFFFD);
      ++i;
      continue;
    }
    out += static_cast<wchar_t>(c);
    i += static_cast<size_t>(extra) + 1;
  }
  return out;
}

// Converts with iconv, one input unit at a time, so that what the code page
// cannot express is replaced rather than the whole text refused.
std::wstring DecodeCodePage(UINT codePage, const char* text, size_t size) {
  const char* name = IconvName(codePage);
  if (codePage == CP_UTF8 || !name) return DecodeUtf8(text, size);
  if (codePage == 1252) {
    std::wstring out(size, L'\0');
    for (size_t i = 0; i < size; ++i) out[i] = From1252(static_cast<unsigned char>(text[i]));
    return out;
  }
  iconv_t cd = iconv_open("WCHAR_T", name);
  std::wstring out;
  size_t i = 0;
  while (i < size) {
    wchar_t converted = 0;
    bool done = false;
    // A character takes one or two bytes in the code pages known here.
    for (size_t length = 1; length <= 2 && i + length <= size && !done; ++length) {
      char* in = const_cast<char*>(text + i);
      size_t inLeft = length;
      char* outBytes = reinterpret_cast<char*>(&converted);
      size_t outLeft = sizeof converted;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
      if (iconv(cd, &in, &inLeft, &outBytes, &outLeft) != static_cast<size_t>(-1) && inLeft == 0) {
        out += converted;
        i += length;
        done = true;
      }
    }
    if (!done) {
      // Windows gives a byte that the code page leaves undefined its own
      // value (0x81 in 1252 is U+0081).
      out += static_cast<wchar_t>(static_cast<unsigned char>(text[i]));
      ++i;
    }
  }
  iconv_close(cd);
  return out;
}

std::string EncodeCodePage(UINT codePage, const wchar_t* text, size_t size, bool* usedDefault) {
  if (usedDefault) *usedDefault = false;
  std::string out;
  const char* name = IconvName(codePage);
  if (codePage == CP_UTF8 || !name) {
    for (size_t i = 0; i < size; ++i) AppendUtf8(&out, static_cast<uint32_t>(text[i]));
    return out;
  }
  if (codePage == 1252) {
    for (size_t i = 0; i < size; ++i) {
      char byte = '?';
      if (!To1252(static_cast<uint32_t>(text[i]), &byte) && usedDefault) *usedDefault = true;
      out += byte;
    }
    return out;
  }
  iconv_t cd = iconv_open(name, "WCHAR_T");
  for (size_t i = 0; i < size; ++i) {
    char* in = reinterpret_cast<char*>(const_cast<wchar_t*>(text + i));
    size_t inLeft = sizeof(wchar_t);
    char bytes[8];
    char* outBytes = bytes;
    size_t outLeft = sizeof bytes;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd, &in, &inLeft, &outBytes, &outLeft) != static_cast<size_t>(-1)) {
      out.append(bytes, sizeof bytes - outLeft);
    } else {
      out += '?';
      if (usedDefault) *usedDefault = true;
    }
  }
  iconv_close(cd);
  return out;
}

}  // namespace

void SetAnsiCodePage(UINT codePage) { g_ansiCodePage = codePage; }
UINT AnsiCodePage() { return g_ansiCodePage; }

namespace internal {

void ResetText() { g_ansiCodePage = 1252; }

std::string Utf8FromWide(const wchar_t* text, size_t size) { return EncodeCodePage(CP_UTF8, text, size, nullptr); }
std::string Utf8FromWide(const std::wstring& text) { return Utf8FromWide(text.data(), text.size()); }
std::wstring WideFromUtf8(const std::string& text) { return DecodeUtf8(text.data(), text.size()); }

std::string Utf8FromAnsi(const char* text) {
  const std::wstring wide = DecodeCodePage(g_ansiCodePage, text, std::strlen(text));
  return Utf8FromWide(wide);
}

std::string AnsiFromUtf8(const std::string& text) {
  const std::wstring wide = WideFromUtf8(text);
  return EncodeCodePage(g_ansiCodePage, wide.data(), wide.size(), nullptr);
}

std::string Text(const char* s) { return s ? Utf8FromAnsi(s) : std::string("(null)"); }

std::string Text(const wchar_t* s) { return s ? Utf8FromWide(s, std::wcslen(s)) : std::string("(null)"); }

}  // namespace internal

}  // namespace fake_win32

using namespace fake_win32;

UINT WINAPI GetACP() { return g_ansiCodePage; }

int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int size, LPWSTR wide, int wideSize) {
  if (auto fault = internal::Enter("MultiByteToWideChar", {internal::Num(codePage), internal::Hex(flags),
                                                           internal::Num(size), internal::Num(wideSize)})) {
    SetLastError(*fault);
    return 0;
  }
  if (!text || size < -1 || wideSize < 0 || (wideSize > 0 && !wide)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const UINT page = Resolve(codePage);
  if (page != CP_UTF8 && !IconvName(page)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const size_t length = size == -1 ? std::strlen(text) + 1 : static_cast<size_t>(size);
  const std::wstring converted = DecodeCodePage(page, text, length);
  if (wideSize == 0) return static_cast<int>(converted.size());
  if (converted.size() > static_cast<size_t>(wideSize)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::wmemcpy(wide, converted.data(), converted.size());
  return static_cast<int>(converted.size());
}

int WINAPI WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int wideSize, LPSTR text, int size,
                               LPCSTR defaultChar, BOOL* usedDefaultChar) {
  if (auto fault = internal::Enter("WideCharToMultiByte", {internal::Num(codePage), internal::Hex(flags),
                                                           internal::Num(wideSize), internal::Num(size)})) {
    SetLastError(*fault);
    return 0;
  }
  if (!wide || wideSize < -1 || size < 0 || (size > 0 && !text)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const UINT page = Resolve(codePage);
  if ((page != CP_UTF8 && !IconvName(page)) || (page == CP_UTF8 && (defaultChar || usedDefaultChar))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const size_t length = wideSize == -1 ? std::wcslen(wide) + 1 : static_cast<size_t>(wideSize);
  bool usedDefault = false;
  const std::string converted = EncodeCodePage(page, wide, length, &usedDefault);
  if (usedDefaultChar) *usedDefaultChar = usedDefault ? TRUE : FALSE;
  if (size == 0) return static_cast<int>(converted.size());
  if (converted.size() > static_cast<size_t>(size)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(text, converted.data(), converted.size());
  return static_cast<int>(converted.size());
}

int WINAPI CompareStringOrdinal(const WCHAR* first, int firstLength, const WCHAR* second, int secondLength,
                                BOOL ignoreCase) {
  fake_win32::internal::Record("CompareStringOrdinal", {});
  if (!first || !second) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const std::wstring a = firstLength < 0 ? std::wstring(first) : std::wstring(first, static_cast<size_t>(firstLength));
  const std::wstring b =
      secondLength < 0 ? std::wstring(second) : std::wstring(second, static_cast<size_t>(secondLength));
  for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
    const wint_t x = ignoreCase ? std::towupper(static_cast<wint_t>(a[i])) : static_cast<wint_t>(a[i]);
    const wint_t y = ignoreCase ? std::towupper(static_cast<wint_t>(b[i])) : static_cast<wint_t>(b[i]);
    if (x != y) return x < y ? CSTR_LESS_THAN : CSTR_GREATER_THAN;
  }
  return a.size() == b.size() ? CSTR_EQUAL : a.size() < b.size() ? CSTR_LESS_THAN : CSTR_GREATER_THAN;
}
