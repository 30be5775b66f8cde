// Reads string values from section "Common" of one INI file through the
// platform's profile-string service.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

namespace vantu {

class IniReader {
 public:
  IniReader() = default;
  ~IniReader();
  IniReader(const IniReader&) = delete;
  IniReader& operator=(const IniReader&) = delete;

  // Binds the reader to `path` with a buffer of 128 characters. False only
  // when memory runs out; the reader is then closed.
  bool Open(const std::string& path);

  // Replaces `*value` with the value of `key` in section "Common", or with
  // `defaultText` when the file, the section or the key is missing. A null
  // key reads the section's key names. The buffer doubles until the value
  // fits with two characters to spare; its size is kept for later reads.
  void Read(const char* key, const std::string& defaultText, std::string* value);

  // Flushes the platform's cached copy of the file and releases the buffer.
  void Close();

  uint32_t buffer_size() const { return bufferSize_; }

 private:
  std::string path_;
  std::unique_ptr<char[]> buffer_;
  uint32_t bufferSize_ = 0;
};

}  // namespace vantu
