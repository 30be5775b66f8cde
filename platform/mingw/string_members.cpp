// mingw-w64 only, linked into setup.exe.
//
// The C++ runtime's exceptions keep their message in a string of the old
// (copy-on-write) std::string, in the runtime's stdexcept and sso_string
// objects. Those need a few members of std::string: without a copy here,
// the linker fetches them from the runtime's objects that instantiate every
// member of both std::string kinds (and std::random_device with them), some
// 50 KB of code and unwind tables in the 32-bit image, nearly all of it
// unused (see string_templates.h for why the linker keeps it). This object
// instantiates just the members that those runtime objects call, from the
// same headers: the code is the library's own.
#include <string>

template std::string::pointer std::string::_M_create(std::string::size_type&, std::string::size_type);
template void std::string::_M_assign(const std::string&);
