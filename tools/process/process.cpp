#include "tools/process/process.h"

#include "common/holder.h"

#include <algorithm>
#include <cwchar>
#include <utility>

namespace test {

namespace {

std::wstring VariableName(const std::wstring& entry) {
    // Entries such as "=C:=C:\dir" start with "=": the name runs to the second one.
    const std::size_t equals = entry.find(L'=', 1);
    return entry.substr(0, equals);
}

bool SameName(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// This process's environment with `changes` applied, as a CreateProcessW block.
std::vector<wchar_t> BuildEnvironment(const std::vector<std::wstring>& changes) {
    std::vector<std::wstring> entries;
    if (wchar_t* block = GetEnvironmentStringsW()) {
        for (const wchar_t* entry = block; *entry != L'\0'; entry += std::wcslen(entry) + 1)
            entries.emplace_back(entry);
        FreeEnvironmentStringsW(block);
    }
    for (const std::wstring& change : changes) {
        const std::wstring name = VariableName(change);
        entries.erase(std::remove_if(entries.begin(), entries.end(),
                                     [&name](const std::wstring& entry) {
                                         return SameName(VariableName(entry), name);
                                     }),
                      entries.end());
        if (change.size() > name.size() + 1)
            entries.push_back(change);
    }
    std::vector<wchar_t> block;
    for (const std::wstring& entry : entries) {
        block.insert(block.end(), entry.begin(), entry.end());
        block.push_back(L'\0');
    }
    block.push_back(L'\0');
    if (block.size() == 1)
        block.push_back(L'\0'); // an empty block still ends with two terminators
    return block;
}

} // namespace

ProcessResult RunProcess(const std::wstring& commandLine, const std::wstring& workingDirectory,
                         DWORD timeoutMilliseconds, const std::vector<std::wstring>& environment,
                         const std::function<void(DWORD processId)>& onStarted,
                         const std::wstring& desktop) {
    ProcessResult result;
    std::wstring mutableLine = commandLine; // CreateProcessW may write into it
    std::vector<wchar_t> block;
    if (!environment.empty())
        block = BuildEnvironment(environment);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    std::wstring desktopName = desktop; // lpDesktop is not const
    if (!desktopName.empty())
        startup.lpDesktop = &desktopName[0];
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(
            nullptr, &mutableLine[0], nullptr, nullptr, FALSE,
            block.empty() ? 0 : CREATE_UNICODE_ENVIRONMENT, block.empty() ? nullptr : block.data(),
            workingDirectory.empty() ? nullptr : workingDirectory.c_str(), &startup, &process))
        return result;
    const KernelHandle processHandle(process.hProcess);
    const KernelHandle threadHandle(process.hThread);
    result.started = true;
    if (onStarted)
        onStarted(process.dwProcessId);
    if (WaitForSingleObject(processHandle.get(), timeoutMilliseconds) != WAIT_OBJECT_0) {
        result.timedOut = true;
        TerminateProcess(processHandle.get(), 259);
        WaitForSingleObject(processHandle.get(), INFINITE);
    }
    GetExitCodeProcess(processHandle.get(), &result.exitCode);
    return result;
}

std::wstring Quote(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos)
        return argument;
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, L'\\');
    return quoted + L"\"";
}

std::string Narrow(const std::wstring& text) {
    if (text.empty())
        return std::string();
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string result(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), &result[0], size, nullptr,
                        nullptr);
    return result;
}

std::wstring Widen(const std::string& text) {
    if (text.empty())
        return std::wstring();
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
    std::wstring result(size, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), &result[0], size);
    return result;
}

} // namespace test
