#include "deployment/installer_wait.h"
#include "deployment/run_log.h"
#include "launcher/launcher.h"

#include <windows.h>

RunSettings DecideRunSettings(const RunMode& mode, bool quiet, bool desktopVisible) {
    RunSettings settings;
    settings.desktopVisible = desktopVisible;
    settings.silentSwitch = mode.silentMode;
    // Without a desktop no one could close a box: the run is as silent as "/qn".
    const bool silent = mode.silentMode || !desktopVisible;
    settings.resultBoxes = !quiet && !silent;
    settings.infoBoxes = !silent;
    // Silent where someone may see the screen, the installer can still ask
    // for elevation; without a desktop no one could answer.
    settings.installerUiLevel = !silent          ? installer::UiLevelBasicHideCancel
                                : desktopVisible ? installer::UiLevelNoneButElevation
                                                 : installer::UiLevelNone;
    settings.restartWhenNeeded = !mode.noRestart;
    // Someone who sees the boxes is told of a busy installer at once; a
    // deployed run waits for it.
    settings.installerWaitBudgetMs = settings.resultBoxes ? 0 : BusyInstallerWaitBudgetMs;
    return settings;
}

void ShowOwnBox(const wchar_t* what, const std::wstring& text, const std::wstring& title,
                UINT style) {
    if (!TheRunSettings.infoBoxes) {
        LogLine(what, L": box not shown: ", WhyBoxesAreOff());
        return;
    }
    LogLine(what, L": box shown");
    MessageBoxW(nullptr, text.c_str(), title.c_str(), style);
}
