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

// An advertised product (1) has nothing installed to patch, and one installed
// for other users (2) cannot be patched from this account.
TEST_F(ProductQueriesTest, CountsOnlyTheInstalledStateAsInstalled) {
    struct Case {
        int state;
        bool installed;
    };
    const Case cases[] = {{5, true},   {1, false}, {2, false}, {-1, false},
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

TEST_F(ProductQueriesTest, LeavesOutAdvertisedAndOtherUsersProductsAndNamesThem) {
    const std::wstring ProductC = L"{6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8A30}";
    AddProduct(ProductA, 1);
    AddProduct(ProductB, 2);
    AddProduct(ProductC, 5);
    const std::vector<SkippedProduct> skipped =
        BuildInventory(ProductRecord(), ProductA + L";" + ProductB + L";" + ProductC + L";{X}");
    ASSERT_EQ(ProductInventory.size(), 1u);
    EXPECT_EQ(Narrow(ProductInventory[0].productCode), Narrow(ProductC));
    ASSERT_EQ(skipped.size(), 2u);
    EXPECT_EQ(Narrow(skipped[0].productCode), Narrow(ProductA));
    EXPECT_EQ(int(skipped[0].state), 1);
    EXPECT_EQ(Narrow(skipped[1].productCode), Narrow(ProductB));
    EXPECT_EQ(int(skipped[1].state), 2);
    EXPECT_TRUE(Installer().CallsNamed(L"MsiGetProductInfoW(" + ProductA).empty());
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

// The state is asked in the installation the service takes for the current
// user, with that user's SID per-user and none per-machine: "State" 1
// (applied), 2 (superseded), 4 (obsoleted) or 8 (registered only), or
// ERROR_UNKNOWN_PATCH for a patch the product never had. Anything else, a
// failing query included, leaves the state not known.
TEST_F(ProductQueriesTest, ReadsAPatchsStateInTheInstallationTheServiceTakes) {
    const std::wstring patch = L"{6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8B01}";
    const std::wstring user = Installer().currentUserSid;
    const struct {
        const char* name;
        int context;              // 0: the product is not known to the service
        const wchar_t* stateText; // nullptr: the product does not know the patch
        UINT result;              // forced result of the query in the product's context
        PatchState expected;
    } cases[] = {
        {"applied, per-machine", 4, L"1", 0, PatchState::Applied},
        {"superseded", 4, L"2", 0, PatchState::Applied},
        {"obsoleted", 4, L"4", 0, PatchState::Applied},
        {"registered only", 4, L"8", 0, PatchState::NotApplied},
        {"never applied", 4, nullptr, 0, PatchState::NotApplied},
        {"applied, per-user managed", 1, L"1", 0, PatchState::Applied},
        {"never applied, per-user unmanaged", 2, nullptr, 0, PatchState::NotApplied},
        {"a state with no meaning", 4, L"16", 0, PatchState::Unknown},
        {"an empty state", 4, L"", 0, PatchState::Unknown},
        {"the query fails", 4, L"1", ERROR_BAD_CONFIGURATION, PatchState::Unknown},
        {"access denied, per-user", 2, L"1", ERROR_ACCESS_DENIED, PatchState::Unknown},
        {"no installation of the product", 0, nullptr, 0, PatchState::Unknown},
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
        const PatchStateReading reading = ReadPatchState(ProductA, patch);
        EXPECT_EQ(int(reading.state), int(c.expected)) << "0 applied, 1 not, 2 not known";
        EXPECT_EQ(int(reading.instance.context), c.context == 0 ? 0 : c.context);
        const std::vector<std::wstring> asked = Installer().CallsNamed(L"MsiGetPatchInfoExW");
        if (c.context == 0) {
            EXPECT_TRUE(asked.empty());
            EXPECT_EQ(reading.result, UINT(ERROR_UNKNOWN_PRODUCT));
            continue;
        }
        const std::wstring sid = c.context == 4 ? L"(null)" : user;
        ASSERT_EQ(asked.size(), 1u);
        EXPECT_EQ(Narrow(asked[0]),
                  Narrow(L"MsiGetPatchInfoExW(" + patch + L", " + ProductA + L", " + sid + L", " +
                         std::to_wstring(c.context) + L", State, 16)"));
    }
}

// The service takes a per-user installation of the current user before a
// per-machine one; other accounts' installations are not the current user's.
TEST_F(ProductQueriesTest, FindsTheInstallationTheServiceTakesForTheCurrentUser) {
    const std::wstring other = L"S-1-5-21-1004336348-1177238915-682003330-1002";
    test::DoubleProduct& product = AddProduct(ProductA);
    product.context = 2;
    product.otherUsers = {{1, other}, {4, L""}};
    ProductInstance own;
    ASSERT_TRUE(FindOwnProductInstance(ProductA, own));
    EXPECT_EQ(int(own.context), 2);
    EXPECT_EQ(Narrow(own.userSid), Narrow(Installer().currentUserSid));

    std::vector<ProductInstance> everyone;
    ASSERT_TRUE(FindProductInstances(ProductA, installer::EveryoneSid, everyone));
    ASSERT_EQ(everyone.size(), 3u);
    EXPECT_EQ(Narrow(everyone[1].userSid), Narrow(other));
    EXPECT_EQ(int(everyone[1].context), 1);

    Installer().everyoneEnumResult = ERROR_ACCESS_DENIED;
    EXPECT_FALSE(FindProductInstances(ProductA, installer::EveryoneSid, everyone));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
}

TEST_F(ProductQueriesTest, UnknownProductIsLeftOutWithoutPropertyQueries) {
    BuildInventory(ProductRecord(), ProductA);
    EXPECT_TRUE(ProductInventory.empty());
    EXPECT_TRUE(Installer().CallsNamed(L"MsiGetProductInfoW").empty());
}

} // namespace
