// Stands in for InitiateSystemShutdownExW, at the one place the program calls
// it: the import of this executable is pointed at a recorder while the value
// lives. No test restarts the computer, under Wine (whose restart functions
// restart nothing) or anywhere else.
#pragma once

#include "common/holder.h"
#include "tests/support/import_redirect.h"

#include <windows.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace test {

struct RestartRequest {
    std::wstring machine; // "(null)" for the local computer
    bool message = false; // a text for the notice was given
    DWORD timeout = 0;
    BOOL forceAppsClosed = TRUE;
    BOOL reboot = FALSE;
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
        : redirect_(L"advapi32.dll", "InitiateSystemShutdownExW",
                    reinterpret_cast<void*>(&StandIn)) {
        Reset();
        State().onRestart = std::move(onRestart);
    }
    ~RestartRecorder() { Reset(); }
    RestartRecorder(const RestartRecorder&) = delete;
    RestartRecorder& operator=(const RestartRecorder&) = delete;

    // Forgets the requests; later calls are accepted and call nothing.
    void Reset() { State() = {}; }

    const std::vector<RestartRequest>& requests() const { return State().requests; }
    // The errors that the next calls fail with, in order (0: accepted); once
    // they are used up, the last one answers every further call.
    void Answer(std::vector<DWORD> errors) { State().errors = std::move(errors); }
    void OnRestart(std::function<void()> onRestart) { State().onRestart = std::move(onRestart); }

  private:
    struct Recorded {
        std::vector<RestartRequest> requests;
        std::vector<DWORD> errors;
        std::function<void()> onRestart;
    };
    static Recorded& State() {
        static Recorded recorded;
        return recorded;
    }
    static BOOL WINAPI StandIn(LPWSTR machine, LPWSTR message, DWORD timeout, BOOL force,
                               BOOL reboot, DWORD reason) {
        Recorded& state = State();
        state.requests.push_back({machine == nullptr ? L"(null)" : machine, message != nullptr,
                                  timeout, force, reboot, reason, ShutdownPrivilegeEnabled()});
        if (state.onRestart)
            state.onRestart();
        const std::size_t call = state.requests.size() - 1;
        const DWORD error = state.errors.empty()         ? 0
                            : call < state.errors.size() ? state.errors[call]
                                                         : state.errors.back();
        if (error == 0)
            return TRUE;
        SetLastError(error);
        return FALSE;
    }

    ImportRedirect redirect_;
};

} // namespace test
