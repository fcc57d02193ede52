// The installer-service operations this program uses, and nothing else of
// msi.dll. Every other folder reaches the service through this header.
#pragma once

#include <windows.h>

#include "common/holder.h"

#include <msi.h>
#include <msiquery.h>

namespace installer {

// The operations; the rest of the program calls them by these names.
using ::MsiCloseHandle;
using ::MsiConfigureProductExW;
using ::MsiDatabaseIsTablePersistentW;
using ::MsiDatabaseOpenViewW;
using ::MsiEnableLogW;
using ::MsiEnumProductsExW;
using ::MsiGetPatchInfoExW;
using ::MsiGetProductInfoExW;
using ::MsiGetProductInfoW;
using ::MsiGetSummaryInformationW;
using ::MsiOpenDatabaseW;
using ::MsiQueryProductStateW;
using ::MsiRecordGetStringW;
using ::MsiRemovePatchesW;
using ::MsiSetInternalUI;
using ::MsiSummaryInfoGetPropertyW;
using ::MsiViewExecute;
using ::MsiViewFetch;

constexpr UINT PropertyKeywords = 5;  // PID_KEYWORDS
constexpr UINT PropertyTemplate = 7;  // PID_TEMPLATE
constexpr UINT PropertyRevNumber = 9; // PID_REVNUMBER: a patch's code, then those it replaces

// The contexts a product can be installed in, in the order in which the
// service takes an installation of it for the current user: per-user
// managed, per-user unmanaged, per-machine.
constexpr MSIINSTALLCONTEXT ProductContexts[] = {
    MSIINSTALLCONTEXT_USERMANAGED, MSIINSTALLCONTEXT_USERUNMANAGED, MSIINSTALLCONTEXT_MACHINE};

// Lists the installations of every user (administrators only).
constexpr wchar_t EveryoneSid[] = L"S-1-1-0";
// Room for any SID text (at most 187 characters), terminator included.
constexpr DWORD SidTextCapacity = 256;

constexpr INSTALLSTATE StateAdvertised = INSTALLSTATE_ADVERTISED; // 1: advertised, not installed
constexpr INSTALLSTATE StateAbsent = INSTALLSTATE_ABSENT;         // 2: installed for other users
constexpr INSTALLSTATE StateDefault = INSTALLSTATE_DEFAULT;       // 5: installed
constexpr int LevelDefault = INSTALLLEVEL_DEFAULT;                // 0
// 2: a patch is removed from the one product named, and from no other.
constexpr INSTALLTYPE RemoveFromOneProduct = INSTALLTYPE_SINGLE_INSTANCE;

// 35: basic progress only, without a Cancel button.
constexpr INSTALLUILEVEL UiLevelBasicHideCancel =
    INSTALLUILEVEL(INSTALLUILEVEL_BASIC | INSTALLUILEVEL_HIDECANCEL);
// 2: no interface at all, for sessions without a desktop.
constexpr INSTALLUILEVEL UiLevelNone = INSTALLUILEVEL_NONE;
// 0x202: no interface but the elevation prompt, for silent runs that someone
// may still see (INSTALLUILEVEL_UACONLY, Windows Installer 5.0).
constexpr INSTALLUILEVEL UiLevelNoneButElevation = INSTALLUILEVEL(INSTALLUILEVEL_NONE | 0x200);

// Every kind of message the service can log, as msiexec's "/l*vx" asks for.
// Not INSTALLLOGMODE_LOGONLYONERROR: that deletes the log of an apply that
// worked, and support wants to see those too.
constexpr DWORD LogEveryMessageKind =
    INSTALLLOGMODE_FATALEXIT | INSTALLLOGMODE_ERROR | INSTALLLOGMODE_WARNING | INSTALLLOGMODE_USER |
    INSTALLLOGMODE_INFO | INSTALLLOGMODE_RESOLVESOURCE | INSTALLLOGMODE_OUTOFDISKSPACE |
    INSTALLLOGMODE_ACTIONSTART | INSTALLLOGMODE_ACTIONDATA | INSTALLLOGMODE_COMMONDATA |
    INSTALLLOGMODE_PROPERTYDUMP | INSTALLLOGMODE_VERBOSE | INSTALLLOGMODE_EXTRADEBUG |
    INSTALLLOGMODE_FILESINUSE | INSTALLLOGMODE_RMFILESINUSE | INSTALLLOGMODE_INSTALLSTART |
    INSTALLLOGMODE_INSTALLEND;

// Add to an existing log instead of replacing it, and write each line through
// at once, so that the log is complete even when a restart follows.
constexpr DWORD LogAppendFlushed = INSTALLLOGATTRIBUTES_APPEND | INSTALLLOGATTRIBUTES_FLUSHEACHLINE;

} // namespace installer

// An installer-service handle; a non-zero handle is closed with MsiCloseHandle
// exactly once, when the holder goes (also during unwinding).
struct MsiHandleTraits {
    using Type = MSIHANDLE;
    static Type None() { return 0; }
    static bool Close(Type value) { return ::MsiCloseHandle(value) == ERROR_SUCCESS; }
};
using MsiHandleHolder = Holder<MsiHandleTraits>;
