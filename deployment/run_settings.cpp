#include "deployment/run_settings.h"

RunSettings TheRunSettings;

const wchar_t* WhyBoxesAreOff() {
    if (!TheRunSettings.desktopVisible)
        return L"no desktop";
    return TheRunSettings.silentSwitch ? L"silent mode" : L"quiet mode";
}
