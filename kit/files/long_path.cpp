#include "kit/files/long_path.h"

#include "common/growing_text.h"

namespace kit {

namespace {

constexpr wchar_t ExtendedPrefix[] = L"\\\\?\\";
constexpr wchar_t ExtendedUncPrefix[] = L"\\\\?\\UNC\\";

bool StartsWith(const std::wstring& text, const wchar_t* prefix) {
    return text.compare(0, std::char_traits<wchar_t>::length(prefix), prefix) == 0;
}

} // namespace

std::wstring LongPathForm(const std::wstring& path) {
    if (StartsWith(path, ExtendedPrefix) || StartsWith(path, L"\\\\.\\"))
        return path;
    std::wstring full;
    if (!ReadFullPath(path, full))
        return path;
    if (full.size() >= 3 && full[1] == L':' && full[2] == L'\\')
        return ExtendedPrefix + full; // C:\...
    if (StartsWith(full, L"\\\\"))
        return ExtendedUncPrefix + full.substr(2); // \\server\share\...
    return full;
}

} // namespace kit
