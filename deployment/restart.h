// The restart at the end of an install run whose applies asked for one.
#pragma once

// Restarts the computer, with the shutdown privilege enabled for the call
// alone, as a planned restart for an installation; no prompt. False with the
// error as the last-error code when the restart could not be started.
bool RestartComputer();
