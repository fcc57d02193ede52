// Starting programs and converting text for the test binaries and the test
// tools; free of GoogleTest, so that box_driver.exe can use it too.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace test {

struct ProcessResult {
    bool started = false;  // the program could be started
    bool timedOut = false; // it was still running at the timeout and was ended
    DWORD exitCode = 0;
};

// Runs `commandLine` (the program first, quoted where needed) in
// `workingDirectory` (empty: the current one) and waits for it to end.
// `environment` holds "NAME=value" entries set over this process's environment
// ("NAME=" removes NAME); `onStarted` is called with the new process's ID as
// soon as it runs. `desktop` ("station\\desktop") is where it starts; none:
// this process's.
ProcessResult RunProcess(const std::wstring& commandLine,
                         const std::wstring& workingDirectory = std::wstring(),
                         DWORD timeoutMilliseconds = 120000,
                         const std::vector<std::wstring>& environment = {},
                         const std::function<void(DWORD processId)>& onStarted = nullptr,
                         const std::wstring& desktop = std::wstring());

// Quotes an argument for a command line so that CommandLineToArgvW reads it
// back unchanged.
std::wstring Quote(const std::wstring& argument);

std::string Narrow(const std::wstring& text); // UTF-8
std::wstring Widen(const std::string& text);  // from UTF-8

} // namespace test
