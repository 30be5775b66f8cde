#include "base/file_data.h"

namespace vantu {

DataCopy DataCopier::Copy(HANDLE source, HANDLE target, DataObserver* observer) {
  if (!buffer_) buffer_.reset(new BYTE[kChunkBytes]);
  DataCopy result;
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(source, buffer_.get(), kChunkBytes, &read, nullptr)) {
      result.error = GetLastError();
      result.readFailed = true;
      return result;
    }
    if (read == 0) break;
    result.bytes += read;
    if (observer && !observer->Observe(buffer_.get(), read)) return result;
    DWORD written = 0;
    if (!WriteFile(target, buffer_.get(), read, &written, nullptr) || written != read) {
      const DWORD error = GetLastError();
      result.error = error ? error : static_cast<DWORD>(ERROR_DISK_FULL);
      return result;
    }
  }
  result.copied = true;
  return result;
}

}  // namespace vantu
