// mingw-w64 only, linked into setup.exe with -Wl,--wrap=__cxa_demangle.
//
// The C++ runtime's default terminate handler demangles the type of an
// uncaught exception before printing it, which pulls the demangler (about
// 46 KB) into every statically linked program. setup.exe catches what it
// expects and has no use for pretty names when it does not, so the handler
// gets a demangler that always declines; it then prints the mangled name.
#include <cstddef>

extern "C" char* __wrap___cxa_demangle(const char* /*mangled*/, char* /*buffer*/, std::size_t* /*length*/,
                                       int* status) {
  if (status) *status = -2;  // "not a valid mangled name": the caller prints it as it is
  return nullptr;
}
