// The catalogue as the platform's string lookup gives it back from the module:
// every text in every language, code unit for code unit.
#include "common/program_state.h"
#include "messages/messages.h"
#include "tests/messages/catalogue_data.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

namespace {

constexpr UINT CatalogueIds[] = {
    messages::InstallFailed,    messages::PatchApplied,       messages::AlreadyUpToDate,
    messages::NoProductFound,   messages::VersionNotTargeted, messages::CommandLineIncorrect,
    messages::PatchListMissing, messages::TitleError,         messages::TitleSuccess,
    messages::TitleUnnecessary, messages::PatchRemoved,       messages::NotInstalledOn,
    messages::NothingToRemove,  messages::TitleRemoval};

class Catalogue : public testing::Test {
  protected:
    void SetUp() override {
        savedLocale_ = GetThreadLocale();
        savedUiLanguage_ = GetThreadUILanguage();
    }
    void TearDown() override {
        SetThreadLocale(savedLocale_);
        SetThreadUILanguage(savedUiLanguage_);
    }

    static std::wstring Load(LCID lcid, UINT id) {
        EXPECT_TRUE(SetThreadLocale(lcid)) << "LCID " << lcid;
        std::wstring text = L"previous content";
        LoadCatalogueText(ModuleInstance, id, text, messages::CatalogueCapacity);
        return text;
    }

  private:
    LCID savedLocale_ = 0;
    LANGID savedUiLanguage_ = 0;
};

BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR parameter) {
    reinterpret_cast<std::set<LCID>*>(parameter)->insert(language);
    return TRUE;
}

std::set<LCID> BlockLanguages(WORD block) {
    std::set<LCID> languages;
    EnumResourceLanguagesW(ModuleInstance, RT_STRING, MAKEINTRESOURCEW(block), CollectLanguage,
                           reinterpret_cast<LONG_PTR>(&languages));
    return languages;
}

std::string Join(const std::set<LCID>& values) {
    std::string joined;
    for (LCID value : values)
        joined += std::to_string(value) + " ";
    return joined;
}

TEST(CatalogueData, HoldsFourteenStringsForEachOfTheFourteenLanguages) {
    const auto& catalogue = test::ExpectedCatalogue();
    EXPECT_EQ(catalogue.size(), 196u);
    EXPECT_EQ(test::CatalogueLanguages().size(), 14u);
    for (LCID lcid : test::CatalogueLanguages())
        for (UINT id : CatalogueIds)
            EXPECT_EQ(catalogue.count({lcid, id}), 1u) << "LCID " << lcid << ", ID " << id;
}

// Each translation carries the English text's placeholder and no other
// percent sign, and no text holds a carriage return or is too long to load.
TEST(CatalogueData, EveryTranslationCarriesTheEnglishPlaceholderOnly) {
    for (const auto& entry : test::ExpectedCatalogue()) {
        const std::wstring& text = entry.second;
        const std::wstring english = test::ExpectedText(1033, entry.first.second);
        const auto percents = std::count(text.begin(), text.end(), L'%');
        const bool hasNumber = english.find(L"%d") != std::wstring::npos;
        const bool hasName = english.find(L"%s") != std::wstring::npos;
        SCOPED_TRACE("LCID " + std::to_string(entry.first.first) + ", ID " +
                     std::to_string(entry.first.second) + ": " + test::Narrow(text));
        EXPECT_EQ(percents, hasNumber || hasName ? 1 : 0);
        EXPECT_EQ(text.find(L"%d") != std::wstring::npos, hasNumber);
        EXPECT_EQ(text.find(L"%s") != std::wstring::npos, hasName);
        EXPECT_EQ(text.find(L'\r'), std::wstring::npos);
        EXPECT_LE(text.size(), 255u);
    }
}

TEST_F(Catalogue, LoadsEveryStringInItsThreadLanguageExactlyAsListed) {
    for (const auto& entry : test::ExpectedCatalogue()) {
        const LCID lcid = entry.first.first;
        const UINT id = entry.first.second;
        const std::wstring loaded = Load(lcid, id);
        EXPECT_EQ(test::DescribeDifference(entry.second, loaded), "")
            << "LCID " << lcid << ", ID " << id;
    }
}

// Windows' own string lookup follows the thread's UI language and then the
// user's; the catalogue must follow the thread locale, which here is neither.
TEST_F(Catalogue, LoadsTheThreadLocalesLanguageWhateverTheThreadUiLanguage) {
    const std::pair<LCID, LANGID> cases[] = {
        {1031, 1041}, {1041, 1031}, {2052, 1028}, {1049, 1033}, {3082, 1046}};
    for (const auto& c : cases) {
        ASSERT_NE(GetUserDefaultLCID(), c.first) << "the test needs another user locale";
        SetThreadUILanguage(c.second);
        const std::wstring loaded = Load(c.first, messages::PatchApplied);
        EXPECT_EQ(test::DescribeDifference(test::ExpectedText(c.first, 301), loaded), "")
            << "thread locale " << c.first << ", thread UI language " << c.second;
    }
}

// A locale whose language has no table of its own gets the catalogue language
// with the same primary language (for Chinese, the same script), else English.
// The thread UI language is set apart, so that neither the loader's choice
// nor the user's language can pass for the right one.
TEST_F(Catalogue, FallsBackToTheClosestCatalogueLanguage) {
    const std::pair<LCID, LCID> cases[] = {
        {2055, 1031},    // German (Switzerland)
        {3079, 1031},    // German (Austria)
        {3084, 1036},    // French (Canada)
        {2060, 1036},    // French (Belgium)
        {2064, 1040},    // Italian (Switzerland)
        {2058, 3082},    // Spanish (Mexico)
        {1034, 3082},    // Spanish (Spain, traditional sort)
        {2070, 1046},    // Portuguese (Portugal)
        {3076, 1028},    // Chinese (Hong Kong SAR)
        {5124, 1028},    // Chinese (Macao SAR)
        {4100, 2052},    // Chinese (Singapore)
        {0x10407, 1031}, // German (Germany), phone book sort
        {1053, 1033},    // Swedish: no Swedish in the catalogue
        {1043, 1033},    // Dutch
        {2057, 1033},    // English (United Kingdom)
        {1055, 1033},    // Turkish
    };
    for (const auto& c : cases) {
        SetThreadUILanguage(1041);
        const std::wstring loaded = Load(c.first, messages::PatchApplied);
        EXPECT_EQ(test::DescribeDifference(test::ExpectedText(c.second, 301), loaded), "")
            << "thread locale " << c.first << ", expected the text of " << c.second;
    }
}

TEST_F(Catalogue, ReturnsTheNumberOfCharactersLoaded) {
    for (const auto& entry : test::ExpectedCatalogue()) {
        SetThreadLocale(entry.first.first);
        std::wstring text;
        EXPECT_EQ(LoadCatalogueText(ModuleInstance, entry.first.second, text,
                                    messages::CatalogueCapacity),
                  static_cast<int>(entry.second.size()))
            << "LCID " << entry.first.first << ", ID " << entry.first.second;
    }
}

TEST_F(Catalogue, LeavesIds302To305EmptyInEveryLanguage) {
    for (LCID lcid : test::CatalogueLanguages()) {
        for (UINT id = 302; id <= 305; ++id) {
            SetThreadLocale(lcid);
            std::wstring text = L"previous content";
            EXPECT_EQ(LoadCatalogueText(ModuleInstance, id, text, messages::CatalogueCapacity), 0)
                << "LCID " << lcid << ", ID " << id;
            EXPECT_EQ(test::Narrow(text), "") << "LCID " << lcid << ", ID " << id;
        }
    }
}

TEST_F(Catalogue, HoldsNothingElseInItsThreeBlocks) {
    for (LCID lcid : test::CatalogueLanguages()) {
        for (UINT id = 288; id <= 335; ++id) {
            if (std::find(std::begin(CatalogueIds), std::end(CatalogueIds), id) !=
                std::end(CatalogueIds))
                continue;
            EXPECT_EQ(test::Narrow(Load(lcid, id)), "") << "LCID " << lcid << ", ID " << id;
        }
    }
}

// A mis-tagged table would still be found through the platform's fallbacks
// for some locales; the module must carry exactly the 14 languages.
TEST(CatalogueResources, TagsEveryBlockWithExactlyTheFourteenLanguages) {
    const std::set<LCID> expected(test::CatalogueLanguages().begin(),
                                  test::CatalogueLanguages().end());
    EXPECT_EQ(Join(BlockLanguages(19)), Join(expected)); // IDs 288-303
    EXPECT_EQ(Join(BlockLanguages(20)), Join(expected)); // IDs 304-319
    EXPECT_EQ(Join(BlockLanguages(21)), Join(expected)); // IDs 320-335
}

TEST_F(Catalogue, CutsTheTextToOneLessThanTheCapacity) {
    const std::wstring full = test::ExpectedText(1033, messages::InstallFailed);
    SetThreadLocale(1033);
    std::wstring text;
    EXPECT_EQ(LoadCatalogueText(ModuleInstance, messages::InstallFailed, text, 10), 9);
    EXPECT_EQ(test::Narrow(text), test::Narrow(full.substr(0, 9)));
    EXPECT_EQ(LoadCatalogueText(ModuleInstance, messages::InstallFailed, text, 1), 0);
    EXPECT_EQ(test::Narrow(text), "");
}

// A capacity below 1 leaves no room even for the terminator.
TEST_F(Catalogue, LoadsNothingForACapacityOfZeroOrLess) {
    SetThreadLocale(1033);
    for (int capacity : {0, -1}) {
        std::wstring text = L"previous content";
        EXPECT_EQ(LoadCatalogueText(ModuleInstance, messages::InstallFailed, text, capacity), 0)
            << "capacity " << capacity;
        EXPECT_EQ(test::Narrow(text), "") << "capacity " << capacity;
    }
}

TEST_F(Catalogue, LoadsNothingForAnIdOutsideTheCatalogue) {
    for (UINT id : {0u, 1u, 299u, 314u, 319u, 324u, 336u, 9999u, 65535u}) {
        std::wstring text = L"previous content";
        EXPECT_EQ(LoadCatalogueText(ModuleInstance, id, text, messages::CatalogueCapacity), 0)
            << "ID " << id;
        EXPECT_EQ(test::Narrow(text), "") << "ID " << id;
    }
}

} // namespace
