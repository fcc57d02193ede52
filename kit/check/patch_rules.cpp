#include "kit/check/patch_rules.h"

#include "common/guid_text.h"
#include "kit/package/patch_package.h"
#include "products/products.h"

namespace kit {

namespace {

std::wstring Quoted(const std::wstring& value) {
    return L"'" + Shorten(value) + L"'";
}

std::wstring KeywordsMessage(const std::wstring& keywords, const std::wstring& problem) {
    return L"PID_KEYWORDS (Keywords) " + Quoted(keywords) + L" " + problem + L". " + KeywordsForm;
}

std::wstring CheckVersions(const std::wstring& keywords, const std::wstring& upgrade,
                           const std::wstring& targets) {
    if (!kit::IsDottedVersion(upgrade))
        return KeywordsMessage(keywords, L"has the upgrade version " + Quoted(upgrade) +
                                             L", which is not a dotted version");
    if (targets.empty())
        return KeywordsMessage(keywords, L"names no target version after its \";\"");
    std::size_t start = 0;
    while (start < targets.size()) {
        const std::size_t comma = targets.find(L',', start);
        const std::wstring entry =
            targets.substr(start, comma == std::wstring::npos ? std::wstring::npos : comma - start);
        if (comma == std::wstring::npos)
            return KeywordsMessage(keywords, L"has the target entry " + Quoted(entry) +
                                                 L", which is not followed by \",\"");
        if (!kit::IsDottedVersion(entry))
            return KeywordsMessage(keywords, L"has the target entry " + Quoted(entry) +
                                                 L", which is not a dotted version");
        start = comma + 1;
    }
    return std::wstring();
}

// The upgrade version: the text before the first ";", as the launcher splits it.
std::wstring UpgradeVersion(const std::wstring& keywords) {
    return keywords.substr(0, keywords.find(L';'));
}

} // namespace

std::wstring KeywordsProblem(const std::wstring& keywords) {
    const std::size_t separator = keywords.find(L';');
    if (keywords.empty())
        return KeywordsMessage(keywords, L"is empty");
    if (separator == 0)
        return KeywordsMessage(keywords, L"starts with \";\"");
    if (separator == std::wstring::npos)
        return KeywordsMessage(keywords, L"has no \";\"");
    return CheckVersions(keywords, keywords.substr(0, separator), keywords.substr(separator + 1));
}

bool IsSmallUpdateKeywords(const std::wstring& keywords) {
    const std::size_t separator = keywords.find(L';');
    return separator != std::wstring::npos && separator > 0 &&
           IsSmallUpdate(keywords.substr(0, separator), keywords.substr(separator + 1));
}

std::wstring PatchCodeProblem(const std::wstring& keywords, const std::wstring& revisionNumber) {
    std::wstring patchCode;
    if (!IsSmallUpdateKeywords(keywords) || LeadingGuid(revisionNumber, patchCode))
        return std::wstring();
    return L"PID_KEYWORDS (Keywords) " + Quoted(keywords) +
           L" make a small update, which the launcher decides by whether the patch is applied, "
           L"but PID_REVNUMBER (Revision Number) " +
           Quoted(revisionNumber) +
           L" does not start with the patch code that it asks the installer service about "
           L"({XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}).";
}

std::wstring SmallUpdateNote(const std::wstring& keywords, const std::wstring& patchCode) {
    const std::wstring version = UpgradeVersion(keywords);
    return L"a small update (Keywords '" + keywords + L"'): a product at " + version +
           L" gets the patch unless the installer service says that " + patchCode +
           L" is applied to it; a product at any other version does not get it";
}

} // namespace kit
