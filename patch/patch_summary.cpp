#include "common/guid_text.h"
#include "installer/installer.h"
#include "patch/patch.h"

#include <vector>

MSIHANDLE OpenPatchSummary(const std::wstring& path) {
    wchar_t fullPath[260] = {}; // 260 characters, terminator included
    const DWORD length = GetFullPathNameW(path.c_str(), 260, fullPath, nullptr);
    if (length == 0)
        return 0; // GetFullPathNameW has set the error
    if (length >= 260) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE); // 206
        return 0;
    }
    MSIHANDLE summary = 0;
    const UINT result = installer::MsiGetSummaryInformationW(0, fullPath, 0, &summary);
    if (result != ERROR_SUCCESS) {
        SetLastError(result);
        return 0;
    }
    return summary;
}

namespace {

constexpr DWORD FirstPropertyCapacity = 2048; // characters, terminator included

bool ReadSummaryText(const std::wstring& path, UINT property, std::wstring& text) {
    MsiHandleHolder summary(OpenPatchSummary(path));
    if (!summary)
        return false;
    std::vector<wchar_t> buffer(FirstPropertyCapacity, L'\0');
    DWORD length = FirstPropertyCapacity;
    UINT dataType = 0;
    INT integerValue = 0;
    FILETIME fileTime = {};
    UINT result = installer::MsiSummaryInfoGetPropertyW(
        summary.get(), property, &dataType, &integerValue, &fileTime, buffer.data(), &length);
    if (result == ERROR_MORE_DATA) {
        // `length` is the text's size without its terminator: one retry at exactly that.
        const DWORD needed = length + 1;
        buffer.assign(needed, L'\0');
        length = needed;
        result = installer::MsiSummaryInfoGetPropertyW(
            summary.get(), property, &dataType, &integerValue, &fileTime, buffer.data(), &length);
    }
    if (result != ERROR_SUCCESS) {
        // The service's own result is what the user sees; closing the handle
        // first keeps the close from overwriting it.
        summary.reset();
        SetLastError(result);
        return false;
    }
    buffer.back() = L'\0';
    text = buffer.data();
    return true;
}

} // namespace

bool ReadPatchProducts(std::wstring path, std::wstring& products) {
    std::wstring text;
    if (!ReadSummaryText(path, installer::PropertyTemplate, text))
        return false;
    products = text;
    return true;
}

bool ReadPatchVersions(std::wstring path, std::wstring& upgradeVersion,
                       std::wstring& targetVersions) {
    std::wstring text;
    if (!ReadSummaryText(path, installer::PropertyKeywords, text))
        return false;
    const std::wstring::size_type separator = text.find(L';');
    if (separator == std::wstring::npos || separator == 0) {
        SetLastError(ERROR_RESOURCE_NOT_PRESENT); // 4316
        return false;
    }
    upgradeVersion = text.substr(0, separator);
    targetVersions = text.substr(separator + 1);
    return true;
}

bool ReadPatchCode(std::wstring path, std::wstring& patchCode) {
    std::wstring text;
    if (!ReadSummaryText(path, installer::PropertyRevNumber, text))
        return false;
    if (!LeadingGuid(text, patchCode)) {
        SetLastError(ERROR_INVALID_DATA); // 13
        return false;
    }
    return true;
}
