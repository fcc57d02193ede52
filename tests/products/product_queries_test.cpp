// The product queries and the inventory against the recording installer
// double: which states count, what is asked in which order, and what a
// failing query leaves in the record.
#include "installer/installer.h"
#include "products/products.h"

#include "tests/support/installer_double.h"
#include "tests/support/short_buffer_probe.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

namespace {

using test::Installer;
using test::Narrow;

const std::wstring ProductA = L"{6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8A10}";
const std::wstring ProductB = L"{6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8A20}";

class ProductQueriesTest : public testing::Test {
  protected:
    void SetUp() override {
        test::ResetInstaller();
        ProductInventory.clear();
    }
    void TearDown() override { ProductInventory.clear(); }

    test::DoubleProduct& AddProduct(const std::wstring& code, int state = 5) {
        test::DoubleProduct& product = Installer().products[code];
        product.state = state;
        product.properties[L"VersionString"] = L"1.0.0.0";
        product.properties[L"ProductName"] = L"Tessaro Notes";
        product.properties[L"Language"] = L"1033";
        return product;
    }
};

// The same probe runs against msi.dll in the inventory tests.
TEST_F(ProductQueriesTest, DoubleAnswersAShortProductBufferWithMoreDataAndTheLengthNeeded) {
    AddProduct(ProductA);
    test::ExpectShortBufferContract(test::ProductTextRead(ProductA, L"ProductName"),
                                    L"Tessaro Notes");
}

TEST_F(ProductQueriesTest, CountsOnlyInstalledAndAdvertisedStatesAsInstalled) {
    struct Case {
        int state;
        bool installed;
    };
    const Case cases[] = {{5, true},   {1, true},  {2, false}, {-1, false},
                          {-2, false}, {3, false}, {4, false}, {0, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE("state " + std::to_string(c.state));
        AddProduct(ProductA, c.state);
        EXPECT_EQ(IsProductInstalled(ProductA), c.installed);
    }
}

TEST_F(ProductQueriesTest, AsksNothingOfAnAbsentProductAndFillsAnInstalledOneFromFullBuffers) {
    AddProduct(ProductA);
    AddProduct(ProductB, -1);
    BuildInventory(ProductRecord(), ProductA + L";" + ProductB);

    const std::vector<std::wstring> expected = {
        L"MsiQueryProductStateW(" + ProductA + L")",
        L"MsiGetProductInfoW(" + ProductA + L", VersionString, 1024)",
        L"MsiGetProductInfoW(" + ProductA + L", ProductName, 1024)",
        L"MsiGetProductInfoW(" + ProductA + L", Language, 1024)",
        L"MsiQueryProductStateW(" + ProductB + L")",
    };
    std::string calls;
    for (const std::wstring& call : Installer().calls)
        calls += Narrow(call) + "\n";
    EXPECT_EQ(Installer().calls, expected) << calls;
    ASSERT_EQ(ProductInventory.size(), 1u);
    EXPECT_EQ(Narrow(ProductInventory[0].productName), "Tessaro Notes");
}

TEST_F(ProductQueriesTest, KeepsAdvertisedProductsAndLeavesOutOtherUsersProducts) {
    AddProduct(ProductA, 1);
    AddProduct(ProductB, 2);
    BuildInventory(ProductRecord(), ProductA + L";" + ProductB);
    ASSERT_EQ(ProductInventory.size(), 1u);
    EXPECT_EQ(Narrow(ProductInventory[0].productCode), Narrow(ProductA));
}

TEST_F(ProductQueriesTest, FailingQueriesGiveEmptyTextsEvenAfterTheServiceWroteIntoTheBuffer) {
    for (const std::wstring& scribble : {std::wstring(), std::wstring(L"garbage")}) {
        SCOPED_TRACE("scribble \"" + Narrow(scribble) + "\"");
        test::DoubleProduct& product = AddProduct(ProductA);
        product.propertyResult = ERROR_BAD_CONFIGURATION;
        product.failureScribble = scribble;

        std::wstring name = L"left over";
        std::wstring language = L"9999";
        EXPECT_TRUE(ReadProductNameAndLanguage(ProductA, name, language));
        EXPECT_EQ(Narrow(name), "");
        EXPECT_EQ(Narrow(language), "");
        EXPECT_EQ(Narrow(ReadInstalledVersion(ProductA)), "");
    }
}

TEST_F(ProductQueriesTest, FailingLanguageQueryDoesNotRepeatTheName) {
    // The two queries share one buffer: the name must not show through.
    for (const std::wstring& scribble : {std::wstring(), std::wstring(L"10")}) {
        SCOPED_TRACE("scribble \"" + Narrow(scribble) + "\"");
        test::DoubleProduct& product = AddProduct(ProductA);
        product.properties.erase(L"Language");
        product.failureScribble = scribble;

        std::wstring name;
        std::wstring language;
        EXPECT_TRUE(ReadProductNameAndLanguage(ProductA, name, language));
        EXPECT_EQ(Narrow(name), "Tessaro Notes");
        EXPECT_EQ(Narrow(language), "");
    }
}

TEST_F(ProductQueriesTest, ReadsValuesUpTo1023CharactersAndNoLonger) {
    test::DoubleProduct& product = AddProduct(ProductA);
    product.properties[L"ProductName"] = std::wstring(1023, L'n');
    product.properties[L"Language"] = std::wstring(1024, L'1');
    std::wstring name;
    std::wstring language;
    ReadProductNameAndLanguage(ProductA, name, language);
    EXPECT_EQ(name.size(), 1023u);
    // Too long for the buffer: the service fails the query and gives a cut value.
    EXPECT_EQ(language.size(), 0u) << Narrow(language.substr(0, 20)) << "...";
}

// A name longer than the buffer used to read as empty ("... and  has been
// updated"); now it is read at its length, once, and the box cuts it.
TEST_F(ProductQueriesTest, ReadsANameLongerThanTheBufferWithOneQueryAtItsLength) {
    for (std::size_t size : {1024u, 1500u, 70000u}) {
        SCOPED_TRACE("name of " + std::to_string(size));
        Installer().calls.clear();
        test::DoubleProduct& product = AddProduct(ProductA);
        product.properties[L"ProductName"] = std::wstring(size, L'n');
        std::wstring name;
        std::wstring language;
        ReadProductNameAndLanguage(ProductA, name, language);
        EXPECT_EQ(name.size(), size);
        EXPECT_EQ(Narrow(language), "1033");
        const std::vector<std::wstring> expected = {
            L"MsiGetProductInfoW(" + ProductA + L", ProductName, 1024)",
            L"MsiGetProductInfoW(" + ProductA + L", ProductName, " + std::to_wstring(size + 1) +
                L")",
            L"MsiGetProductInfoW(" + ProductA + L", Language, 1024)",
        };
        EXPECT_EQ(Installer().calls, expected);
    }
}

// The service answers "State" 1 (applied), 2 (superseded), 4 (obsoleted) or
// 8 (registered only), or ERROR_UNKNOWN_PATCH for a patch the product never had.
TEST_F(ProductQueriesTest, ReadsAPatchsStateInTheContextTheProductIsInstalledIn) {
    const std::wstring patch = L"{6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8B01}";
    const struct {
        const char* name;
        int context;              // 0: the product is not known to the service
        const wchar_t* stateText; // nullptr: the product does not know the patch
        UINT result;              // forced result of the query in the product's context
        PatchState expected;
        std::vector<int> contextsAsked;
    } cases[] = {
        {"applied, per-machine", 4, L"1", 0, PatchState::Applied, {1, 2, 4}},
        {"superseded", 4, L"2", 0, PatchState::Applied, {1, 2, 4}},
        {"obsoleted", 4, L"4", 0, PatchState::Applied, {1, 2, 4}},
        {"registered only", 4, L"8", 0, PatchState::NotApplied, {1, 2, 4}},
        {"never applied", 4, nullptr, 0, PatchState::NotApplied, {1, 2, 4}},
        {"applied, per-user managed", 1, L"1", 0, PatchState::Applied, {1}},
        {"never applied, per-user unmanaged", 2, nullptr, 0, PatchState::NotApplied, {1, 2}},
        {"a state with no meaning", 4, L"16", 0, PatchState::Unknown, {1, 2, 4}},
        {"an empty state", 4, L"", 0, PatchState::Unknown, {1, 2, 4}},
        {"the query fails", 4, L"1", ERROR_BAD_CONFIGURATION, PatchState::Unknown, {1, 2, 4}},
        {"no context knows the product", 0, nullptr, 0, PatchState::Unknown, {1, 2, 4}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::ResetInstaller();
        if (c.context != 0) {
            test::DoubleProduct& product = AddProduct(ProductA);
            product.context = c.context;
            product.patchInfoResult = c.result;
            if (c.stateText != nullptr)
                product.patchStates[patch] = c.stateText;
        }
        EXPECT_EQ(int(ReadPatchState(ProductA, patch)), int(c.expected)) << "0 applied, 1 not";
        std::vector<std::wstring> expectedCalls;
        for (int context : c.contextsAsked)
            expectedCalls.push_back(L"MsiGetPatchInfoExW(" + patch + L", " + ProductA +
                                    L", (null), " + std::to_wstring(context) + L", State, 16)");
        EXPECT_EQ(Installer().calls, expectedCalls);
    }
}

TEST_F(ProductQueriesTest, UnknownProductIsLeftOutWithoutPropertyQueries) {
    BuildInventory(ProductRecord(), ProductA);
    EXPECT_TRUE(ProductInventory.empty());
    EXPECT_TRUE(Installer().CallsNamed(L"MsiGetProductInfoW").empty());
}

} // namespace
