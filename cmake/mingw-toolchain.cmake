# Shared part of the mingw-w64 cross toolchains. The including file sets
# _triple (the compiler's target) and _wine_lane (32 or 64: which Wine
# loader runs the test programs).
set(CMAKE_SYSTEM_NAME Windows)

# The posix thread model: its C++ runtime has std::mutex and std::thread,
# which GoogleTest needs. Linked statically like the rest of the runtime.
set(CMAKE_C_COMPILER   ${_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_triple}-g++-posix)
set(CMAKE_RC_COMPILER  ${_triple}-windres)
set(CMAKE_AR           ${_triple}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB       ${_triple}-ranlib CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The C++ runtime and libgcc are linked in, so that every program needs
# only the DLLs that come with Windows. The linker writes no time stamp
# (0 in the file header and the export directory): two links of the same
# objects give the same image.
set(CMAKE_EXE_LINKER_FLAGS_INIT
    "-static -static-libgcc -static-libstdc++ -Wl,--dynamicbase -Wl,--nxcompat -Wl,--no-insert-timestamp")

# Paths in the code (__FILE__, debug information before stripping) are
# relative to the source tree, wherever it lies: a release built in another
# folder gives the same image.
get_filename_component(_source_root "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
set(CMAKE_C_FLAGS_INIT "-ffile-prefix-map=${_source_root}/=")
set(CMAKE_CXX_FLAGS_INIT "-ffile-prefix-map=${_source_root}/=")

# Test programs run under Wine, through the loader of this build's lane
# (see cmake/wine-run).
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run --lane ${_wine_lane})

# The C++ runtime and libgcc of the win32 thread model (Debian installs both
# models with the cross compilers). setup.exe starts no threads and uses no
# std::thread or std::mutex, so it links these instead of the posix model's:
# on i686 the posix model's unwinder calls pthread_once, which brings all of
# winpthreads (26 KiB) into the image. A program that did use the posix
# model's thread functions would fail to link with them, not run wrong.
execute_process(COMMAND ${_triple}-gcc-win32 -print-libgcc-file-name
                OUTPUT_VARIABLE _win32_threads_libgcc OUTPUT_STRIP_TRAILING_WHITESPACE
                RESULT_VARIABLE _win32_threads_found)
if(_win32_threads_found EQUAL 0 AND EXISTS "${_win32_threads_libgcc}")
  get_filename_component(FANSETUP_WIN32_THREADS_RUNTIME "${_win32_threads_libgcc}" DIRECTORY)
endif()
