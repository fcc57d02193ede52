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
    const INSTALLSTATE state = installer::MsiQueryProductStateW(productCode.c_str());
    return state == installer::StateDefault || state == installer::StateAdvertised;
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

PatchState ReadPatchState(const std::wstring& productCode, const std::wstring& patchCode) {
    for (const MSIINSTALLCONTEXT context : installer::ProductContexts) {
        wchar_t state[16] = {}; // a state number, terminator included
        DWORD length = 16;
        const UINT result =
            installer::MsiGetPatchInfoExW(patchCode.c_str(), productCode.c_str(), nullptr, context,
                                          INSTALLPROPERTY_PATCHSTATE, state, &length);
        if (result == ERROR_UNKNOWN_PRODUCT)
            continue; // installed in another context
        if (result == ERROR_UNKNOWN_PATCH)
            return PatchState::NotApplied;
        if (result != ERROR_SUCCESS)
            return PatchState::Unknown;
        switch (ReadLeadingInteger(state)) {
        case MSIPATCHSTATE_APPLIED:
        case MSIPATCHSTATE_SUPERSEDED:
        case MSIPATCHSTATE_OBSOLETED:
            return PatchState::Applied;
        case MSIPATCHSTATE_REGISTERED:
            return PatchState::NotApplied;
        default:
            return PatchState::Unknown;
        }
    }
    return PatchState::Unknown;
}

void BuildInventory(const ProductRecord& templateRecord, const std::wstring& productList) {
    std::wstring remaining = productList + L";";
    for (;;) {
        const std::wstring::size_type separator = remaining.find(L';');
        if (separator == std::wstring::npos || separator == 0)
            return;
        // The service is handed every code in registry form: a code in lower
        // case can read as installed and yet not be patched.
        ProductRecord record = templateRecord;
        record.productCode = RegistryForm(remaining.substr(0, separator));
        if (IsProductInstalled(record.productCode)) {
            record.installedVersion = ReadInstalledVersion(record.productCode);
            ReadProductNameAndLanguage(record.productCode, record.productName, record.language);
            ProductInventory.push_back(record);
        }
        remaining.erase(0, separator + 1);
    }
}
