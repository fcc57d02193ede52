// A stand-in for the installer service, linked into a test binary in place of
// msi.dll: products, summary properties and configure results are scripted,
// and every call is recorded with its arguments.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace test {

struct DoubleProduct {
    int state = 5;                                   // INSTALLSTATE
    std::map<std::wstring, std::wstring> properties; // "VersionString", "ProductName", "Language"
    UINT propertyResult = 0; // result of every MsiGetProductInfoW for this product
    // Written into the buffer (no terminator, cut to its length) by every
    // MsiGetProductInfoW of this product that fails, as a careless service might.
    std::wstring failureScribble;
    int context = 4; // MSIINSTALLCONTEXT of the product: 4 per-machine
    // The "State" text of each patch the product knows, by patch code.
    std::map<std::wstring, std::wstring> patchStates;
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
