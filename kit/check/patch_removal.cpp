#include "kit/check/patch_removal.h"

#include "installer/installer.h"

#include <windows.h>

namespace kit {

namespace {

constexpr wchar_t MetadataTable[] = L"MsiPatchMetadata";
constexpr wchar_t AllowRemovalQuery[] =
    L"SELECT `Value` FROM `MsiPatchMetadata` WHERE `Company` IS NULL AND "
    L"`Property` = 'AllowRemoval'";

RemovalFacts Facts(Removal removal, const std::wstring& reason) {
    RemovalFacts facts;
    facts.removal = removal;
    facts.reason = reason;
    return facts;
}

RemovalFacts Unreadable(const wchar_t* what, UINT result) {
    return Facts(Removal::Unreadable,
                 std::wstring(what) + L" (error " + std::to_wstring(result) + L")");
}

// Field 1 of `record` as text; false with the service's result in `result`.
bool ReadField(MSIHANDLE record, std::wstring& text, UINT& result) {
    wchar_t empty[1] = {L'\0'}; // room for the terminator only
    DWORD length = 0;
    result = installer::MsiRecordGetStringW(record, 1, empty, &length);
    if (result == ERROR_SUCCESS) {
        text.clear();
        return true;
    }
    if (result != ERROR_MORE_DATA)
        return false;
    std::wstring value(std::wstring::size_type(length) + 1, L'\0'); // terminator included
    DWORD capacity = length + 1;
    result = installer::MsiRecordGetStringW(record, 1, &value[0], &capacity);
    if (result != ERROR_SUCCESS)
        return false;
    value.resize(capacity);
    text = value;
    return true;
}

} // namespace

RemovalFacts ReadRemovalFacts(const std::wstring& path) {
    MsiHandleHolder database;
    // A patch package opens as a database only with this flag.
    const LPCWSTR readPatch = MSIDBOPEN_READONLY + MSIDBOPEN_PATCHFILE;
    UINT result = installer::MsiOpenDatabaseW(path.c_str(), readPatch, database.put());
    if (result != ERROR_SUCCESS)
        return Unreadable(L"it cannot be opened as a patch database", result);
    const MSICONDITION table =
        installer::MsiDatabaseIsTablePersistentW(database.get(), MetadataTable);
    if (table == MSICONDITION_NONE)
        return Facts(Removal::NotAllowed, L"it has no MsiPatchMetadata table");
    if (table != MSICONDITION_TRUE)
        return Facts(Removal::Unreadable, L"its MsiPatchMetadata table cannot be read");
    MsiHandleHolder view;
    result = installer::MsiDatabaseOpenViewW(database.get(), AllowRemovalQuery, view.put());
    if (result == ERROR_SUCCESS)
        result = installer::MsiViewExecute(view.get(), 0);
    if (result != ERROR_SUCCESS)
        return Unreadable(L"its MsiPatchMetadata table cannot be read", result);
    MsiHandleHolder record;
    result = installer::MsiViewFetch(view.get(), record.put());
    if (result == ERROR_NO_MORE_ITEMS)
        return Facts(Removal::NotAllowed,
                     L"its MsiPatchMetadata table has no AllowRemoval row (with an empty Company)");
    std::wstring value;
    if (result != ERROR_SUCCESS || !ReadField(record.get(), value, result))
        return Unreadable(L"its MsiPatchMetadata table cannot be read", result);
    if (value == L"1")
        return Facts(Removal::Allowed, L"its MsiPatchMetadata table has AllowRemoval 1");
    return Facts(Removal::NotAllowed,
                 L"its MsiPatchMetadata table has AllowRemoval '" + value + L"', not 1");
}

std::wstring RemovalNote(const RemovalFacts& facts) {
    switch (facts.removal) {
    case Removal::Allowed:
        return L"it can be removed again with \"/uninstall\": " + facts.reason +
               L" (the installer service still refuses to remove a patch that adds rows to tables "
               L"it cannot take back, such as Class, Font, IniFile, SelfReg, ServiceInstall or "
               L"TypeLib).";
    case Removal::NotAllowed:
        return L"it cannot be removed again: " + facts.reason +
               L"; \"/uninstall\" reports it as not removable (1646) on every product that has "
               L"it. Give the patch an MsiPatchMetadata row AllowRemoval 1 to allow it.";
    case Removal::Unreadable:
        break;
    }
    return L"whether it can be removed again is not known: " + facts.reason +
           L"; the installer service decides when \"/uninstall\" asks it.";
}

} // namespace kit
