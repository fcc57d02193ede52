#include "products/products.h"

#include <cwctype>
#include <limits>

namespace {

// Reads one part into `component`; a value that 16 bits do not hold (a
// negative one included) makes the whole text no version.
void ReadPart(const std::wstring& part, std::uint16_t& component, VersionNumber& version) {
    const std::int32_t value = ReadLeadingInteger(part);
    if (value < 0 || value > 0xFFFF)
        version.inRange = false;
    component = static_cast<std::uint16_t>(value & 0xFFFF);
}

// Splits off the text before the first full stop of `remainder`; false when
// there is none, leaving `remainder` as it was.
bool TakePart(std::wstring& remainder, std::wstring& part) {
    const std::wstring::size_type stop = remainder.find(L'.');
    if (stop == std::wstring::npos)
        return false;
    part = remainder.substr(0, stop);
    remainder.erase(0, stop + 1);
    return true;
}

} // namespace

std::int32_t ReadLeadingInteger(const std::wstring& text) {
    std::wstring::size_type position = 0;
    while (position < text.size() && std::iswspace(text[position]))
        ++position;
    bool negative = false;
    if (position < text.size() && (text[position] == L'+' || text[position] == L'-')) {
        negative = text[position] == L'-';
        ++position;
    }
    // Accumulate as a magnitude and clamp once it leaves the 32-bit range.
    const std::int64_t limit = negative ? -std::int64_t(std::numeric_limits<std::int32_t>::min())
                                        : std::numeric_limits<std::int32_t>::max();
    std::int64_t magnitude = 0;
    for (; position < text.size() && text[position] >= L'0' && text[position] <= L'9'; ++position) {
        magnitude = magnitude * 10 + (text[position] - L'0');
        if (magnitude > limit)
            magnitude = limit;
    }
    return static_cast<std::int32_t>(negative ? -magnitude : magnitude);
}

VersionNumber ParseVersion(std::wstring text) {
    for (wchar_t& c : text) {
        if (c == L',')
            c = L'.';
    }
    // Every part that is there is read, the last one too; a text of fewer than
    // four parts leaves the missing ones 0 (2.1.30 reads as 2.1.30.0). Full
    // stops after the third are not separators: the fourth part's number ends
    // at its first non-digit.
    VersionNumber version;
    std::uint16_t* const components[] = {&version.first, &version.second, &version.third};
    for (std::uint16_t* component : components) {
        std::wstring part;
        if (!TakePart(text, part)) {
            ReadPart(text, *component, version);
            return version;
        }
        ReadPart(part, *component, version);
    }
    ReadPart(text, version.fourth, version);
    return version;
}

bool VersionsEqual(const VersionNumber& left, const VersionNumber& right) {
    return left.inRange && right.inRange && left.first == right.first &&
           left.second == right.second && left.third == right.third && left.fourth == right.fourth;
}

bool IsSmallUpdate(const std::wstring& upgradeVersion, const std::wstring& targetVersions) {
    const std::wstring::size_type comma = targetVersions.find(L',');
    if (comma == std::wstring::npos || comma + 1 != targetVersions.size())
        return false;
    return VersionsEqual(ParseVersion(targetVersions.substr(0, comma)),
                         ParseVersion(upgradeVersion));
}
