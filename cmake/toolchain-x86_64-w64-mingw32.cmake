# Cross toolchain: 64-bit Windows programs built by mingw-w64 on Linux. The
# bridge for 64-bit callers, and the build whose tests run on hosts that
# start no 32-bit code.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(_triple x86_64-w64-mingw32)
set(_wine_lane 64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-toolchain.cmake)
