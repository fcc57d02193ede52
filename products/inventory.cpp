#include "common/guid_text.h"
#include "installer/installer.h"
#include "products/products.h"

std::vector<ProductRecord> ProductInventory;

namespace {

constexpr DWORD PropertyCapacity = 1024; // characters, terminator included

// A query the service refuses reads as empty: the buffer is cleared first, and
// whatever a failing call may have left in it is not taken. A value too long
// for the buffer fails too (ERROR_MORE_DATA); with `retry` it is read once
// more at exactly its length, otherwise not fetched again.
std::wstring ReadProductProperty(const std::wstring& productCode, const wchar_t* property,
                                 std::wstring& buffer, bool retry = false) {
    buffer.assign(PropertyCapacity, L'\0');
    DWORD length = PropertyCapacity;
    UINT result = installer::MsiGetProductInfoW(productCode.c_str(), property, &buffer[0], &length);
    if (result == ERROR_MORE_DATA && retry) {
        // `length` is the value's size without its terminator.
        buffer.assign(std::wstring::size_type(length) + 1, L'\0');
        length = static_cast<DWORD>(buffer.size());
        result = installer::MsiGetProductInfoW(productCode.c_str(), property, &buffer[0], &length);
    }
    if (result != ERROR_SUCCESS)
        return std::wstring();
    buffer.back() = L'\0';
    return std::wstring(buffer.c_str());
}

} // namespace

bool IsProductInstalled(const std::wstring& productCode) {
    return installer::MsiQueryProductStateW(productCode.c_str()) == installer::StateDefault;
}

std::wstring ReadInstalledVersion(const std::wstring& productCode) {
    std::wstring buffer;
    return ReadProductProperty(productCode, L"VersionString", buffer);
}

bool ReadProductNameAndLanguage(const std::wstring& productCode, std::wstring& productName,
                                std::wstring& language) {
    std::wstring buffer; // one buffer for both queries
    // A name of any length is read, for the messages to show it (cut to fit).
    productName = ReadProductProperty(productCode, L"ProductName", buffer, true);
    language = ReadProductProperty(productCode, L"Language", buffer);
    return true;
}

const wchar_t* ContextName(MSIINSTALLCONTEXT context) {
    switch (context) {
    case MSIINSTALLCONTEXT_USERMANAGED:
        return L"per-user managed";
    case MSIINSTALLCONTEXT_USERUNMANAGED:
        return L"per-user unmanaged";
    case MSIINSTALLCONTEXT_MACHINE:
        return L"per-machine";
    default:
        return L"no context";
    }
}

namespace {

// Lists the installations for `users` of the product `filter` names, or of
// every product when it is null, and keeps those of `productCode`.
bool ListInstances(const wchar_t* filter, const std::wstring& productCode, const wchar_t* users,
                   std::vector<ProductInstance>& instances) {
    std::vector<ProductInstance> found;
    for (DWORD index = 0;; ++index) {
        wchar_t code[GuidTextLength + 1] = {}; // 39 characters, terminator included
        wchar_t sid[installer::SidTextCapacity] = {};
        DWORD sidLength = installer::SidTextCapacity;
        MSIINSTALLCONTEXT context = MSIINSTALLCONTEXT_NONE;
        const UINT result = installer::MsiEnumProductsExW(filter, users, MSIINSTALLCONTEXT_ALL,
                                                          index, code, &context, sid, &sidLength);
        if (result == ERROR_NO_MORE_ITEMS || (result == ERROR_UNKNOWN_PRODUCT && index == 0))
            break;
        if (result != ERROR_SUCCESS) {
            SetLastError(result);
            return false;
        }
        if (CompareStringOrdinal(code, -1, productCode.c_str(), -1, TRUE) == CSTR_EQUAL)
            found.push_back({context, sid});
    }
    instances = std::move(found);
    return true;
}

} // namespace

bool FindProductInstances(const std::wstring& productCode, const wchar_t* users,
                          std::vector<ProductInstance>& instances) {
    std::vector<ProductInstance> found;
    if (!ListInstances(productCode.c_str(), productCode, users, found))
        return false;
    // Asked for one product, Wine's service lists nothing; every product is
    // listed then, which the documentation allows too, and this one picked.
    if (found.empty() && !ListInstances(nullptr, productCode, users, found))
        return false;
    instances = std::move(found);
    return true;
}

bool FindOwnProductInstance(const std::wstring& productCode, ProductInstance& instance) {
    std::vector<ProductInstance> instances;
    if (!FindProductInstances(productCode, nullptr, instances))
        return false;
    for (const MSIINSTALLCONTEXT context : installer::ProductContexts) {
        for (const ProductInstance& candidate : instances) {
            if (candidate.context == context) {
                instance = candidate;
                return true;
            }
        }
    }
    SetLastError(ERROR_UNKNOWN_PRODUCT);
    return false;
}

std::wstring ReadInstanceProductName(const std::wstring& productCode,
                                     const ProductInstance& instance) {
    std::wstring name(PropertyCapacity, L'\0');
    DWORD length = PropertyCapacity;
    const wchar_t* sid = instance.userSid.empty() ? nullptr : instance.userSid.c_str();
    if (installer::MsiGetProductInfoExW(productCode.c_str(), sid, instance.context,
                                        INSTALLPROPERTY_PRODUCTNAME, &name[0],
                                        &length) != ERROR_SUCCESS)
        return std::wstring();
    name.back() = L'\0';
    return std::wstring(name.c_str());
}

namespace {

// Asks the service for `property` of patch `patchCode` on the product, in the
// installation it takes for the current user; a number's text fits `value`.
// False, with `result` the listing's answer, when there is none.
bool AskPatchProperty(const std::wstring& productCode, const std::wstring& patchCode,
                      const wchar_t* property, ProductInstance& instance, UINT& result,
                      wchar_t (&value)[16]) {
    if (!FindOwnProductInstance(productCode, instance)) {
        result = GetLastError();
        return false;
    }
    // Per-machine the SID must be null; per-user it names the account, which
    // for SYSTEM is not what a null SID would name.
    const wchar_t* sid =
        instance.context == MSIINSTALLCONTEXT_MACHINE ? nullptr : instance.userSid.c_str();
    DWORD length = 16;
    result = installer::MsiGetPatchInfoExW(patchCode.c_str(), productCode.c_str(), sid,
                                           instance.context, property, value, &length);
    return true;
}

} // namespace

PatchStateReading ReadPatchState(const std::wstring& productCode, const std::wstring& patchCode) {
    PatchStateReading reading;
    wchar_t state[16] = {}; // a state number, terminator included
    if (!AskPatchProperty(productCode, patchCode, INSTALLPROPERTY_PATCHSTATE, reading.instance,
                          reading.result, state))
        return reading;
    if (reading.result == ERROR_UNKNOWN_PATCH) {
        reading.state = PatchState::NotApplied;
        return reading;
    }
    if (reading.result != ERROR_SUCCESS)
        return reading;
    switch (ReadLeadingInteger(state)) {
    case MSIPATCHSTATE_APPLIED:
    case MSIPATCHSTATE_SUPERSEDED:
    case MSIPATCHSTATE_OBSOLETED:
        reading.state = PatchState::Applied;
        break;
    case MSIPATCHSTATE_REGISTERED:
        reading.state = PatchState::NotApplied;
        break;
    default:
        break;
    }
    return reading;
}

RemovabilityReading ReadPatchRemovability(const std::wstring& productCode,
                                          const std::wstring& patchCode) {
    RemovabilityReading reading;
    wchar_t uninstallable[16] = {}; // "0" or "1", terminator included
    if (!AskPatchProperty(productCode, patchCode, INSTALLPROPERTY_UNINSTALLABLE, reading.instance,
                          reading.result, uninstallable) ||
        reading.result != ERROR_SUCCESS)
        return reading;
    reading.value = uninstallable;
    if (reading.value == L"1")
        reading.removability = Removability::Removable;
    else if (reading.value == L"0")
        reading.removability = Removability::NotRemovable;
    return reading;
}

std::vector<SkippedProduct> BuildInventory(const ProductRecord& templateRecord,
                                           const std::wstring& productList) {
    std::vector<SkippedProduct> skipped;
    std::wstring remaining = productList + L";";
    for (;;) {
        const std::wstring::size_type separator = remaining.find(L';');
        if (separator == std::wstring::npos || separator == 0)
            return skipped;
        // The service is handed every code in registry form: a code in lower
        // case can read as installed and yet not be patched.
        ProductRecord record = templateRecord;
        record.productCode = RegistryForm(remaining.substr(0, separator));
        const INSTALLSTATE state = installer::MsiQueryProductStateW(record.productCode.c_str());
        if (state == installer::StateDefault) {
            record.installedVersion = ReadInstalledVersion(record.productCode);
            ReadProductNameAndLanguage(record.productCode, record.productName, record.language);
            ProductInventory.push_back(record);
        } else if (state == installer::StateAdvertised || state == installer::StateAbsent) {
            skipped.push_back({record.productCode, state});
        }
        remaining.erase(0, separator + 1);
    }
}
