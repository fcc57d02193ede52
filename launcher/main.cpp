// The platform's GUI entry. The narrow command line and the show state are not
// used: the program reads its own command line in wide form.
#include "common/program_state.h"
#include "launcher/launcher.h"

#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    ModuleInstance = instance;
    return RunLauncher();
}
