// Parts of the C++ runtime, made small. The program is linked statically,
// and a few of libstdc++'s own pieces drag in far more than they do: its
// terminate handler the whole demangler, its throw helpers a second string
// library (copy-on-write strings, for the texts of logic_error and its
// kind) and a random-number device, its guards for static locals a POSIX
// threads library. The ones here do the same work with what Windows has.
#include <windows.h>

#include <cstdlib>  // also tells which standard library this is
#include <new>

#include "platform/Failure.h"

#if defined(__GLIBCXX__)

namespace __gnu_cxx {
// Nothing should ever reach std::terminate here (every handler runs behind
// the window's failure boundary), so a plain abort is all that is wanted.
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx

// What the containers raise for a size they cannot have is a lack of
// memory; an index out of range or a null text is the program's own fault.
// Both reach the failure boundaries the program already has.
namespace std {
void __throw_bad_alloc() { throw std::bad_alloc(); }
void __throw_bad_array_new_length() { throw std::bad_alloc(); }
void __throw_length_error(const char*) { throw std::bad_alloc(); }
void __throw_logic_error(const char*) {
    throw tarnwick::Failure(ERROR_INTERNAL_ERROR, L"Unexpected failure.");
}
void __throw_out_of_range_fmt(const char*, ...) {
    throw tarnwick::Failure(ERROR_INTERNAL_ERROR, L"Unexpected failure.");
}
void __throw_system_error(int error) {
    throw tarnwick::Failure(error, L"Unexpected failure.");
}
void __throw_bad_function_call() {
    throw tarnwick::Failure(ERROR_INTERNAL_ERROR, L"Unexpected failure.");
}
}  // namespace std

// Guards of static locals (the Itanium C++ ABI's): the first byte says the
// object is made, and the second word that a thread is making it. Each
// guard waits on its own, so making one static while making another does
// not deadlock.
namespace {
LONG* Busy(long long* guard) { return reinterpret_cast<LONG*>(guard) + 1; }
bool Made(long long* guard) {
    return reinterpret_cast<volatile char*>(guard)[0] != 0;
}
}  // namespace

extern "C" int __cxa_guard_acquire(long long* guard) {
    for (;;) {
        if (Made(guard)) return 0;
        if (::InterlockedCompareExchange(Busy(guard), 1, 0) == 0) {
            if (!Made(guard)) return 1;  // this thread makes it
            ::InterlockedExchange(Busy(guard), 0);
            return 0;
        }
        ::SwitchToThread();
    }
}

extern "C" void __cxa_guard_release(long long* guard) {
    ::MemoryBarrier();
    reinterpret_cast<volatile char*>(guard)[0] = 1;
    ::InterlockedExchange(Busy(guard), 0);
}

extern "C" void __cxa_guard_abort(long long* guard) { ::InterlockedExchange(Busy(guard), 0); }

#endif
