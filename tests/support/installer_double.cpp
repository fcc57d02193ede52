#include "tests/support/installer_double.h"

#include "installer/installer.h"

#include <algorithm>

namespace test {

namespace {

InstallerDouble TheDouble;
unsigned long NextHandle = 100;

std::wstring Text(LPCWSTR text) {
    return text == nullptr ? L"(null)" : std::wstring(text);
}

// Copies `value` the way the service does: ERROR_MORE_DATA with the needed
// length (terminator excluded) when the buffer is too small.
UINT CopyOut(const std::wstring& value, LPWSTR buffer, DWORD* length) {
    if (length == nullptr)
        return ERROR_INVALID_PARAMETER;
    const DWORD capacity = *length;
    *length = static_cast<DWORD>(value.size());
    if (buffer == nullptr)
        return ERROR_SUCCESS;
    if (value.size() >= capacity) {
        if (capacity > 0) {
            std::copy_n(value.c_str(), capacity - 1, buffer);
            buffer[capacity - 1] = L'\0';
        }
        return ERROR_MORE_DATA;
    }
    std::copy_n(value.c_str(), value.size() + 1, buffer);
    return ERROR_SUCCESS;
}

} // namespace

std::vector<std::wstring> InstallerDouble::CallsNamed(const std::wstring& name) const {
    std::vector<std::wstring> found;
    for (const std::wstring& call : calls)
        if (call.compare(0, name.size(), name) == 0)
            found.push_back(call);
    return found;
}

InstallerDouble& Installer() {
    return TheDouble;
}

void ResetInstaller() {
    TheDouble = InstallerDouble();
    NextHandle = 100;
}

} // namespace test

using test::TheDouble;

extern "C" {

UINT WINAPI MsiGetSummaryInformationW(MSIHANDLE database, LPCWSTR path, UINT updateCount,
                                      MSIHANDLE* handle) {
    TheDouble.calls.push_back(L"MsiGetSummaryInformationW(" + std::to_wstring(database) + L", " +
                              test::Text(path) + L", " + std::to_wstring(updateCount) + L")");
    TheDouble.summaryPathsOpened.push_back(test::Text(path));
    if (path == nullptr || (TheDouble.packages.count(path) == 0 && !TheDouble.anyPathIsPackage))
        return ERROR_OPEN_FAILED;
    *handle = test::NextHandle++;
    ++TheDouble.handlesOpened;
    TheDouble.openHandles.push_back(*handle);
    return ERROR_SUCCESS;
}

UINT WINAPI MsiSummaryInfoGetPropertyW(MSIHANDLE handle, UINT property, UINT* dataType,
                                       INT* integerValue, FILETIME* fileTime, LPWSTR value,
                                       DWORD* length) {
    TheDouble.calls.push_back(L"MsiSummaryInfoGetPropertyW(" + std::to_wstring(property) + L", " +
                              std::to_wstring(length ? *length : 0) + L")");
    (void)integerValue;
    (void)fileTime;
    const std::wstring& path = TheDouble.summaryPathsOpened.back();
    if (std::find(TheDouble.openHandles.begin(), TheDouble.openHandles.end(), handle) ==
        TheDouble.openHandles.end())
        return ERROR_INVALID_HANDLE;
    auto listed = TheDouble.packages.find(path);
    const test::DoublePackage& package =
        listed == TheDouble.packages.end() ? TheDouble.anyPackage : listed->second;
    if (package.propertyResult != 0)
        return package.propertyResult;
    auto failure = package.failures.find(property);
    if (failure != package.failures.end())
        return failure->second;
    if (dataType != nullptr)
        *dataType = 30; // VT_LPSTR
    auto found = package.properties.find(property);
    return test::CopyOut(found == package.properties.end() ? std::wstring() : found->second, value,
                         length);
}

UINT WINAPI MsiCloseHandle(MSIHANDLE handle) {
    TheDouble.calls.push_back(L"MsiCloseHandle(" + std::to_wstring(handle) + L")");
    auto open = std::find(TheDouble.openHandles.begin(), TheDouble.openHandles.end(), handle);
    if (open == TheDouble.openHandles.end())
        return ERROR_INVALID_HANDLE;
    TheDouble.openHandles.erase(open);
    ++TheDouble.handlesClosed;
    if (TheDouble.closeClearsLastError)
        SetLastError(ERROR_SUCCESS);
    return ERROR_SUCCESS;
}

INSTALLSTATE WINAPI MsiQueryProductStateW(LPCWSTR product) {
    TheDouble.calls.push_back(L"MsiQueryProductStateW(" + test::Text(product) + L")");
    auto found = TheDouble.products.find(test::Text(product));
    return found == TheDouble.products.end() ? INSTALLSTATE_UNKNOWN
                                             : INSTALLSTATE(found->second.state);
}

UINT WINAPI MsiGetProductInfoW(LPCWSTR product, LPCWSTR property, LPWSTR value, DWORD* length) {
    TheDouble.calls.push_back(L"MsiGetProductInfoW(" + test::Text(product) + L", " +
                              test::Text(property) + L", " + std::to_wstring(length ? *length : 0) +
                              L")");
    auto found = TheDouble.products.find(test::Text(product));
    if (found == TheDouble.products.end())
        return ERROR_UNKNOWN_PRODUCT;
    const test::DoubleProduct& known = found->second;
    auto text = known.properties.find(test::Text(property));
    const UINT failure = known.propertyResult != 0        ? known.propertyResult
                         : text == known.properties.end() ? UINT(ERROR_UNKNOWN_PROPERTY)
                                                          : UINT(ERROR_SUCCESS);
    if (failure != ERROR_SUCCESS) {
        if (value != nullptr && length != nullptr)
            std::copy_n(known.failureScribble.c_str(),
                        std::min<std::size_t>(known.failureScribble.size(), *length), value);
        return failure;
    }
    return test::CopyOut(text->second, value, length);
}

UINT WINAPI MsiGetPatchInfoExW(LPCWSTR patch, LPCWSTR product, LPCWSTR userSid,
                               MSIINSTALLCONTEXT context, LPCWSTR property, LPWSTR value,
                               DWORD* length) {
    TheDouble.calls.push_back(L"MsiGetPatchInfoExW(" + test::Text(patch) + L", " +
                              test::Text(product) + L", " + test::Text(userSid) + L", " +
                              std::to_wstring(int(context)) + L", " + test::Text(property) + L", " +
                              std::to_wstring(length ? *length : 0) + L")");
    auto found = TheDouble.products.find(test::Text(product));
    if (found == TheDouble.products.end() || found->second.context != int(context))
        return ERROR_UNKNOWN_PRODUCT;
    const test::DoubleProduct& known = found->second;
    if (known.patchInfoResult != 0)
        return known.patchInfoResult;
    auto state = known.patchStates.find(test::Text(patch));
    if (state == known.patchStates.end())
        return ERROR_UNKNOWN_PATCH;
    return test::CopyOut(state->second, value, length);
}

INSTALLUILEVEL WINAPI MsiSetInternalUI(INSTALLUILEVEL level, HWND* window) {
    TheDouble.calls.push_back(L"MsiSetInternalUI(" + std::to_wstring(int(level)) + L", " +
                              (window == nullptr ? L"null" : L"window") + L")");
    const int previous = TheDouble.uiLevel;
    TheDouble.uiLevel = level;
    return INSTALLUILEVEL(previous);
}

UINT WINAPI MsiConfigureProductExW(LPCWSTR product, int installLevel, INSTALLSTATE state,
                                   LPCWSTR commandLine) {
    TheDouble.calls.push_back(L"MsiConfigureProductExW(" + test::Text(product) + L", " +
                              std::to_wstring(installLevel) + L", " + std::to_wstring(int(state)) +
                              L", " + test::Text(commandLine) + L")");
    if (TheDouble.onConfigure)
        TheDouble.onConfigure(test::Text(product), test::Text(commandLine));
    auto found = TheDouble.configureResults.find(test::Text(product));
    return found == TheDouble.configureResults.end() ? ERROR_SUCCESS : found->second;
}

UINT WINAPI MsiEnableLogW(DWORD logMode, LPCWSTR logFile, DWORD attributes) {
    TheDouble.calls.push_back(L"MsiEnableLogW(" + std::to_wstring(logMode) + L", " +
                              test::Text(logFile) + L", " + std::to_wstring(attributes) + L")");
    return TheDouble.enableLogResult;
}

} // extern "C"
