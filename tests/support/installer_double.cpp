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

// True when another thread holds the installer's execute mutex: waiting
// for it here times out. When the wait takes it, it is given back at once.
bool ExecuteMutexHeldElsewhere() {
    const HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, L"Global\\_MSIExecute");
    if (mutex == nullptr)
        return false;
    const DWORD wait = WaitForSingleObject(mutex, 0);
    if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED)
        ReleaseMutex(mutex);
    CloseHandle(mutex);
    return wait == WAIT_TIMEOUT;
}

// True when a configure or removal call for `product` is to answer 1618.
bool AnswersBusy(const std::wstring& product) {
    int& busy = TheDouble.busyAnswers[product];
    if (busy > 0) {
        --busy;
        return true;
    }
    return TheDouble.busyWhileExecuteMutexHeld && ExecuteMutexHeldElsewhere();
}

bool IsSuccess(UINT result) {
    return result == ERROR_SUCCESS || result == ERROR_SUCCESS_REBOOT_INITIATED ||
           result == ERROR_SUCCESS_REBOOT_REQUIRED || result == ERROR_SUCCESS_RESTART_REQUIRED;
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

UINT WINAPI MsiEnumProductsExW(LPCWSTR filter, LPCWSTR userSid, DWORD contexts, DWORD index,
                               LPWSTR productCode, MSIINSTALLCONTEXT* context, LPWSTR sid,
                               DWORD* sidLength) {
    TheDouble.calls.push_back(L"MsiEnumProductsExW(" + test::Text(filter) + L", " +
                              test::Text(userSid) + L", " + std::to_wstring(contexts) + L", " +
                              std::to_wstring(index) + L")");
    const bool everyone = userSid != nullptr && _wcsicmp(userSid, L"S-1-1-0") == 0;
    if (everyone && TheDouble.everyoneEnumResult != 0)
        return TheDouble.everyoneEnumResult;
    struct Listed {
        std::wstring code;
        int context;
        std::wstring sid;
    };
    std::vector<Listed> listed;
    for (const auto& known : TheDouble.products) {
        const test::DoubleProduct& product = known.second;
        std::vector<Listed> instances;
        if (product.state == INSTALLSTATE_DEFAULT || product.state == INSTALLSTATE_ADVERTISED)
            instances.push_back({known.first, product.context,
                                 product.context == MSIINSTALLCONTEXT_MACHINE
                                     ? std::wstring()
                                     : TheDouble.currentUserSid});
        if (everyone)
            for (const test::DoubleInstance& other : product.otherUsers)
                instances.push_back({known.first, other.context, other.userSid});
        for (const Listed& instance : instances)
            if ((filter == nullptr || instance.code == filter) &&
                (DWORD(instance.context) & contexts) != 0)
                listed.push_back(instance);
    }
    if (index >= listed.size())
        return ERROR_NO_MORE_ITEMS;
    const Listed& instance = listed[index];
    if (productCode != nullptr)
        std::copy_n(instance.code.c_str(), instance.code.size() + 1, productCode);
    if (context != nullptr)
        *context = MSIINSTALLCONTEXT(instance.context);
    return sid == nullptr && sidLength == nullptr ? UINT(ERROR_SUCCESS)
                                                  : test::CopyOut(instance.sid, sid, sidLength);
}

UINT WINAPI MsiGetProductInfoExW(LPCWSTR product, LPCWSTR userSid, MSIINSTALLCONTEXT context,
                                 LPCWSTR property, LPWSTR value, DWORD* length) {
    TheDouble.calls.push_back(L"MsiGetProductInfoExW(" + test::Text(product) + L", " +
                              test::Text(userSid) + L", " + std::to_wstring(int(context)) + L", " +
                              test::Text(property) + L")");
    auto found = TheDouble.products.find(test::Text(product));
    if (found == TheDouble.products.end())
        return ERROR_UNKNOWN_PRODUCT;
    auto text = found->second.properties.find(test::Text(property));
    if (text == found->second.properties.end())
        return ERROR_UNKNOWN_PROPERTY;
    return test::CopyOut(text->second, value, length);
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
    // An advertised product has no version: nothing of it is installed.
    const bool advertisedVersion = known.state == INSTALLSTATE_ADVERTISED &&
                                   test::Text(property) == INSTALLPROPERTY_VERSIONSTRING;
    const UINT failure = known.propertyResult != 0 ? known.propertyResult
                         : text == known.properties.end() || advertisedVersion
                             ? UINT(ERROR_UNKNOWN_PROPERTY)
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
    // Per-machine the SID must be null; per-user, null means the current user.
    if (context == MSIINSTALLCONTEXT_MACHINE
            ? userSid != nullptr
            : userSid != nullptr && TheDouble.currentUserSid != userSid)
        return userSid != nullptr && context == MSIINSTALLCONTEXT_MACHINE
                   ? UINT(ERROR_INVALID_PARAMETER)
                   : UINT(ERROR_UNKNOWN_PRODUCT);
    const test::DoubleProduct& known = found->second;
    if (known.patchInfoResult != 0)
        return known.patchInfoResult;
    auto state = known.patchStates.find(test::Text(patch));
    if (state == known.patchStates.end())
        return ERROR_UNKNOWN_PATCH;
    if (test::Text(property) == INSTALLPROPERTY_UNINSTALLABLE) {
        auto uninstallable = known.patchUninstallable.find(test::Text(patch));
        return uninstallable == known.patchUninstallable.end()
                   ? UINT(ERROR_UNKNOWN_PROPERTY)
                   : test::CopyOut(uninstallable->second, value, length);
    }
    if (test::Text(property) != INSTALLPROPERTY_PATCHSTATE)
        return ERROR_UNKNOWN_PROPERTY;
    return test::CopyOut(state->second, value, length);
}

INSTALLUILEVEL WINAPI MsiSetInternalUI(INSTALLUILEVEL level, HWND* window) {
    TheDouble.calls.push_back(L"MsiSetInternalUI(" + std::to_wstring(int(level)) + L", " +
                              (window == nullptr ? L"null" : L"window") + L")");
    if (TheDouble.refusesElevationLevel && (level & 0x200) != 0)
        return INSTALLUILEVEL_NOCHANGE;
    if (level == INSTALLUILEVEL_NOCHANGE)
        return INSTALLUILEVEL(TheDouble.uiLevel);
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
    if (test::AnswersBusy(test::Text(product)))
        return ERROR_INSTALL_ALREADY_RUNNING;
    auto found = TheDouble.configureResults.find(test::Text(product));
    const UINT result = found == TheDouble.configureResults.end() ? ERROR_SUCCESS : found->second;
    const bool success = test::IsSuccess(result);
    auto known = TheDouble.products.find(test::Text(product));
    const std::wstring revision = TheDouble.anyPackage.properties[9];
    if (success && TheDouble.successRegistersPatch && known != TheDouble.products.end() &&
        revision.size() >= 38)
        known->second.patchStates[revision.substr(0, 38)] = L"1";
    return result;
}

UINT WINAPI MsiRemovePatchesW(LPCWSTR patchList, LPCWSTR product, INSTALLTYPE type,
                              LPCWSTR properties) {
    TheDouble.calls.push_back(L"MsiRemovePatchesW(" + test::Text(patchList) + L", " +
                              test::Text(product) + L", " + std::to_wstring(int(type)) + L", " +
                              test::Text(properties) + L")");
    if (test::AnswersBusy(test::Text(product)))
        return ERROR_INSTALL_ALREADY_RUNNING;
    auto known = TheDouble.products.find(test::Text(product));
    if (known == TheDouble.products.end() || known->second.state != INSTALLSTATE_DEFAULT)
        return ERROR_UNKNOWN_PRODUCT;
    std::map<std::wstring, std::wstring>& states = known->second.patchStates;
    const bool applied = states.count(test::Text(patchList)) != 0;
    auto scripted = TheDouble.removeResults.find(test::Text(product));
    const UINT result = scripted != TheDouble.removeResults.end() ? scripted->second
                        : applied                                 ? UINT(ERROR_SUCCESS)
                                                                  : UINT(ERROR_UNKNOWN_PATCH);
    if (test::IsSuccess(result) && TheDouble.successRemovesPatch) {
        states.erase(test::Text(patchList));
        known->second.patchUninstallable.erase(test::Text(patchList));
    }
    return result;
}

UINT WINAPI MsiEnableLogW(DWORD logMode, LPCWSTR logFile, DWORD attributes) {
    TheDouble.calls.push_back(L"MsiEnableLogW(" + std::to_wstring(logMode) + L", " +
                              test::Text(logFile) + L", " + std::to_wstring(attributes) + L")");
    return TheDouble.enableLogResult;
}

} // extern "C"
