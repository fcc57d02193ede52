// A stand-in for the installer service, linked into a test binary in place of
// msi.dll: products, summary properties, configure and removal results are
// scripted, and every call is recorded with its arguments.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace test {

// An installation of a product for another account than the current user's.
struct DoubleInstance {
    int context = 2; // MSIINSTALLCONTEXT
    std::wstring userSid;
};

struct DoubleProduct {
    int state = 5;                                   // INSTALLSTATE
    std::map<std::wstring, std::wstring> properties; // "VersionString", "ProductName", "Language"
    UINT propertyResult = 0; // result of every MsiGetProductInfoW for this product
    // Written into the buffer (no terminator, cut to its length) by every
    // MsiGetProductInfoW of this product that fails, as a careless service might.
    std::wstring failureScribble;
    // The current user's installation (state 5 or 1): its MSIINSTALLCONTEXT,
    // 4 per-machine; a per-user one is the current user's.
    int context = 4;
    // The installations of other accounts, listed for "S-1-1-0" only.
    std::vector<DoubleInstance> otherUsers;
    // The "State" text of each patch the product knows, by patch code.
    std::map<std::wstring, std::wstring> patchStates;
    // The "Uninstallable" text of each patch the product knows, by patch
    // code; a known patch without one answers ERROR_UNKNOWN_PROPERTY.
    std::map<std::wstring, std::wstring> patchUninstallable;
    UINT patchInfoResult = 0; // forced result of MsiGetPatchInfoExW in its context (0: normal)
};

struct DoublePackage {
    std::map<UINT, std::wstring> properties; // summary property id -> text
    std::map<UINT, UINT> failures;           // summary property id -> forced result
    UINT propertyResult = 0;                 // forced result of every property read (0: normal)
};

struct InstallerDouble {
    std::map<std::wstring, DoubleProduct> products; // by product code
    std::map<std::wstring, DoublePackage> packages; // by full path, as passed
    // Answers for a path that `packages` does not list, when set.
    bool anyPathIsPackage = false;
    DoublePackage anyPackage;
    // Result of each MsiConfigureProductExW, by product code; 0 when not listed.
    std::map<std::wstring, UINT> configureResults;
    // How many of a product's first configure (or removal) calls answer 1618,
    // by product code.
    std::map<std::wstring, int> busyAnswers;
    // A configure or removal call answers 1618 while another thread holds
    // Global\_MSIExecute.
    bool busyWhileExecuteMutexHeld = true;
    // A configure call that succeeds records the patch (the start of PID_REVNUMBER
    // of the package) as applied to the product, as the service does.
    bool successRegistersPatch = true;
    // Result of each MsiRemovePatchesW, by product code; when not listed, 0
    // for a patch the product has and 1647 (ERROR_UNKNOWN_PATCH) otherwise.
    // Busy answers are scripted as for configure calls.
    std::map<std::wstring, UINT> removeResults;
    // A removal that succeeds takes the patch off the product, as the
    // service does (Wine's answers 0 and leaves it).
    bool successRemovesPatch = true;
    // MsiSetInternalUI refuses INSTALLUILEVEL_UACONLY, as installers before 5.0 do.
    bool refusesElevationLevel = false;
    // The SID of the current user, for per-user installations.
    std::wstring currentUserSid = L"S-1-5-21-1004336348-1177238915-682003330-1001";
    // Forced result of MsiEnumProductsExW for "S-1-1-0" (0: normal).
    UINT everyoneEnumResult = 0;
    // MsiCloseHandle sets the last error to 0 when it succeeds, as a service
    // is free to do.
    bool closeClearsLastError = false;
    // Result of every MsiEnableLogW.
    UINT enableLogResult = 0;
    // Called inside MsiConfigureProductExW (to look at the patch file, say).
    std::function<void(const std::wstring& product, const std::wstring& commandLine)> onConfigure;

    // Every call, in order, as "Name(arg, arg, ...)".
    std::vector<std::wstring> calls;
    int uiLevel = 5; // INSTALLUILEVEL_DEFAULT... as the service starts
    int handlesOpened = 0;
    int handlesClosed = 0;
    std::vector<unsigned long> openHandles;
    std::vector<std::wstring> summaryPathsOpened;

    // Calls whose name starts with `name`.
    std::vector<std::wstring> CallsNamed(const std::wstring& name) const;
};

// The one double of the test binary; Reset() before each test.
InstallerDouble& Installer();
void ResetInstaller();

} // namespace test
