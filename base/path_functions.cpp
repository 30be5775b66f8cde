#include "base/path_functions.h"

#include <windows.h>

#include <string_view>

namespace vantu {

std::wstring DrivePart(const std::wstring& path) {
  const size_t colon = path.find(L':');
  return colon == std::wstring::npos ? std::wstring() : path.substr(0, colon + 1);
}

std::wstring FileNamePart(const std::wstring& path) {
  const size_t separator = path.find_last_of(L"\\:");
  if (separator == std::wstring::npos) return std::wstring();
  return path.substr(separator + 1);
}

namespace {

wchar_t UpperAscii(wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c; }

// The text without one trailing backslash.
std::wstring_view WithoutTrailingBackslash(const std::wstring& path) {
  std::wstring_view view(path);
  if (!view.empty() && view.back() == L'\\') view.remove_suffix(1);
  return view;
}

}  // namespace

bool SameNameText(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (UpperAscii(a[i]) != UpperAscii(b[i])) return false;
  }
  return true;
}

bool SamePathText(const std::wstring& a, const std::wstring& b) {
  return SameNameText(WithoutTrailingBackslash(a), WithoutTrailingBackslash(b));
}

bool LiesBelowFolder(const std::wstring& path, const std::wstring& folder) {
  const std::wstring_view base = WithoutTrailingBackslash(folder);
  if (base.empty() || path.size() < base.size() + 2) return false;
  return SameNameText(std::wstring_view(path).substr(0, base.size()), base) && path[base.size()] == L'\\' &&
         path[base.size() + 1] != L'\\';
}

std::wstring PathFromFinalPath(const std::wstring& finalPath) {
  static const wchar_t kUnc[] = L"\\\\?\\UNC\\";
  static const wchar_t kLocal[] = L"\\\\?\\";
  if (finalPath.compare(0, 8, kUnc) == 0) return L"\\\\" + finalPath.substr(8);
  if (finalPath.compare(0, 4, kLocal) == 0) return finalPath.substr(4);
  return finalPath;
}

std::wstring JoinPath(const std::wstring& folder, const std::wstring& name) {
  if (folder.empty() || folder.back() == L'\\') return folder + name;
  return folder + L"\\" + name;
}

bool SameFileName(std::wstring_view a, std::wstring_view b) {
  return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE) ==
         CSTR_EQUAL;
}

}  // namespace vantu
