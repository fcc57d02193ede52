#include "deployment/restart.h"

#include "common/holder.h"
#include "deployment/run_log.h"

#include <reason.h>

namespace {

// A planned restart for an installation, as the event log records it.
constexpr DWORD RestartReason =
    SHTDN_REASON_MAJOR_APPLICATION | SHTDN_REASON_MINOR_INSTALLATION | SHTDN_REASON_FLAG_PLANNED;

// InitiateSystemShutdownExW, not ExitWindowsEx: the latter ends only the
// caller's logon session and can succeed without restarting anything when
// the caller is not the interactive user (SYSTEM under a management agent).
bool RequestRestart() {
    for (int attempt = 1;; ++attempt) {
        // This computer, Windows' own notice, programs asked to close (not
        // forced), a restart after the shutdown.
        if (InitiateSystemShutdownExW(nullptr, nullptr, RestartGracePeriodSeconds, FALSE, TRUE,
                                      RestartReason))
            return true;
        const DWORD error = GetLastError();
        // Not ready: someone is signing in, say; worth asking again shortly.
        if (error != ERROR_NOT_READY || attempt == RestartAttempts)
            return false;
        LogLine(L"restart: the system is not ready (error ", error, L"), asking again in ",
                RestartRetryPauseMs, L" ms");
        Sleep(RestartRetryPauseMs);
    }
}

} // namespace

bool RestartComputer() {
    KernelHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.put()))
        return false;
    TOKEN_PRIVILEGES enable = {};
    enable.PrivilegeCount = 1;
    enable.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (!LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &enable.Privileges[0].Luid))
        return false;
    TOKEN_PRIVILEGES previous = {}; // room for the one privilege changed
    DWORD previousSize = sizeof previous;
    if (!AdjustTokenPrivileges(token.get(), FALSE, &enable, sizeof previous, &previous,
                               &previousSize))
        return false;
    // Success without the privilege enabled: the account does not hold it.
    if (GetLastError() == ERROR_NOT_ALL_ASSIGNED)
        return false;
    const bool accepted = RequestRestart();
    const DWORD error = GetLastError();
    // Back as it was: the privilege was enabled for the call alone.
    AdjustTokenPrivileges(token.get(), FALSE, &previous, 0, nullptr, nullptr);
    SetLastError(error);
    return accepted;
}
