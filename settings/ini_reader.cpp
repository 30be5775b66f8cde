#include "settings/ini_reader.h"

#include <limits>
#include <new>

namespace vantu {
namespace {

constexpr uint32_t kInitialBufferSize = 128;
constexpr wchar_t kSection[] = L"Common";
// The platform cuts a value that does not fit to bufferSize - 1 characters
// (a key list to bufferSize - 2) and reports that count. A value in quotes,
// which the platform returns without them, is cut one character shorter when
// it would just fill the buffer: to bufferSize - 2. So a count that reaches
// bufferSize - 2 is taken as cut, even when the value fitted.
constexpr uint32_t kCutMargin = 2;

}  // namespace

IniReader::~IniReader() { Close(); }

bool IniReader::Open(const std::wstring& path) {
  try {
    bufferSize_ = kInitialBufferSize;
    buffer_.reset();
    buffer_.reset(new wchar_t[kInitialBufferSize]);
    path_ = path;
  } catch (const std::bad_alloc&) {
    Close();
    return false;
  }
  return true;
}

void IniReader::Read(const wchar_t* key, const std::wstring& defaultText, std::wstring* value) {
  if (!buffer_) {
    *value = defaultText;  // not open: nothing to read from
    return;
  }
  for (;;) {
    const DWORD count = GetPrivateProfileStringW(kSection, key, defaultText.c_str(), buffer_.get(),
                                                 bufferSize_, path_.c_str());
    if (static_cast<uint64_t>(count) + kCutMargin < bufferSize_) break;
    if (bufferSize_ > std::numeric_limits<uint32_t>::max() / 2) throw std::bad_alloc();
    // The larger buffer is made before the old one goes, so that running out
    // of memory leaves the reader as it was.
    std::unique_ptr<wchar_t[]> grown(new wchar_t[static_cast<size_t>(bufferSize_) * 2]);
    buffer_ = std::move(grown);
    bufferSize_ *= 2;
  }
  value->assign(buffer_.get());
}

void IniReader::Close() {
  if (!path_.empty()) WritePrivateProfileStringW(nullptr, nullptr, nullptr, path_.c_str());
  path_.clear();
  buffer_.reset();
  bufferSize_ = 0;
}

}  // namespace vantu
