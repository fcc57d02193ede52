// GoogleTest entry for the test binaries: the module under test is the test
// binary itself, as it is PatchLauncher.exe in the program.
#include "common/program_state.h"

#include <gtest/gtest.h>

int wmain(int argc, wchar_t** argv) {
    ModuleInstance = GetModuleHandleW(nullptr);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
