#include "setup/version_compare.h"

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

}  // namespace vantu
