// How the C++ library's failures end vindrel.exe: at once, by abort().
//
// The program catches one exception only: std::system_error from starting a
// thread, which the messenger client takes as a cue to serve "*" with fewer
// workers. Its throw is left as the library has it (there is no replacement
// for __throw_system_error here). For every other failure (memory gone, a
// string past its largest size) the program has no handler, so the exception
// would reach std::terminate and abort() all the same. Throwing those would
// cost the executable the library's exception classes and the old-ABI
// strings they carry, and the default terminate handler would add a name
// demangler and a printf just to write to a console a windowed program does
// not have: together about half of vindrel.exe.
//
// These replace the library's own definitions at link time; the library's
// declarations (from <string> and <exception>) are in scope, so a signature
// that drifts from them does not compile, and a failure function the library
// adds, if the program comes to need it, makes the link fail with a
// duplicate definition rather than pass. Linked into vindrel.exe only; the
// fallback test checks that a thread that cannot start is still caught there.
#include <cstdlib>
#include <exception>
#include <functional>
#include <string>

namespace {

[[noreturn]] void GiveUp()
{
    std::abort();
}

}  // namespace

namespace std {

void __throw_bad_exception() { GiveUp(); }
void __throw_bad_alloc() { GiveUp(); }
void __throw_bad_array_new_length() { GiveUp(); }
void __throw_bad_cast() { GiveUp(); }
void __throw_bad_typeid() { GiveUp(); }
void __throw_logic_error(const char*) { GiveUp(); }
void __throw_domain_error(const char*) { GiveUp(); }
void __throw_invalid_argument(const char*) { GiveUp(); }
void __throw_length_error(const char*) { GiveUp(); }
void __throw_out_of_range(const char*) { GiveUp(); }
void __throw_out_of_range_fmt(const char*, ...) { GiveUp(); }
void __throw_runtime_error(const char*) { GiveUp(); }
void __throw_range_error(const char*) { GiveUp(); }
void __throw_overflow_error(const char*) { GiveUp(); }
void __throw_underflow_error(const char*) { GiveUp(); }
void __throw_bad_function_call() { GiveUp(); }

}  // namespace std

namespace __gnu_cxx {

void __verbose_terminate_handler() { GiveUp(); }

}  // namespace __gnu_cxx
