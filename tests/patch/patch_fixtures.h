// Patch files written at test time, for the summary tests.
#pragma once

#include "tests/support/test_support.h"
#include "tools/patch_writer/patch_writer.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <string>

namespace test {

// Writes a patch file at `path` carrying the given keywords and product list
// as its only texts beside the usual title.
inline bool WriteSummaryFixture(const std::wstring& path, const std::wstring& keywords,
                                const std::wstring& products) {
    patchwriter::SummaryInformation summary;
    summary.SetText(kit::PropertyTitle, L"Patch");
    summary.SetText(kit::PropertyKeywords, keywords);
    summary.SetText(kit::PropertyTemplate, products);
    summary.SetText(kit::PropertyRevNumber, L"{6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8B01}");
    summary.SetInteger(kit::PropertyWordCount, 1);
    return patchwriter::WriteSummaryPackage(path, summary);
}

// `count` distinct product codes in registry form joined by ";" (39
// characters per code, less one for the last separator).
inline std::wstring ProductList(int count) {
    std::wstring list;
    list.reserve(std::size_t(count) * 39);
    for (int i = 0; i < count; ++i) {
        wchar_t code[39] = {}; // 38 characters and the terminator
        std::swprintf(code, 39, L"{6E1E2A4B-1C1D-4B8E-9A51-%012X}", i);
        if (i > 0)
            list += L";";
        list += code;
    }
    return list;
}

// Writes patch files into a scratch directory of its own, each under a new
// name.
class PatchFiles {
  public:
    std::wstring Write(const std::wstring& keywords, const std::wstring& products) {
        const std::wstring path = scratch_.file(L"patch" + std::to_wstring(++count_) + L".msp");
        EXPECT_TRUE(WriteSummaryFixture(path, keywords, products)) << Narrow(path);
        return path;
    }
    const ScratchDirectory& scratch() const { return scratch_; }

  private:
    ScratchDirectory scratch_;
    int count_ = 0;
};

} // namespace test
