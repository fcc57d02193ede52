// The launcher has no console: when an exception ends the program, the
// runtime's default terminate handler would only write a report nobody sees,
// and linking it brings in the whole symbol demangler. This definition takes
// its place in PatchLauncher.exe; the program ends the same way, by abort().
#include <cstdlib>

namespace __gnu_cxx {

void __verbose_terminate_handler() {
    std::abort();
}

} // namespace __gnu_cxx
