// Watching the message boxes of a process: what each box showed (title, text,
// icon, styles, buttons), in the order the boxes appeared, each one closed with
// its OK button once it has been read.
//
// In the same process: start a BoxWatcher, call the code that shows boxes on
// this thread, then Finish(). For another program: RunWatchingBoxes().
//
// Under Wine's null graphics driver MB_TOPMOST does not show as WS_EX_TOPMOST,
// so `topmost` is false there even for a box asked to be topmost. The icon of
// a box of another process is told apart by box_icon_probe.dll, which the
// watcher hooks into the box's thread (looked for next to the running program,
// then where the build put it).
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace test {

enum class BoxIcon {
    None,        // no icon shown
    Stop,        // MB_ICONHAND / MB_ICONERROR
    Question,    // MB_ICONQUESTION
    Exclamation, // MB_ICONEXCLAMATION / MB_ICONWARNING
    Information, // MB_ICONASTERISK / MB_ICONINFORMATION
    Unknown      // an icon that cannot be matched to one of the above
};

// "none", "stop", "question", "exclamation", "information" or "unknown".
const char* BoxIconName(BoxIcon icon);

struct BoxButton {
    int id = 0;        // the control ID: IDOK, IDCANCEL, ...
    std::wstring text; // as shown, "&" included
};

struct ObservedBox {
    DWORD processId = 0;
    std::wstring title;
    std::wstring text; // the static control 0xFFFF
    BoxIcon icon = BoxIcon::None;
    LONG style = 0;                 // GWL_STYLE of the box window
    LONG exStyle = 0;               // GWL_EXSTYLE of the box window
    bool topmost = false;           // WS_EX_TOPMOST in exStyle
    bool foreground = false;        // the foreground window when the box was read
    bool owned = false;             // the box has an owner window
    std::vector<BoxButton> buttons; // in child-window order
};

// Watches, on a thread of its own, for dialog boxes (class "#32770") of one
// process, records each box once it is visible and then presses its OK button
// (or its only button when there is no OK).
class BoxWatcher {
  public:
    explicit BoxWatcher(DWORD processId = GetCurrentProcessId());
    ~BoxWatcher(); // stops watching
    BoxWatcher(const BoxWatcher&) = delete;
    BoxWatcher& operator=(const BoxWatcher&) = delete;

    // Waits up to `milliseconds` for `count` boxes in all to have been closed.
    bool WaitForBoxes(std::size_t count, DWORD milliseconds);

    // Stops watching and hands over the boxes seen so far, in order.
    std::vector<ObservedBox> Finish();

    struct State;

  private:
    std::shared_ptr<State> state_;
    std::thread thread_;
};

struct WatchedRun {
    bool started = false;  // the program could be started
    bool timedOut = false; // it was still running at the timeout and was ended
    DWORD exitCode = 0;
    std::vector<ObservedBox> boxes; // in the order they appeared
};

// Starts `commandLine` (program first, quoted where needed) in
// `workingDirectory` (empty: the current one), with `environment` ("NAME=value"
// entries set over this process's environment; "NAME=" removes NAME), watches
// its boxes until it ends, and gives its exit code and the boxes.
WatchedRun RunWatchingBoxes(const std::wstring& commandLine,
                            const std::wstring& workingDirectory = std::wstring(),
                            const std::vector<std::wstring>& environment = {},
                            DWORD timeoutMilliseconds = 120000);

// The box as box_driver prints it, UTF-8: "title: ...", "text: ...", "icon: ...",
// "style: 0x...", "exstyle: 0x...", "topmost: yes|no", "foreground: yes|no",
// "buttons: 1=OK ...", each line ended by "\n", then an empty line. In texts a
// line feed is written as "\n", a carriage return as "\r", a backslash as "\\".
std::string DescribeBox(const ObservedBox& box);

} // namespace test
