// Records the arguments of every MessageBoxW call that the test binary makes,
// at the one place the program calls it, and shows nothing: the import of
// MessageBoxW in this executable is pointed at a recorder while the value
// lives. What a box looks like on screen depends on the display driver;
// what the program asked for does not.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace test {

struct RecordedBox {
    HWND owner = nullptr;
    std::wstring text;
    std::wstring title;
    UINT style = 0;
};

class MessageBoxRecorder {
  public:
    MessageBoxRecorder();  // fails the test when the import cannot be redirected
    ~MessageBoxRecorder(); // puts the import back
    MessageBoxRecorder(const MessageBoxRecorder&) = delete;
    MessageBoxRecorder& operator=(const MessageBoxRecorder&) = delete;

    const std::vector<RecordedBox>& boxes() const;
};

} // namespace test
