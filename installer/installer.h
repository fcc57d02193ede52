// The installer-service operations this program uses, and nothing else of
// msi.dll. Every other folder reaches the service through this header.
#pragma once

#include <windows.h>

#include "common/holder.h"

#include <msi.h>
#include <msiquery.h>

namespace installer {

// The seven operations; the rest of the program calls them by these names.
using ::MsiCloseHandle;
using ::MsiConfigureProductExW;
using ::MsiGetProductInfoW;
using ::MsiGetSummaryInformationW;
using ::MsiQueryProductStateW;
using ::MsiSetInternalUI;
using ::MsiSummaryInfoGetPropertyW;

constexpr UINT PropertyKeywords = 5; // PID_KEYWORDS
constexpr UINT PropertyTemplate = 7; // PID_TEMPLATE

constexpr INSTALLSTATE StateAdvertised = INSTALLSTATE_ADVERTISED; // 1
constexpr INSTALLSTATE StateDefault = INSTALLSTATE_DEFAULT;       // 5
constexpr int LevelDefault = INSTALLLEVEL_DEFAULT;                // 0

// 35: basic progress only, without a Cancel button.
constexpr INSTALLUILEVEL UiLevelBasicHideCancel =
    INSTALLUILEVEL(INSTALLUILEVEL_BASIC | INSTALLUILEVEL_HIDECANCEL);

} // namespace installer

// An installer-service handle; a non-zero handle is closed with MsiCloseHandle
// exactly once, when the holder goes (also during unwinding).
struct MsiHandleTraits {
    using Type = MSIHANDLE;
    static Type None() { return 0; }
    static bool Close(Type value) { return ::MsiCloseHandle(value) == ERROR_SUCCESS; }
};
using MsiHandleHolder = Holder<MsiHandleTraits>;
