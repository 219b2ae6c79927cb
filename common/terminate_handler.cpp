// The C++ runtime's default terminate handler ("terminate called after throwing an instance of
// ..."), replaced. libstdc++'s own one writes the demangled name of the exception's type to
// stderr, and so links its whole name demangler (about 50 KB of code and unwind tables) into the
// DLL; a DLL inside the browser has no stderr to write to. This one ends the process as the
// default does in the end (abort), without the message. Linked statically, this definition is
// taken instead of the library's, whose object file is then never pulled in.
#include <cstdlib>

namespace __gnu_cxx {
void __verbose_terminate_handler() {
    std::abort();
}
}  // namespace __gnu_cxx
