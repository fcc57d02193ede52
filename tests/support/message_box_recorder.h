// Records the arguments of every MessageBoxW call that the test binary makes,
// at the one place the program calls it, and shows nothing: the import of
// MessageBoxW in this executable is pointed at a recorder while the value
// lives. What a box looks like on screen depends on the display driver;
// what the program asked for does not.
#pragma once

#include "tests/support/import_redirect.h"

#include <windows.h>

#include <functional>
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
    // `onBox` is called at each box, after it is recorded. Fails the test when
    // the import cannot be redirected.
    explicit MessageBoxRecorder(std::function<void(const RecordedBox&)> onBox = nullptr);
    ~MessageBoxRecorder(); // puts the import back
    MessageBoxRecorder(const MessageBoxRecorder&) = delete;
    MessageBoxRecorder& operator=(const MessageBoxRecorder&) = delete;

    const std::vector<RecordedBox>& boxes() const;

  private:
    ImportRedirect redirect_;
};

} // namespace test
