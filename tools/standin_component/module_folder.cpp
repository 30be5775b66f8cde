#include "module_folder.h"

#include <vector>

namespace standin {

std::wstring ExecutablePath() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD size = static_cast<DWORD>(buffer.size());
    const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), size);
    if (length == 0) return std::wstring();
    if (length < size) return std::wstring(buffer.data(), length);
    buffer.resize(buffer.size() * 2);
  }
}

std::wstring ExecutableFolder() {
  std::wstring path = ExecutablePath();
  const size_t slash = path.find_last_of(L"\\/");
  if (slash == std::wstring::npos) return std::wstring();
  path.resize(slash + 1);
  return path;
}

namespace {

std::string Convert(UINT codePage, const wchar_t* text, size_t length) {
  if (length == 0) return std::string();
  const int count = static_cast<int>(length);
  const int bytes = WideCharToMultiByte(codePage, 0, text, count, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return std::string();
  std::string result(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(codePage, 0, text, count, &result[0], bytes, nullptr, nullptr);
  return result;
}

}  // namespace

std::string ToAnsi(const std::wstring& text) { return Convert(CP_ACP, text.data(), text.size()); }

std::string ToUtf8(const wchar_t* text, size_t length) { return Convert(CP_UTF8, text, length); }

std::string ToUtf8(const std::wstring& text) { return ToUtf8(text.data(), text.size()); }

}  // namespace standin
