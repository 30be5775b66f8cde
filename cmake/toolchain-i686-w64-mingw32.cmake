# Cross toolchain: 32-bit Windows programs built by mingw-w64 on Linux. The
# product as shipped.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(_triple i686-w64-mingw32)
set(_wine_lane 32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-toolchain.cmake)
