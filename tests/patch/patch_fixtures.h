// Patch files written at test time, for the summary tests.
#pragma once

#include "tools/patch_writer/patch_writer.h"

#include <cwchar>
#include <string>

namespace test {

// Writes a patch file at `path` carrying the given keywords and product list
// as its only texts beside the usual title.
inline bool WriteSummaryFixture(const std::wstring& path, const std::wstring& keywords,
                                const std::wstring& products) {
    patchwriter::SummaryInformation summary;
    summary.SetText(patchwriter::PropertyTitle, L"Patch");
    summary.SetText(patchwriter::PropertyKeywords, keywords);
    summary.SetText(patchwriter::PropertyTemplate, products);
    summary.SetText(patchwriter::PropertyRevNumber, L"{6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8B01}");
    summary.SetInteger(patchwriter::PropertyWordCount, 1);
    return patchwriter::WriteSummaryPackage(path, summary);
}

// `count` distinct product codes joined by ";" (39 characters per code, less
// one for the last separator).
inline std::wstring ProductList(int count) {
    std::wstring list;
    for (int i = 0; i < count; ++i) {
        wchar_t code[39] = {}; // 38 characters and the terminator
        std::swprintf(code, 39, L"{6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E%04X}", i);
        if (i > 0)
            list += L";";
        list += code;
    }
    return list;
}

} // namespace test
