// Stands in for ExitWindowsEx, at the one place the program calls it: the
// import of this executable is pointed at a recorder while the value lives.
// No test restarts the computer, under Wine (whose ExitWindowsEx answers TRUE
// and does nothing) or anywhere else.
#pragma once

#include "common/holder.h"
#include "tests/support/import_redirect.h"

#include <windows.h>

#include <functional>
#include <utility>
#include <vector>

namespace test {

struct RestartRequest {
    UINT flags = 0;
    DWORD reason = 0;
    bool privilegeEnabled = false; // SE_SHUTDOWN_NAME enabled in the token at the call
};

// True when the process token has the shutdown privilege enabled.
inline bool ShutdownPrivilegeEnabled() {
    KernelHandle token;
    LUID shutdown = {};
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()) ||
        !LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &shutdown))
        return false;
    std::vector<BYTE> buffer(4096); // bytes, room for every privilege of a token
    DWORD size = 0;
    if (!GetTokenInformation(token.get(), TokenPrivileges, buffer.data(), DWORD(buffer.size()),
                             &size))
        return false;
    const auto* privileges = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer.data());
    for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
        const LUID_AND_ATTRIBUTES& entry = privileges->Privileges[i];
        if (entry.Luid.LowPart == shutdown.LowPart && entry.Luid.HighPart == shutdown.HighPart)
            return (entry.Attributes & SE_PRIVILEGE_ENABLED) != 0;
    }
    return false;
}

class RestartRecorder {
  public:
    // `onRestart` is called at each request, after it is recorded.
    explicit RestartRecorder(std::function<void()> onRestart = nullptr)
        : redirect_(L"user32.dll", "ExitWindowsEx", reinterpret_cast<void*>(&StandIn)) {
        Reset();
        State().onRestart = std::move(onRestart);
    }
    ~RestartRecorder() { Reset(); }
    RestartRecorder(const RestartRecorder&) = delete;
    RestartRecorder& operator=(const RestartRecorder&) = delete;

    // Forgets the requests; later calls answer TRUE and call nothing.
    void Reset() { State() = {}; }

    const std::vector<RestartRequest>& requests() const { return State().requests; }
    // What later calls answer; FALSE fails them with ERROR_ACCESS_DENIED.
    void Answer(BOOL answer) { State().answer = answer; }
    void OnRestart(std::function<void()> onRestart) { State().onRestart = std::move(onRestart); }

  private:
    struct Recorded {
        std::vector<RestartRequest> requests;
        BOOL answer = TRUE;
        std::function<void()> onRestart;
    };
    static Recorded& State() {
        static Recorded recorded;
        return recorded;
    }
    static BOOL WINAPI StandIn(UINT flags, DWORD reason) {
        State().requests.push_back({flags, reason, ShutdownPrivilegeEnabled()});
        if (State().onRestart)
            State().onRestart();
        if (!State().answer)
            SetLastError(ERROR_ACCESS_DENIED);
        return State().answer;
    }

    ImportRedirect redirect_;
};

} // namespace test
