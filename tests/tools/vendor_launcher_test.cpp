// A launcher built as a vendor builds it: around a stamped patch, with the
// vendor's name in message 307, signed. VENDOR_LAUNCHER_EXE is that build.
#include "common/holder.h"
#include "kit/catalogue_brand.h"
#include "messages/messages.h"
#include "tests/messages/catalogue_data.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

namespace {

using test::Narrow;

using messages::NoProductFound;

// String `id` of `module` in catalogue language `language`, as the launcher
// loads it; false when the module has no such string.
bool LoadStringIn(HMODULE module, UINT id, LANGID language, std::wstring& text) {
    const LCID saved = GetThreadLocale();
    SetThreadLocale(MAKELCID(language, SORT_DEFAULT));
    const int loaded = LoadCatalogueText(module, id, text, messages::CatalogueCapacity);
    SetThreadLocale(saved);
    return loaded > 0;
}

std::wstring Replaced(std::wstring text, const std::wstring& from, const std::wstring& to) {
    const std::wstring::size_type at = text.find(from);
    if (at != std::wstring::npos)
        text.replace(at, from.size(), to);
    return text;
}

class VendorLauncher : public testing::Test {
  protected:
    void SetUp() override {
        launcher_.reset(LoadLibraryExW(VENDOR_LAUNCHER_EXE, nullptr,
                                       LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
        ASSERT_TRUE(launcher_) << "cannot load " << Narrow(VENDOR_LAUNCHER_EXE);
        module_ = launcher_.get();
    }
    LoadedModule launcher_;
    HMODULE module_ = nullptr;
};

TEST_F(VendorLauncher, Message307NamesTheVendorInEveryLanguage) {
    for (LCID language : test::CatalogueLanguages()) {
        const std::wstring original = test::ExpectedText(language, NoProductFound);
        const std::wstring expected =
            language == MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT)
                ? Replaced(original, kit::CatalogueMakerJa, VENDOR_MAKER_NAME_JA)
                : Replaced(original, kit::CatalogueMaker, VENDOR_MAKER_NAME);
        ASSERT_NE(expected, original) << "no maker's name in the data for " << language;
        std::wstring actual;
        ASSERT_TRUE(LoadStringIn(module_, NoProductFound, LANGID(language), actual)) << language;
        EXPECT_EQ(test::DescribeDifference(expected, actual), "")
            << language << ": " << Narrow(actual);
    }
}

TEST_F(VendorLauncher, EveryOtherCatalogueTextIsUnchanged) {
    for (const auto& [key, expected] : test::ExpectedCatalogue()) {
        if (key.second == NoProductFound)
            continue;
        std::wstring actual;
        ASSERT_TRUE(LoadStringIn(module_, key.second, LANGID(key.first), actual))
            << key.first << "/" << key.second;
        EXPECT_EQ(test::DescribeDifference(expected, actual), "") << key.first << "/" << key.second;
    }
}

TEST(SignedVendorLauncher, ExtractWritesThePatchByteForByte) {
    test::ScratchDirectory scratch;
    const std::wstring output = scratch.file(L"extracted.msp");
    const test::ProcessResult run =
        test::RunProcess(test::Quote(VENDOR_LAUNCHER_EXE) + L" /e " + test::Quote(output));
    ASSERT_TRUE(run.started);
    EXPECT_EQ(run.exitCode, 0u);
    const std::vector<std::uint8_t> expected = test::ReadFileBytes(VENDOR_PATCH_FILE);
    const std::vector<std::uint8_t> actual = test::ReadFileBytes(output);
    ASSERT_FALSE(expected.empty());
    EXPECT_TRUE(actual == expected) << "wrote " << actual.size() << " bytes of " << expected.size();
}

} // namespace
