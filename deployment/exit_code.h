// The exit code that "/exitcode" gives an install or a removal run, worked out
// from what the pass did; the flow tells it at each decision.
#pragma once

#include <windows.h>

class InstallOutcome {
  public:
    // Back to a run that has done nothing yet.
    void Reset();

    // A message 300 showing `code`; only the first of the run counts.
    void FailureReported(DWORD code);
    // The installer service applied the patch: 0, 1641, 3010 or 3011, or
    // 1604 (it completes after the restart).
    void PatchApplied(UINT result);
    // A product at the upgrade version, or the 306 that ends the pass.
    void ProductUpToDate();
    // The run removes the patch ("/uninstall"): no product that has it is
    // as good an outcome as every one losing it.
    void RemovalPass();
    // The installer service removed the patch: 0, 1641, 3010 or 3011, or
    // 1604 (it completes after the restart).
    void PatchRemoved(UINT result);
    // The launcher started the restart that an apply asked for.
    void RestartStarted();

    // True when an apply or a removal answered 1641, 3010, 3011 or 1604.
    bool RestartNeeded() const;

    // The first 300's code; else 1641 when a restart was started (by the
    // launcher, or by the service: 1641), else 3010 when an apply or a
    // removal needs one; else, for an install, 1642 when no product got the
    // patch and none was up to date; else 0.
    DWORD ExitCode() const;

  private:
    bool failed_ = false;
    DWORD failureCode_ = 0;
    bool applied_ = false;
    bool rebootInitiated_ = false;
    bool rebootRequired_ = false;
    bool upToDate_ = false;
    bool removal_ = false;
    bool restartStarted_ = false;

    void NoteRestart(UINT result);
};

// The outcome of this process's install run.
extern InstallOutcome TheInstallOutcome;

// `code` when it is an error code; ERROR_INSTALL_FAILURE (1603) for 0, so that
// a failure never reads as success.
DWORD FailureExitCode(DWORD code);
