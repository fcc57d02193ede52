#include "kit/text/text.h"

#include <windows.h>

#include <cstdio>

namespace kit {

namespace {

bool IsHighSurrogate(wchar_t ch) {
    return ch >= 0xD800 && ch <= 0xDBFF;
}

bool IsLowSurrogate(wchar_t ch) {
    return ch >= 0xDC00 && ch <= 0xDFFF;
}

// `part` with control characters and unpaired surrogates escaped.
std::wstring Escaped(const std::wstring& part) {
    std::wstring shown;
    for (std::size_t i = 0; i < part.size(); ++i) {
        const wchar_t ch = part[i];
        const bool paired =
            (IsHighSurrogate(ch) && i + 1 < part.size() && IsLowSurrogate(part[i + 1])) ||
            (IsLowSurrogate(ch) && i > 0 && IsHighSurrogate(part[i - 1]));
        if (ch == L'\n') {
            shown += L"\\n";
        } else if (ch < 0x20 || ch == 0x7F) {
            wchar_t escaped[5] = {}; // "\xNN" and the terminator
            std::swprintf(escaped, 5, L"\\x%02X", unsigned(ch));
            shown += escaped;
        } else if ((IsHighSurrogate(ch) || IsLowSurrogate(ch)) && !paired) {
            wchar_t escaped[7] = {}; // "\uNNNN" and the terminator
            std::swprintf(escaped, 7, L"\\u%04X", unsigned(ch));
            shown += escaped;
        } else {
            shown += ch;
        }
    }
    return shown;
}

} // namespace

std::wstring Shorten(const std::wstring& value) {
    if (value.size() <= ShortenedLength)
        return Escaped(value);
    return Escaped(value.substr(0, ShortenedLength - 16)) + L"..." +
           Escaped(value.substr(value.size() - 12)) + L" (" + std::to_wstring(value.size()) +
           L" characters)";
}

bool IsWellFormedText(const std::wstring& text) {
    if (text.empty())
        return true;
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    if (size <= 0)
        return false;
    std::string bytes(std::size_t(size), '\0');
    if (WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), &bytes[0], size, nullptr,
                            nullptr) != size)
        return false;
    const int length = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), size, nullptr, 0);
    if (length <= 0)
        return false;
    std::wstring back(std::size_t(length), L'\0');
    return MultiByteToWideChar(CP_UTF8, 0, bytes.data(), size, &back[0], length) == length &&
           back == text;
}

} // namespace kit
