#include "deployment/installer_wait.h"

#include "common/holder.h"
#include "deployment/run_log.h"

#include <algorithm>

DWORD InstallerWaits::Spend(DWORD ms) {
    spentMs_ += std::min(ms, Left());
    return ms;
}

DWORD InstallerWaits::SpendSince(ULONGLONG start) {
    return Spend(static_cast<DWORD>(std::min<ULONGLONG>(GetTickCount64() - start, MAXDWORD)));
}

void InstallerWaits::WaitWhileBusy() {
    if (Left() == 0)
        return;
    const KernelHandle mutex(OpenMutexW(SYNCHRONIZE, FALSE, InstallerExecuteMutex));
    if (!mutex)
        return; // no installation has run since the service started
    const ULONGLONG start = GetTickCount64();
    DWORD wait = WaitForSingleObject(mutex.get(), 0);
    const bool busy = wait == WAIT_TIMEOUT;
    if (busy) {
        LogLine(L"another installation is running (", InstallerExecuteMutex,
                L" is held): waiting for it, at most ", Left(), L" ms");
        wait = WaitForSingleObject(mutex.get(), Left());
    }
    // Taken by the wait: given back at once, the service needs it.
    if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED)
        ReleaseMutex(mutex.get());
    // A wait that timed out took all that was left.
    const DWORD waited = wait == WAIT_TIMEOUT ? Spend(Left()) : SpendSince(start);
    if (!busy)
        return;
    if (wait == WAIT_TIMEOUT)
        LogLine(L"waited ", waited, L" ms; the other installation still runs and the ", budgetMs_,
                L" ms for waiting are spent");
    else
        LogLine(L"waited ", waited, L" ms for the other installation to end");
}

bool InstallerWaits::WaitBeforeRetry() {
    if (Left() == 0) {
        if (budgetMs_ != 0)
            LogLine(L"the installer is busy (1618) and the ", budgetMs_,
                    L" ms for waiting are spent: not tried again");
        return false;
    }
    const KernelHandle mutex(OpenMutexW(SYNCHRONIZE, FALSE, InstallerExecuteMutex));
    if (mutex) {
        const DWORD wait = WaitForSingleObject(mutex.get(), 0);
        if (wait == WAIT_TIMEOUT)
            return true; // held: the wait before the next try is for it
        if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED)
            ReleaseMutex(mutex.get());
    }
    const DWORD pause = std::min(BusyInstallerRetryPauseMs, Left());
    Sleep(pause);
    LogLine(L"the installer is busy (1618): waited ", Spend(pause), L" ms, trying again");
    return true;
}
