#include "tools/patch_check/patch_check.h"

#include "installer/installer.h"
#include "patch/patch.h"
#include "tools/patch_writer/patch_writer.h"

#include <cstdio>

namespace patchcheck {

namespace {

constexpr wchar_t KeywordsForm[] =
    L"It must be UPGRADE;TARGET,TARGET,... : the version the patch brings a product to, one "
    L"\";\", then each version the patch applies to followed by \",\" (for example "
    L"1.1.0.0;1.0.0.0,1.0.5.0,); a version is one to four numbers from 0 to 65535 joined by "
    L"\".\".";
constexpr wchar_t StampAdvice[] =
    L" Patches made by other authoring tools keep a list of source locations here: write a copy "
    L"with the launcher's keywords, taken from the patch's own transforms, with "
    L"\"patch_writer stamp IN.msp OUT.msp\" (or \"--keywords TEXT\" to give them), and build "
    L"with that copy.";
constexpr wchar_t TemplateForm[] =
    L"It must be {PRODUCTCODE};{PRODUCTCODE}... : one or more product codes in registry form "
    L"({XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}, upper-case hexadecimal digits), separated by "
    L"\";\" with none after the last.";

std::wstring Quoted(const std::wstring& value) {
    return L"'" + Shorten(value) + L"'";
}

std::wstring KeywordsProblem(const std::wstring& keywords, const std::wstring& problem) {
    return L"PID_KEYWORDS (Keywords) " + Quoted(keywords) + L" " + problem + L". " + KeywordsForm;
}

std::wstring TemplateProblem(const std::wstring& products, const std::wstring& problem) {
    return L"PID_TEMPLATE (Template) " + Quoted(products) + L" " + problem + L". " + TemplateForm;
}

// The raw keywords, for a message about a text that ReadPatchVersions refused.
std::wstring RawKeywords(const std::wstring& path) {
    MsiHandleHolder summary(OpenPatchSummary(path));
    if (!summary)
        return std::wstring();
    DWORD length = 0;
    UINT type = 0;
    INT integer = 0;
    FILETIME time = {};
    wchar_t empty[1] = {L'\0'}; // room for the terminator only
    if (installer::MsiSummaryInfoGetPropertyW(summary.get(), installer::PropertyKeywords, &type,
                                              &integer, &time, empty, &length) != ERROR_MORE_DATA)
        return std::wstring();
    std::wstring text(length + 1, L'\0'); // terminator included
    DWORD capacity = length + 1;
    if (installer::MsiSummaryInfoGetPropertyW(summary.get(), installer::PropertyKeywords, &type,
                                              &integer, &time, &text[0],
                                              &capacity) != ERROR_SUCCESS)
        return std::wstring();
    text.resize(length);
    return text;
}

std::wstring CheckVersions(const std::wstring& upgrade, const std::wstring& targets) {
    const std::wstring keywords = upgrade + L";" + targets;
    if (!patchwriter::IsDottedVersion(upgrade))
        return KeywordsProblem(keywords, L"has the upgrade version " + Quoted(upgrade) +
                                             L", which is not a dotted version");
    if (targets.empty())
        return KeywordsProblem(keywords, L"names no target version after its \";\"");
    std::size_t start = 0;
    while (start < targets.size()) {
        const std::size_t comma = targets.find(L',', start);
        const std::wstring entry =
            targets.substr(start, comma == std::wstring::npos ? std::wstring::npos : comma - start);
        if (comma == std::wstring::npos)
            return KeywordsProblem(keywords, L"has the target entry " + Quoted(entry) +
                                                 L", which is not followed by \",\"");
        if (!patchwriter::IsDottedVersion(entry))
            return KeywordsProblem(keywords, L"has the target entry " + Quoted(entry) +
                                                 L", which is not a dotted version");
        start = comma + 1;
    }
    return std::wstring();
}

std::wstring CheckProducts(const std::wstring& products) {
    if (products.empty())
        return L"PID_TEMPLATE (Template) is empty. " + std::wstring(TemplateForm);
    std::size_t start = 0;
    for (std::size_t number = 1;; ++number) {
        const std::size_t semicolon = products.find(L';', start);
        const std::wstring entry = products.substr(
            start, semicolon == std::wstring::npos ? std::wstring::npos : semicolon - start);
        if (!patchwriter::IsRegistryGuid(entry))
            return TemplateProblem(products, L"has as entry " + std::to_wstring(number) + L" " +
                                                 Quoted(entry) +
                                                 L", which is not a product code in registry form");
        if (semicolon == std::wstring::npos)
            return std::wstring();
        start = semicolon + 1;
    }
}

} // namespace

std::wstring Shorten(const std::wstring& value) {
    std::wstring shown;
    const bool cut = value.size() > ShortenedLength;
    const std::wstring head = cut ? value.substr(0, ShortenedLength - 16) : value;
    const std::wstring tail = cut ? value.substr(value.size() - 12) : std::wstring();
    for (const std::wstring* part : {&head, &tail}) {
        if (part == &tail && cut)
            shown += L"...";
        for (wchar_t ch : *part) {
            if (ch == L'\n') {
                shown += L"\\n";
            } else if (ch < 0x20 || ch == 0x7F) {
                wchar_t escaped[5] = {}; // "\xNN" and the terminator
                std::swprintf(escaped, 5, L"\\x%02X", unsigned(ch));
                shown += escaped;
            } else {
                shown += ch;
            }
        }
    }
    if (cut)
        shown += L" (" + std::to_wstring(value.size()) + L" characters)";
    return shown;
}

std::wstring CheckPatchPackage(const std::wstring& path) {
    CLSID rootClass = {};
    if (!patchwriter::ReadRootClass(path, rootClass))
        return L"not a Windows Installer patch package: it cannot be opened as a compound file.";
    if (!IsEqualCLSID(rootClass, patchwriter::PatchClass))
        return L"not a Windows Installer patch package: its root storage has the class " +
               patchwriter::GuidText(rootClass) + L", not the patch class " +
               patchwriter::GuidText(patchwriter::PatchClass) + L".";
    {
        MsiHandleHolder summary(OpenPatchSummary(path));
        if (!summary)
            return L"not a Windows Installer patch package: the installer service cannot read "
                   L"its summary information.";
    }
    std::wstring upgrade, targets;
    SetLastError(ERROR_SUCCESS);
    if (!ReadPatchVersions(path, upgrade, targets)) {
        if (GetLastError() != ERROR_RESOURCE_NOT_PRESENT)
            return L"PID_KEYWORDS (Keywords) cannot be read as text. " +
                   std::wstring(KeywordsForm) + StampAdvice;
        const std::wstring keywords = RawKeywords(path);
        const std::wstring problem = keywords.empty()      ? L"is empty"
                                     : keywords[0] == L';' ? L"starts with \";\""
                                                           : L"has no \";\"";
        return KeywordsProblem(keywords, problem) + StampAdvice;
    }
    const std::wstring versionsProblem = CheckVersions(upgrade, targets);
    if (!versionsProblem.empty())
        return versionsProblem + StampAdvice;
    std::wstring products;
    if (!ReadPatchProducts(path, products))
        return L"PID_TEMPLATE (Template) cannot be read as text. " + std::wstring(TemplateForm);
    return CheckProducts(products);
}

} // namespace patchcheck
