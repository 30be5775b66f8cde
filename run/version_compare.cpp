#include "run/version_compare.h"

namespace vantu {

bool IsOlderVersion(const std::string& installed, const std::string& offered) {
  for (size_t i = 0; i < installed.size(); ++i) {
    if (i >= offered.size()) return false;
    const auto mine = static_cast<signed char>(installed[i]);
    const auto theirs = static_cast<signed char>(offered[i]);
    if (mine != theirs) return mine < theirs;
  }
  return offered.size() > installed.size();
}

bool IsDeployableVersion(const std::wstring& version) {
  // Windows drops trailing dots and blanks from a path's last name, so a
  // name made of nothing else ("", ".", "..", "...", " ") names InstallPath
  // itself or the folder above it.
  if (version.find_first_not_of(L". ") == std::wstring::npos) return false;
  // A zero would end the path the platform sees before the version does.
  return version.find_first_of(std::wstring(L"\\/:\0", 4)) == std::wstring::npos;
}

}  // namespace vantu
