// mingw-w64 only, linked into setup.exe; compiled with
// _GLIBCXX_USE_CXX11_ABI=0, so that std::string here is the old
// (copy-on-write) string. The members of it that the C++ runtime's
// exceptions call (stdexcept, cow-stdexcept), instantiated from the same
// headers: see string_members.cpp for why.
#include <string>

template char* std::string::_S_construct(std::string::size_type, char, const std::allocator<char>&);
template void std::string::_Rep::_M_destroy(const std::allocator<char>&);
template void std::string::_Rep::_M_dispose(const std::allocator<char>&);
template char* std::string::_Rep::_M_clone(const std::allocator<char>&, std::string::size_type);
template std::string::_Rep* std::string::_Rep::_S_create(std::string::size_type, std::string::size_type,
                                                         const std::allocator<char>&);
template void std::string::swap(std::string&);
template std::string& std::string::assign(const std::string&);
