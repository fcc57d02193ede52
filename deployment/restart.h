// The restart at the end of an install run whose applies asked for one.
#pragma once

#include <windows.h>

// Seconds that signed-in users are warned before the restart, in Windows' own
// notice: time to save their work and close programs.
constexpr DWORD RestartGracePeriodSeconds = 60;

// How often a restart the system is not ready for is asked for, a second
// apart.
constexpr int RestartAttempts = 5;
constexpr DWORD RestartRetryPauseMs = 1000;

// Asks Windows to restart the computer after the grace period, as a planned
// restart for an installation, with the shutdown privilege enabled for the
// call alone. Programs with unsaved work are not forced closed. True when
// Windows accepted the restart; otherwise false with the error as the
// last-error code.
bool RestartComputer();
