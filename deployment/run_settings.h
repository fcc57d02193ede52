// How the run behaves where it is deployed, decided once at start from the
// command line and the session; the flow, the boxes, the log and the end of
// the run read it, and nothing else asks the session.
#pragma once

#include "installer/installer.h"

#include <windows.h>

struct RunSettings {
    bool desktopVisible = true; // someone can see and close a box
    bool silentSwitch = false;  // "/qn" or "/quiet" was given
    bool resultBoxes = true;    // the catalogue messages (QuietMode is the opposite)
    bool infoBoxes = true;      // the boxes of "/i" and "/?"
    INSTALLUILEVEL installerUiLevel = installer::UiLevelBasicHideCancel; // around each apply
    bool restartWhenNeeded = true;   // restart at the end when an apply asked for it
    DWORD installerWaitBudgetMs = 0; // waiting for other installations, in all (0: none)
};

// The settings of this process's run, written once at its start.
extern RunSettings TheRunSettings;

// For the log: why a box is kept back ("no desktop", "silent mode", "quiet mode").
const wchar_t* WhyBoxesAreOff();
