#include "base/error_text.h"

#include "base/text_encoding.h"

namespace vantu {

std::string ErrorText(DWORD error) {
  std::string text = std::to_string(error);
  wchar_t message[512];
  DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                                message, sizeof message / sizeof message[0], nullptr);
  while (length > 0 && (message[length - 1] == L'\r' || message[length - 1] == L'\n' || message[length - 1] == L' ')) {
    --length;
  }
  if (length > 0) text += " (" + Utf8FromWide(std::wstring_view(message, length)) + ")";
  return text;
}

}  // namespace vantu
