#include "tests/support/test_support.h"

namespace test {

std::wstring Quote(const std::wstring& argument) {
    return L"\"" + argument + L"\"";
}

ProcessResult RunProcess(const std::wstring& commandLine, const std::wstring& workingDirectory,
                         DWORD timeoutMilliseconds) {
    ProcessResult result;
    std::wstring mutableLine = commandLine; // CreateProcessW may write into it
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, &mutableLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                        workingDirectory.empty() ? nullptr : workingDirectory.c_str(), &startup,
                        &process))
        return result;
    result.started = true;
    if (WaitForSingleObject(process.hProcess, timeoutMilliseconds) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 259);
        WaitForSingleObject(process.hProcess, INFINITE);
    }
    GetExitCodeProcess(process.hProcess, &result.exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return result;
}

} // namespace test
