// Path texts as the setup handles them: narrow strings, backslash as the
// only separator, no access to the file system.
#pragma once

#include <string>

namespace vantu {

// The text up to and including the first colon, or empty when there is none.
std::string DrivePart(const std::string& path);

// The text after the last backslash or colon; empty when the path holds
// neither, or when one of them is its last character.
std::string FileNamePart(const std::string& path);

}  // namespace vantu
