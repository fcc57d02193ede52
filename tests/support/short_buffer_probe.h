// The short-buffer contract of the installer service's text reads, probed the
// same way against the real msi.dll and against the installer double, so that
// the double cannot drift from the service it stands for: with a buffer one
// character too small the read answers ERROR_MORE_DATA and the length the
// text needs (terminator excluded); with exactly that length plus one it
// answers ERROR_SUCCESS, the length of the text and the whole text.
#pragma once

#include "installer/installer.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace test {

// Calls the read under test with a buffer and its in/out length.
using TextRead = std::function<UINT(wchar_t* buffer, DWORD* length)>;

// A read of summary property `property` through `summary`.
inline TextRead SummaryTextRead(MSIHANDLE summary, UINT property) {
    return [summary, property](wchar_t* buffer, DWORD* length) {
        UINT type = 0;
        INT integer = 0;
        FILETIME time = {};
        return installer::MsiSummaryInfoGetPropertyW(summary, property, &type, &integer, &time,
                                                     buffer, length);
    };
}

// A read of product property `property` of the product `productCode`.
inline TextRead ProductTextRead(const std::wstring& productCode, const wchar_t* property) {
    return [productCode, property](wchar_t* buffer, DWORD* length) {
        return installer::MsiGetProductInfoW(productCode.c_str(), property, buffer, length);
    };
}

inline void ExpectShortBufferContract(const TextRead& read, const std::wstring& value) {
    const DWORD size = static_cast<DWORD>(value.size());
    std::vector<wchar_t> buffer(size + 1, L'#'); // room for the text and its terminator

    DWORD length = size; // one short: no room for the terminator
    EXPECT_EQ(read(buffer.data(), &length), UINT(ERROR_MORE_DATA)) << "buffer of " << size;
    EXPECT_EQ(length, size) << "the length needed, terminator excluded";

    buffer.assign(size + 1, L'#');
    length = size + 1;
    EXPECT_EQ(read(buffer.data(), &length), UINT(ERROR_SUCCESS)) << "buffer of " << size + 1;
    EXPECT_EQ(length, size) << "the length read, terminator excluded";
    EXPECT_TRUE(std::wstring(buffer.data()) == value)
        << "read " << std::wstring(buffer.data()).size() << " characters";
}

} // namespace test
