#include "kit/package/patch_package.h"

#include "common/guid_text.h"
#include "common/holder.h"
#include "kit/package/com_scope.h"

#include <objbase.h>

namespace kit {

const CLSID PatchClass = {
    0x000C1086, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const CLSID TransformClass = {
    0x000C1082, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

namespace {

// 0..63 for the characters that the name compression packs, -1 otherwise.
int NameDigit(wchar_t ch) {
    if (ch >= L'0' && ch <= L'9')
        return ch - L'0';
    if (ch >= L'A' && ch <= L'Z')
        return ch - L'A' + 10;
    if (ch >= L'a' && ch <= L'z')
        return ch - L'a' + 36;
    if (ch == L'.')
        return 62;
    if (ch == L'_')
        return 63;
    return -1;
}

} // namespace

std::wstring EncodeStreamName(const std::wstring& name, bool isTable) {
    std::wstring encoded;
    if (isTable)
        encoded.push_back(wchar_t(0x4840));
    for (std::size_t i = 0; i < name.size(); ++i) {
        const int first = NameDigit(name[i]);
        if (first < 0) {
            encoded.push_back(name[i]);
            continue;
        }
        const int second = i + 1 < name.size() ? NameDigit(name[i + 1]) : -1;
        if (second >= 0) {
            encoded.push_back(wchar_t(0x3800 + first + (second << 6)));
            ++i;
        } else {
            encoded.push_back(wchar_t(0x4800 + first));
        }
    }
    return encoded;
}

bool IsRegistryGuid(const std::wstring& text) {
    return IsBracedGuid(text) && RegistryForm(text) == text;
}

bool IsDottedVersion(const std::wstring& text) {
    std::size_t parts = 1;
    std::size_t digits = 0;
    unsigned long value = 0;
    for (wchar_t ch : text) {
        if (ch == L'.') {
            if (digits == 0 || ++parts > 4)
                return false;
            digits = 0;
            value = 0;
        } else if (ch >= L'0' && ch <= L'9') {
            value = value * 10 + (ch - L'0');
            if (++digits > 5 || value > 65535)
                return false;
        } else {
            return false;
        }
    }
    return digits > 0;
}

bool ReadRootClass(const std::wstring& path, CLSID& rootClass) {
    ComScope com;
    ComHolder<IStorage> root;
    if (FAILED(StgOpenStorage(path.c_str(), nullptr, STGM_READ | STGM_SHARE_DENY_WRITE, nullptr, 0,
                              root.put())))
        return false;
    STATSTG status = {};
    if (FAILED(root.get()->Stat(&status, STATFLAG_NONAME)))
        return false;
    rootClass = status.clsid;
    return true;
}

bool ReadRootStreamNames(const std::wstring& path, std::vector<std::wstring>& names) {
    ComScope com;
    ComHolder<IStorage> root;
    ComHolder<IEnumSTATSTG> elements;
    if (FAILED(StgOpenStorage(path.c_str(), nullptr, STGM_READ | STGM_SHARE_DENY_WRITE, nullptr, 0,
                              root.put())) ||
        FAILED(root.get()->EnumElements(0, nullptr, 0, elements.put())))
        return false;
    names.clear();
    STATSTG element = {};
    while (elements.get()->Next(1, &element, nullptr) == S_OK) {
        if (element.type == STGTY_STREAM && element.pwcsName != nullptr)
            names.push_back(element.pwcsName);
        CoTaskMemFree(element.pwcsName);
    }
    return true;
}

std::wstring GuidText(const GUID& guid) {
    wchar_t text[39] = {}; // 38 characters and the terminator
    if (StringFromGUID2(guid, text, 39) == 0)
        return std::wstring();
    return text;
}

} // namespace kit
