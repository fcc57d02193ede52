// Decimal texts of integers, without the C runtime's formatted output: the
// launcher needs nothing else of it, and it is most of what a printf costs.
#pragma once

#include <cstdint>
#include <string>

// `value` in decimal, at least `width` digits (with leading zeros).
inline std::wstring DecimalText(std::uint64_t value, std::size_t width = 1) {
    wchar_t digits[20] = {}; // the 20 digits of the largest 64-bit value, no terminator
    std::size_t count = 0;
    do {
        digits[count++] = static_cast<wchar_t>(L'0' + value % 10);
        value /= 10;
    } while (value != 0);
    std::wstring text(width > count ? width - count : 0, L'0');
    while (count > 0)
        text += digits[--count];
    return text;
}

// `value` in decimal, with a "-" when negative.
inline std::wstring SignedDecimalText(std::int64_t value) {
    if (value >= 0)
        return DecimalText(static_cast<std::uint64_t>(value));
    // The magnitude of the most negative value does not fit its own type.
    return L"-" + DecimalText(static_cast<std::uint64_t>(-(value + 1)) + 1);
}
