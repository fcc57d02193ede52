// The summary reads against the platform's real installer service, on patch
// files written by the patch writer.
#include "patch/patch.h"
#include "tests/patch/patch_fixtures.h"
#include "tests/support/short_buffer_probe.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

namespace {

using test::Narrow;

constexpr wchar_t Sentinel[] = L"untouched";

// Sets the current directory and puts the old one back when the value goes.
class ScopedCurrentDirectory {
  public:
    explicit ScopedCurrentDirectory(const std::wstring& directory) {
        wchar_t buffer[MAX_PATH + 1] = {}; // terminator included
        const DWORD length = GetCurrentDirectoryW(MAX_PATH + 1, buffer);
        old_.assign(buffer, length);
        SetCurrentDirectoryW(directory.c_str());
    }
    ~ScopedCurrentDirectory() { SetCurrentDirectoryW(old_.c_str()); }
    ScopedCurrentDirectory(const ScopedCurrentDirectory&) = delete;
    ScopedCurrentDirectory& operator=(const ScopedCurrentDirectory&) = delete;

  private:
    std::wstring old_;
};

class PatchSummaryTest : public testing::Test {
  protected:
    std::wstring WritePatch(const std::wstring& keywords, const std::wstring& products) {
        return patches_.Write(keywords, products);
    }

    test::PatchFiles patches_;
    const test::ScratchDirectory& scratch_ = patches_.scratch();
};

// ---------------------------------------------------------------------------
// The forms of the keywords text

struct KeywordsCase {
    const wchar_t* keywords;
    bool succeeds;
    const wchar_t* upgradeVersion; // when it succeeds
    const wchar_t* targetVersions; // when it succeeds
};

class KeywordsFormTest : public PatchSummaryTest,
                         public testing::WithParamInterface<KeywordsCase> {};

TEST_P(KeywordsFormTest, SplitsAtTheFirstSemicolonOrFailsWith4316) {
    const KeywordsCase& form = GetParam();
    const std::wstring path = WritePatch(form.keywords, L"{6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8A10}");
    std::wstring upgrade = Sentinel;
    std::wstring targets = Sentinel;
    SetLastError(0);
    const bool read = ReadPatchVersions(path, upgrade, targets);
    const DWORD error = GetLastError();
    ASSERT_EQ(read, form.succeeds) << "keywords '" << Narrow(form.keywords) << "'";
    if (form.succeeds) {
        EXPECT_EQ(Narrow(upgrade), Narrow(form.upgradeVersion));
        EXPECT_EQ(Narrow(targets), Narrow(form.targetVersions));
    } else {
        EXPECT_EQ(error, 4316u);
        EXPECT_EQ(Narrow(upgrade), Narrow(Sentinel));
        EXPECT_EQ(Narrow(targets), Narrow(Sentinel));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Forms, KeywordsFormTest,
    testing::Values(KeywordsCase{L"upgrade;a,b,", true, L"upgrade", L"a,b,"},
                    KeywordsCase{L"1.1.0.0;1.0.0.0,", true, L"1.1.0.0", L"1.0.0.0,"},
                    KeywordsCase{L"1.1.0.0;", true, L"1.1.0.0", L""},
                    KeywordsCase{L"1.2;1.1;1.0,", true, L"1.2", L"1.1;1.0,"},
                    KeywordsCase{L";1.0.0.0,", false, L"", L""},
                    KeywordsCase{L"1.1.0.0", false, L"", L""}, KeywordsCase{L"", false, L"", L""}));

// ---------------------------------------------------------------------------
// The product list

TEST_F(PatchSummaryTest, ReadsTheProductListExactlyAsStored) {
    const std::wstring products = test::ProductList(3);
    const std::wstring path = WritePatch(L"1.1.0.0;1.0.0.0,", products);
    std::wstring read;
    ASSERT_TRUE(ReadPatchProducts(path, read));
    EXPECT_EQ(Narrow(read), Narrow(products));
}

class LongProductListTest : public PatchSummaryTest, public testing::WithParamInterface<int> {};

// 2047 characters fit the first buffer; 2048 and more need the one retry.
TEST_P(LongProductListTest, ComesBackWhole) {
    std::wstring products = test::ProductList(60); // 2339 characters
    products.resize(std::size_t(GetParam()), L'0');
    const std::wstring path = WritePatch(L"1.1.0.0;1.0.0.0,", products);
    std::wstring read;
    ASSERT_TRUE(ReadPatchProducts(path, read));
    EXPECT_EQ(read.size(), products.size());
    EXPECT_TRUE(read == products) << Narrow(read.substr(0, 80)) << "...";
}

INSTANTIATE_TEST_SUITE_P(Lengths, LongProductListTest, testing::Values(2047, 2048, 2339));

TEST_F(PatchSummaryTest, ReadsAnEmptyProductListAsEmptyText) {
    const std::wstring path = WritePatch(L"1.1.0.0;1.0.0.0,", L"");
    std::wstring read = Sentinel;
    ASSERT_TRUE(ReadPatchProducts(path, read));
    EXPECT_EQ(Narrow(read), "");
}

// ---------------------------------------------------------------------------
// Files that cannot be read, and how paths are taken

class UnreadableFileTest : public PatchSummaryTest {
  protected:
    void ExpectBothReadsFail(const std::wstring& path) {
        std::wstring products = Sentinel;
        std::wstring upgrade = Sentinel;
        std::wstring targets = Sentinel;
        EXPECT_FALSE(ReadPatchProducts(path, products)) << Narrow(path);
        EXPECT_FALSE(ReadPatchVersions(path, upgrade, targets)) << Narrow(path);
        EXPECT_EQ(Narrow(products), Narrow(Sentinel));
        EXPECT_EQ(Narrow(upgrade), Narrow(Sentinel));
        EXPECT_EQ(Narrow(targets), Narrow(Sentinel));
        MsiHandleHolder summary(OpenPatchSummary(path));
        EXPECT_FALSE(summary);
    }
};

TEST_F(UnreadableFileTest, AFileThatIsNotAPackageFailsBothReads) {
    const std::wstring path = scratch_.file(L"notes.txt");
    test::WriteFileText(path, "1.1.0.0;1.0.0.0, is not a patch\r\n");
    ExpectBothReadsFail(path);
}

TEST_F(UnreadableFileTest, AMissingFileFailsBothReads) {
    ExpectBothReadsFail(scratch_.file(L"missing.msp"));
}

TEST_F(UnreadableFileTest, AFullPathLongerThan259CharactersFailsLikeAnUnopenableFile) {
    const std::wstring longPath = scratch_.file(std::wstring(260, L'a') + L".msp");
    ASSERT_GT(longPath.size(), 259u);
    ExpectBothReadsFail(longPath);
}

TEST_F(PatchSummaryTest, ResolvesARelativePathAgainstTheCurrentDirectory) {
    WritePatch(L"2.0;1.0,", test::ProductList(1));
    ScopedCurrentDirectory inScratch(scratch_.path());
    std::wstring products;
    std::wstring upgrade;
    std::wstring targets;
    ASSERT_TRUE(ReadPatchProducts(L"patch1.msp", products));
    ASSERT_TRUE(ReadPatchVersions(L".\\patch1.msp", upgrade, targets));
    EXPECT_EQ(Narrow(products), Narrow(test::ProductList(1)));
    EXPECT_EQ(Narrow(upgrade), "2.0");
    EXPECT_EQ(Narrow(targets), "1.0,");
}

// The same probe runs against the installer double in the double's tests.
TEST_F(PatchSummaryTest, ServiceAnswersAShortBufferWithMoreDataAndTheLengthNeeded) {
    const std::wstring products = test::ProductList(3);
    const std::wstring path = WritePatch(L"1.1.0.0;1.0.0.0,", products);
    MsiHandleHolder summary(OpenPatchSummary(path));
    ASSERT_TRUE(summary) << Narrow(path);
    test::ExpectShortBufferContract(
        test::SummaryTextRead(summary.get(), installer::PropertyTemplate), products);
}

TEST_F(PatchSummaryTest, ReadsThePatchCodeThatTheWriterStored) {
    const std::wstring path = WritePatch(L"1.1.0.0;1.1.0.0,", test::ProductList(1));
    std::wstring code;
    ASSERT_TRUE(ReadPatchCode(path, code)) << GetLastError();
    EXPECT_EQ(Narrow(code), "{6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8B01}");
}

TEST_F(PatchSummaryTest, OpensTheSummaryOfAWrittenPatch) {
    const std::wstring path = WritePatch(L"1.1.0.0;1.0.0.0,", test::ProductList(1));
    MsiHandleHolder summary(OpenPatchSummary(path));
    EXPECT_TRUE(summary) << Narrow(path);
}

} // namespace
