// The inventory built against the platform's installer service, with real
// sample products installed in the test prefix.
#include "installer/installer.h"
#include "products/products.h"

#include "tests/support/products.h"
#include "tests/support/short_buffer_probe.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

using samples::NotesDe;
using samples::NotesEn;
using samples::NotesJa;

const std::wstring A = NotesEn.productCode; // installed
const std::wstring B = NotesDe.productCode; // not installed
const std::wstring C = NotesJa.productCode; // installed

// A and C stay installed for the whole suite; B never is.
class InstalledInventory : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        installedA = std::make_unique<test::ScopedProduct>();
        installedC = std::make_unique<test::ScopedProduct>();
        ASSERT_TRUE(installedA->Install(NotesEn));
        ASSERT_TRUE(installedC->Install(NotesJa));
        ASSERT_EQ(test::QueryProductState(B), -1); // INSTALLSTATE_UNKNOWN
    }
    static void TearDownTestSuite() {
        installedA.reset();
        installedC.reset();
    }
    void SetUp() override {
        if (!*installedA || !*installedC)
            GTEST_SKIP() << "the sample products did not install";
        ProductInventory.clear();
    }
    void TearDown() override { ProductInventory.clear(); }

    static std::unique_ptr<test::ScopedProduct> installedA;
    static std::unique_ptr<test::ScopedProduct> installedC;
};

std::unique_ptr<test::ScopedProduct> InstalledInventory::installedA;
std::unique_ptr<test::ScopedProduct> InstalledInventory::installedC;

ProductRecord PatchTemplate() {
    ProductRecord record;
    record.upgradeVersion = L"1.1.0.0";
    record.targetVersions = L"1.0.0.0,";
    return record;
}

std::string InventoryCodes() {
    std::wstring codes;
    for (const ProductRecord& record : ProductInventory)
        codes += (codes.empty() ? L"" : L" ") + record.productCode;
    return test::Narrow(codes);
}

TEST_F(InstalledInventory, KeepsInstalledProductsInListOrderWithTheirServiceProperties) {
    BuildInventory(PatchTemplate(), A + L";" + B + L";" + C);

    ASSERT_EQ(ProductInventory.size(), 2u) << InventoryCodes();
    const ProductRecord& first = ProductInventory[0];
    EXPECT_EQ(test::Narrow(first.productCode), test::Narrow(A));
    EXPECT_EQ(test::Narrow(first.productName), "Tessaro Notes");
    EXPECT_EQ(test::Narrow(first.language), "1033");
    EXPECT_EQ(test::Narrow(first.installedVersion), "1.0.0.0");

    const ProductRecord& second = ProductInventory[1];
    EXPECT_EQ(test::Narrow(second.productCode), test::Narrow(C));
    EXPECT_EQ(test::Narrow(second.productName), "Tessaro Notes JA");
    EXPECT_EQ(test::Narrow(second.language), "1041");
    EXPECT_EQ(test::Narrow(second.installedVersion), "1.0.0.0");

    for (const ProductRecord& record : ProductInventory) {
        EXPECT_EQ(test::Narrow(record.upgradeVersion), "1.1.0.0");
        EXPECT_EQ(test::Narrow(record.targetVersions), "1.0.0.0,");
        EXPECT_EQ(test::Narrow(record.commandLine), "");
    }
}

TEST_F(InstalledInventory, VisitsEntriesUpToTheFirstEmptyOne) {
    struct Case {
        std::wstring list;
        std::wstring expected; // codes of the records, space-separated
    };
    const Case cases[] = {
        {A + L";" + B + L";", A},
        {A + L";" + B, A},
        {A + L";;" + C, A},
        {L";" + A, L""},
        {A + L";" + A, A + L" " + A},
        {L"", L""},
        {L";", L""},
        // Entries are taken character for character: no trimming.
        {A + L"; " + C, A},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("list \"" + test::Narrow(c.list) + "\"");
        ProductInventory.clear();
        BuildInventory(PatchTemplate(), c.list);
        EXPECT_EQ(InventoryCodes(), test::Narrow(c.expected));
    }
}

TEST_F(InstalledInventory, ReadsInstalledVersionFromTheService) {
    EXPECT_EQ(test::Narrow(ReadInstalledVersion(C)), "1.0.0.0");
    EXPECT_TRUE(IsProductInstalled(A));
    EXPECT_FALSE(IsProductInstalled(B));
}

// The same probe runs against the installer double in the double's tests.
TEST_F(InstalledInventory, ServiceAnswersAShortProductBufferWithMoreDataAndTheLengthNeeded) {
    test::ExpectShortBufferContract(test::ProductTextRead(A, L"ProductName"), NotesEn.productName);
}

TEST(ProductQueries, UnknownProductGivesEmptyTextsAndStillTrue) {
    const std::wstring unknown = L"{6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8AFF}";
    std::wstring name = L"left over";
    std::wstring language = L"9999";
    EXPECT_TRUE(ReadProductNameAndLanguage(unknown, name, language));
    EXPECT_EQ(test::Narrow(name), "");
    EXPECT_EQ(test::Narrow(language), "");
    EXPECT_EQ(test::Narrow(ReadInstalledVersion(unknown)), "");
    EXPECT_FALSE(IsProductInstalled(unknown));
}

TEST_F(InstalledInventory, CodesNotWrittenExactlyCountAsNotInstalled) {
    for (const std::wstring& code : {std::wstring(L""), std::wstring(L"not a code"), L" " + A,
                                     A + L" ", A.substr(1, A.size() - 2)}) {
        SCOPED_TRACE("code \"" + test::Narrow(code) + "\"");
        EXPECT_FALSE(IsProductInstalled(code)) << "state " << test::QueryProductState(code);
    }
}

} // namespace
