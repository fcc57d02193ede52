// Points this executable's import of one platform function at a stand-in
// while the value lives, and puts it back when the value goes. The program's
// code linked into a test binary calls the platform through the binary's
// import table, so a test can watch or steer one call without changing the
// program.
#pragma once

#include <windows.h>

namespace test {

class ImportRedirect {
  public:
    // Fails the current test when `module` exports no `function` or this
    // executable does not import it.
    ImportRedirect(const wchar_t* module, const char* function, void* standIn);
    ~ImportRedirect();
    ImportRedirect(const ImportRedirect&) = delete;
    ImportRedirect& operator=(const ImportRedirect&) = delete;

    // The platform's own function, for stand-ins that pass calls on.
    void* original() const { return original_; }

  private:
    void* original_ = nullptr;
    void** slot_ = nullptr;
};

} // namespace test
