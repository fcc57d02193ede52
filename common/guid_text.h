// GUID texts as the installer service keeps them: 38 characters, braces
// around hexadecimal digits in groups of 8, 4, 4, 4 and 12 joined by hyphens,
// the digits in upper case (the registry form).
#pragma once

#include <cstddef>
#include <string>

constexpr std::size_t GuidTextLength = 38; // braces included, terminator excluded

// `text` with its ASCII letters in upper case: a GUID text in registry form.
inline std::wstring RegistryForm(std::wstring text) {
    for (wchar_t& ch : text) {
        if (ch >= L'a' && ch <= L'z')
            ch = static_cast<wchar_t>(ch - L'a' + L'A');
    }
    return text;
}

// True for a GUID text of 38 characters in braces, its digits in either case.
inline bool IsBracedGuid(const std::wstring& text) {
    if (text.size() != GuidTextLength || text.front() != L'{' || text.back() != L'}')
        return false;
    for (std::size_t i = 1; i + 1 < GuidTextLength; ++i) {
        const wchar_t ch = text[i];
        const bool hyphen = i == 9 || i == 14 || i == 19 || i == 24;
        const bool digit =
            (ch >= L'0' && ch <= L'9') || (ch >= L'A' && ch <= L'F') || (ch >= L'a' && ch <= L'f');
        if (hyphen ? ch != L'-' : !digit)
            return false;
    }
    return true;
}

// The GUID that `text` starts with (its first 38 characters), in registry
// form; false when it does not start with one, leaving `guid` as it was.
inline bool LeadingGuid(const std::wstring& text, std::wstring& guid) {
    const std::wstring head = text.substr(0, GuidTextLength);
    if (!IsBracedGuid(head))
        return false;
    guid = RegistryForm(head);
    return true;
}
