#include "registry/name_buffers.h"

namespace vantu {
namespace {

// Registry names are at most 16383 characters; a longer report is not one
// the buffer is made for.
constexpr DWORD kLongestName = 16383;

}  // namespace

NameBuffer::NameBuffer(HKEY key, Names names) : key_(key) {
  DWORD count = 0;
  DWORD longest = 0;
  const LSTATUS status =
      names == Names::kSubKeys
          ? RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &count, &longest, nullptr, nullptr, nullptr, nullptr,
                             nullptr, nullptr)
          : RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, &longest, nullptr,
                             nullptr, nullptr);
  if (status != ERROR_SUCCESS || longest > kLongestName) return;
  length_ = longest + 1;
  buffer_.reset(new wchar_t[length_]());
}

}  // namespace vantu
