// What ends the program when an exception escapes everything (the window
// procedures catch theirs, so this is the last resort). The C++ runtime's
// own handler writes the exception's demangled type name to the standard
// error stream, which a window program does not have, and brings along its
// demangler: some 50 KB of code that every start would load. This one ends
// the program the same way, without the message. Being an object of the
// program, it is found before the runtime's.
#include <cstdlib>
#include <exception>

namespace __gnu_cxx {

void __verbose_terminate_handler() { std::abort(); }

}  // namespace __gnu_cxx
