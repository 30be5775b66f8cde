/* The one thing header_caller needs beyond fan_acpi_bridge.h: finishing the
 * load of setup.exe (its import address table, and under Wine its
 * relocations), which LoadLibrary leaves undone for an executable. A C
 * interface to tools/export_client/image_loader.cpp. */
#ifndef HEADER_CALLER_FINISH_LOAD_H
#define HEADER_CALLER_FINISH_LOAD_H

#include <windows.h>

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* 1 when the image mapped at `module` (loaded from `path`) is ready to be
 * called, with a summary of what was done in `message`; 0 with the reason. */
int FinishImageLoad(HMODULE module, const char *path, char *message, size_t size);

#ifdef __cplusplus
}
#endif

#endif
