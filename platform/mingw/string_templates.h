// mingw-w64 only: included ahead of every source of setup.exe's own code in
// release builds (cmake/ProductSize.cmake).
//
// libstdc++ declares std::string and std::wstring as instantiated in the
// library (extern templates), so that a program calls the library's copies
// of their member functions. Statically linked, that brings in the library's
// whole object of each instantiation: every member of basic_string<char> and
// of basic_string<wchar_t>, used or not, about 40 KB of code with their
// unwind tables in the 32-bit image. The linker cannot drop the unused ones:
// mingw-w64's linker script keeps every unwind table (.eh_frame, .pdata),
// and the tables refer to every function of their object. Taking away the
// declarations (the value -1 that libstdc++'s configuration gives them for
// that) has each object instantiate only the members it uses, as for any
// other template; the code is the same.
#include <bits/c++config.h>
#undef _GLIBCXX_EXTERN_TEMPLATE
#define _GLIBCXX_EXTERN_TEMPLATE -1
