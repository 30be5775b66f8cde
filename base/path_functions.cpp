#include "base/path_functions.h"

namespace vantu {

std::string DrivePart(const std::string& path) {
  const size_t colon = path.find(':');
  return colon == std::string::npos ? std::string() : path.substr(0, colon + 1);
}

std::string FileNamePart(const std::string& path) {
  const size_t separator = path.find_last_of("\\:");
  if (separator == std::string::npos) return std::string();
  return path.substr(separator + 1);
}

}  // namespace vantu
