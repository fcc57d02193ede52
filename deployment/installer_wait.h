// Waiting for another installation to end, in runs where no one sees a box.
//
// The installer service runs one installation at a time on the machine: while
// another one runs its execute sequence (Windows Update, another product), it
// holds a mutex and answers every apply with 1618
// (ERROR_INSTALL_ALREADY_RUNNING). A run that someone is watching reports
// that at once; a deployed run waits, within one budget for the whole run.
#pragma once

#include <windows.h>

// The mutex the service holds while an installation runs.
constexpr wchar_t InstallerExecuteMutex[] = L"Global\\_MSIExecute";

// The longest a run waits for other installations, all waits together.
constexpr DWORD BusyInstallerWaitBudgetMs = 10 * 60 * 1000;

// The pause before an apply that answered 1618 is tried again while the
// mutex is free (the other installation may be between its sequences).
constexpr DWORD BusyInstallerRetryPauseMs = 10 * 1000;

class InstallerWaits {
  public:
    // `budgetMs` 0: never wait.
    explicit InstallerWaits(DWORD budgetMs) : budgetMs_(budgetMs) {}

    // Before an apply: while another installation holds the mutex, waits for
    // it to be released, as long as the budget lasts. The mutex is opened for
    // waiting only and, when the wait takes it, released at once. Each wait
    // is logged with its length.
    void WaitWhileBusy();

    // After an apply answered 1618: false when the budget is spent (or was
    // 0); otherwise true, after a pause when no installation holds the mutex
    // (WaitWhileBusy waits for one that does).
    bool WaitBeforeRetry();

  private:
    DWORD Left() const { return budgetMs_ - spentMs_; }
    // Adds `ms`, or the time since `start`, to what is spent (at most the
    // budget in all) and returns it.
    DWORD Spend(DWORD ms);
    DWORD SpendSince(ULONGLONG start);

    DWORD budgetMs_;
    DWORD spentMs_ = 0;
};
