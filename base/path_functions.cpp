#include "base/path_functions.h"

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

}  // namespace vantu
