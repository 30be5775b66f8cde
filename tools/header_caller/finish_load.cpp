#include "finish_load.h"

#include <cstdio>
#include <string>

#include "export_client/image_loader.h"

extern "C" int FinishImageLoad(HMODULE module, const char* path, char* message, size_t size) {
  export_client::LoadReport report;
  std::string error;
  if (!export_client::CompleteImageLoad(module, path, report, error)) {
    std::snprintf(message, size, "%s", error.c_str());
    return 0;
  }
  std::snprintf(message, size, "relocations applied here: %lu; imports resolved here: %lu, found resolved: %lu",
                static_cast<unsigned long>(report.relocationsApplied),
                static_cast<unsigned long>(report.importsResolved), static_cast<unsigned long>(report.importsFound));
  return 1;
}
