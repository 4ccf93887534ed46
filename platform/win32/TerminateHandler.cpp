// libstdc++'s default terminate handler prints the demangled type of the
// exception, which links the whole C++ demangler into the program. Nothing
// should ever reach std::terminate here (every handler runs behind the
// window's failure boundary), so a plain abort is all that is wanted.
#include <cstdlib>  // also tells which standard library this is

#if defined(__GLIBCXX__)
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx
#endif
