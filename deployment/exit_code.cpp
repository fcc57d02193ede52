#include "deployment/exit_code.h"

InstallOutcome TheInstallOutcome;

DWORD FailureExitCode(DWORD code) {
    return code != ERROR_SUCCESS ? code : DWORD(ERROR_INSTALL_FAILURE);
}

void InstallOutcome::Reset() {
    *this = InstallOutcome();
}

void InstallOutcome::FailureReported(DWORD code) {
    if (failed_)
        return;
    failed_ = true;
    failureCode_ = code;
}

void InstallOutcome::PatchApplied(UINT result) {
    applied_ = true;
    NoteRestart(result);
}

void InstallOutcome::PatchRemoved(UINT result) {
    NoteRestart(result);
}

void InstallOutcome::RemovalPass() {
    removal_ = true;
}

void InstallOutcome::NoteRestart(UINT result) {
    if (result == ERROR_SUCCESS_REBOOT_INITIATED)
        rebootInitiated_ = true;
    // 1604: suspended by a ForceReboot, completed when the installer resumes
    // it after the restart.
    else if (result == ERROR_SUCCESS_REBOOT_REQUIRED || result == ERROR_SUCCESS_RESTART_REQUIRED ||
             result == ERROR_INSTALL_SUSPEND)
        rebootRequired_ = true;
}

void InstallOutcome::ProductUpToDate() {
    upToDate_ = true;
}

void InstallOutcome::RestartStarted() {
    restartStarted_ = true;
}

bool InstallOutcome::RestartNeeded() const {
    return rebootInitiated_ || rebootRequired_;
}

DWORD InstallOutcome::ExitCode() const {
    if (failed_)
        return FailureExitCode(failureCode_);
    if (restartStarted_ || rebootInitiated_)
        return ERROR_SUCCESS_REBOOT_INITIATED;
    if (rebootRequired_)
        return ERROR_SUCCESS_REBOOT_REQUIRED;
    if (!removal_ && !applied_ && !upToDate_)
        return ERROR_PATCH_TARGET_NOT_FOUND;
    return ERROR_SUCCESS;
}
