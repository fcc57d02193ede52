// Version texts: what every shape of text parses to, and equality.
#include "products/products.h"

#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Dotted(const VersionNumber& version) {
    return std::to_string(version.first) + "." + std::to_string(version.second) + "." +
           std::to_string(version.third) + "." + std::to_string(version.fourth);
}

struct ParseCase {
    std::wstring text;
    std::string expected;
};

void ExpectParses(const ParseCase& c) {
    EXPECT_EQ(Dotted(ParseVersion(c.text)), c.expected)
        << "text \"" << test::Narrow(c.text) << "\"";
}

TEST(ParseVersion, ReadsEveryShapeOfText) {
    const ParseCase cases[] = {
        {L"2.1.30.7", "2.1.30.7"},
        {L"2,1,30,7", "2.1.30.7"},
        {L"2,1.30,7", "2.1.30.7"},
        {L"2.1.30", "2.1.30.0"},
        {L"2.1", "2.1.0.0"},
        {L"2", "2.0.0.0"},
        {L"", "0.0.0.0"},
        {L"2.1.30.7.9", "2.1.30.7"},
        {L"2..30.7", "2.0.30.7"},
        {L"2.1.30.", "2.1.30.0"},
        {L".1.2.3", "0.1.2.3"},
        {L" 2. 1. 30. 7", "2.1.30.7"},
        {L"2a.1b.30c.7d", "2.1.30.7"},
        {L"ver2.1.30.7", "0.1.30.7"},
        {L"02.010.0030.7", "2.10.30.7"},
        {L"0x1F.0.0.0", "0.0.0.0"},
        {L"+2.1.30.7", "2.1.30.7"},
        {L"-1.0.0.0", "65535.0.0.0"},
        {L"65536.65537.0.0", "0.1.0.0"},
        {L"4294967297.0.0.0", "65535.0.0.0"},
        {L"-4294967297.0.0.0", "0.0.0.0"},
    };
    for (const ParseCase& c : cases)
        ExpectParses(c);
}

TEST(ParseVersion, ClampsSignsAndSkipsWhiteSpaceBeforeCuttingTo16Bits) {
    const ParseCase cases[] = {
        // Far more digits than any integer type holds.
        {L"123456789012345678901234567890123456789.1.2.3", "65535.1.2.3"},
        {L"-123456789012345678901234567890123456789.1.2.3", "0.1.2.3"},
        {L"1.2.3.99999999999999999999999999999999", "1.2.3.65535"},
        // The edges of the 32-bit range.
        {L"2147483647.2147483648.-2147483648.-2147483649", "65535.65535.0.0"},
        {L"65535.65535.65535.65535", "65535.65535.65535.65535"},
        {L"-65535.-65536.-65537.-0", "1.0.65535.0"},
        // Every white-space kind, before the sign too.
        {L"\t2.\n1.\v30.\f7", "2.1.30.7"},
        {L"\r2.  \t-1.\r\n3. +4", "2.65535.3.4"},
        // A sign alone, two signs, white space after the sign: no digits.
        {L"+.-.+x.-", "0.0.0.0"},
        {L"++1.--1.+-1.- 1", "0.0.0.0"},
        // Digits end at the first other character, white space included.
        {L"1 2.3 4.5-6.7+8", "1.3.5.7"},
        {L"1,0", "1.0.0.0"},
        {L"...", "0.0.0.0"},
    };
    for (const ParseCase& c : cases)
        ExpectParses(c);
}

// Real products write three-part versions (major.minor.build) and shorter:
// the last part present counts like every other.
TEST(ParseVersion, ReadsTheLastPartOfATextOfFewerThanFourParts) {
    const ParseCase cases[] = {
        {L"8.0.61001", "8.0.61001.0"},
        {L"1.0", "1.0.0.0"},
        {L"7", "7.0.0.0"},
        {L"2,1", "2.1.0.0"},
        {L"2.1x", "2.1.0.0"},
        {L" 2. 1. 30", "2.1.30.0"},
        {L"-1", "65535.0.0.0"},
        {L"65537.4294967297", "1.65535.0.0"},
        {L"2..", "2.0.0.0"},
        {L"ver2", "0.0.0.0"},
    };
    for (const ParseCase& c : cases)
        ExpectParses(c);
}

TEST(ParseVersion, LeavesTheCallersTextAsItWas) {
    const std::wstring text = L"2,1,30,7";
    std::wstring copy = text;
    ParseVersion(copy);
    EXPECT_EQ(test::Narrow(copy), test::Narrow(text));
}

TEST(ReadLeadingInteger, KeepsTheFull32BitValue) {
    struct Case {
        std::wstring text;
        std::int32_t expected;
    };
    const Case cases[] = {
        {L"1033", 1033},
        {L"  +42abc", 42},
        {L"-7", -7},
        {L"70000", 70000},
        {L"99999999999", 2147483647},
        {L"-2147483649", -2147483647 - 1},
        {L"", 0},
        {L"-", 0},
        {L"x1", 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ReadLeadingInteger(c.text), c.expected)
            << "text \"" << test::Narrow(c.text) << "\"";
}

TEST(VersionsEqual, ComparesAllFourParsedComponents) {
    struct Case {
        std::wstring left;
        std::wstring right;
        bool equal;
    };
    const Case cases[] = {
        // Missing parts are 0, and every part present counts.
        {L"2.1", L"2.0.0.0", false},
        {L"2.1", L"2.1.0.0", true},
        {L"2.1.30", L"2.1.99", false},
        {L"2.1.30", L"2.1.30.0", true},
        {L"2", L"2.0", true},
        {L"1.0", L"1.0.0.0", true},
        {L"2,1,30,7", L"2.1.30.7", true},
        {L"", L"0.0.0.0", true},
        {L"1.0", L"1.0.0", true},
        {L"2.1.30.7", L"2.1.30.7.9", true},
        // A part that 16 bits do not hold makes the text no version, equal
        // to nothing: it is not read as its low 16 bits.
        {L"65536.0.0.0", L"0.0.0.0", false},
        {L"65537.0.0.0", L"1.0.0.0", false},
        {L"-65535.0.0.0", L"1.0.0.0", false},
        {L"1.2.3.4294967297", L"1.2.3.65535", false},
        {L"1.70000", L"1.4464", false},
        {L"65537.0.0.0", L"65537.0.0.0", false},
        {L"65535.65535.65535.65535", L"65535.65535.65535.65535", true},
        {L"2.1.30.7.99999", L"2.1.30.7", true},
        {L"2.1.30.7", L"2.1.30.8", false},
        {L"1.0.0.0", L"2.0.0.0", false},
        {L"0.1.0.0", L"0.2.0.0", false},
        {L"0.0.1.0", L"0.0.2.0", false},
        {L"1.0.0.0", L"0.1.0.0", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("\"" + test::Narrow(c.left) + "\" and \"" + test::Narrow(c.right) + "\"");
        const VersionNumber left = ParseVersion(c.left);
        const VersionNumber right = ParseVersion(c.right);
        EXPECT_EQ(VersionsEqual(left, right), c.equal);
        EXPECT_EQ(VersionsEqual(right, left), c.equal);
    }
}

} // namespace
