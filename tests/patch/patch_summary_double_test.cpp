// The summary reads against the installer double: which calls are made, with
// which buffer sizes, and that every handle is closed exactly once.
#include "installer/installer.h"
#include "patch/patch.h"
#include "tests/patch/patch_fixtures.h"
#include "tests/support/installer_double.h"
#include "tests/support/short_buffer_probe.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

using test::Installer;
using test::Narrow;

constexpr wchar_t Sentinel[] = L"untouched";
constexpr wchar_t PatchPath[] = L"C:\\patches\\sp1.msp";

std::wstring Joined(const std::vector<std::wstring>& calls) {
    std::wstring all;
    for (const std::wstring& call : calls)
        all += call + L"\n";
    return all;
}

class SummaryDoubleTest : public testing::Test {
  protected:
    void SetUp() override { test::ResetInstaller(); }

    test::DoublePackage& Package() { return Installer().packages[PatchPath]; }

    void ExpectEveryHandleClosed() {
        EXPECT_EQ(Installer().handlesOpened, Installer().handlesClosed)
            << Narrow(Joined(Installer().calls));
        EXPECT_TRUE(Installer().openHandles.empty());
    }
};

// The same probe runs against msi.dll in the real summary tests.
TEST_F(SummaryDoubleTest, DoubleAnswersAShortBufferWithMoreDataAndTheLengthNeeded) {
    const std::wstring products = test::ProductList(3);
    Package().properties[installer::PropertyTemplate] = products;
    MsiHandleHolder summary(OpenPatchSummary(PatchPath));
    ASSERT_TRUE(summary);
    test::ExpectShortBufferContract(
        test::SummaryTextRead(summary.get(), installer::PropertyTemplate), products);
}

// ---------------------------------------------------------------------------
// Buffer sizes and the one retry

TEST_F(SummaryDoubleTest, ReadsALongProductListWholeAtTheCostOfOneMoreCallOfExactlyItsSize) {
    const std::wstring products(5000, L'P');
    Package().properties[7] = products;
    std::wstring read;
    ASSERT_TRUE(ReadPatchProducts(PatchPath, read));
    EXPECT_TRUE(read == products) << read.size();
    const std::vector<std::wstring> reads = Installer().CallsNamed(L"MsiSummaryInfoGetPropertyW");
    ASSERT_EQ(reads.size(), 2u) << Narrow(Joined(Installer().calls));
    EXPECT_EQ(Narrow(reads[0]), "MsiSummaryInfoGetPropertyW(7, 2048)");
    EXPECT_EQ(Narrow(reads[1]), "MsiSummaryInfoGetPropertyW(7, 5001)");
    ExpectEveryHandleClosed();
}

TEST_F(SummaryDoubleTest, ReadsA2047CharacterTextInOneCall) {
    Package().properties[5] = std::wstring(2000, L'9') + L";" + std::wstring(46, L',');
    std::wstring upgrade;
    std::wstring targets;
    ASSERT_TRUE(ReadPatchVersions(PatchPath, upgrade, targets));
    EXPECT_EQ(Installer().CallsNamed(L"MsiSummaryInfoGetPropertyW").size(), 1u);
    EXPECT_EQ(upgrade.size(), 2000u);
    EXPECT_EQ(targets.size(), 46u);
}

TEST_F(SummaryDoubleTest, FailsWhenTheRetryFailsTooAndLeavesOutputsUntouched) {
    Package().properties[7] = std::wstring(3000, L'P');
    Package().failures[7] = ERROR_MORE_DATA; // every read asks for more
    std::wstring products = Sentinel;
    EXPECT_FALSE(ReadPatchProducts(PatchPath, products));
    EXPECT_EQ(Narrow(products), Narrow(Sentinel));
    EXPECT_EQ(Installer().CallsNamed(L"MsiSummaryInfoGetPropertyW").size(), 2u) << "no third call";
    ExpectEveryHandleClosed();
}

// PID_REVNUMBER of a patch: its code, then the codes of the patches it
// replaces, all 38-character GUIDs.
TEST_F(SummaryDoubleTest, ReadsThePatchCodeFromTheStartOfTheRevisionNumber) {
    const std::wstring code = L"{6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8B01}";
    const struct {
        const char* name;
        std::wstring revision;
        const wchar_t* expected; // nullptr: no patch code, last error 13
        std::size_t reads;
    } cases[] = {
        {"alone", code, code.c_str(), 1},
        {"then a replaced patch", code + L"{6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8B00}", code.c_str(),
         1},
        {"in lower case", L"{6e1e2a4b-1c1d-4b8e-9a51-3f0c7d2e8b01}", code.c_str(), 1},
        {"longer than the first buffer", code + std::wstring(3000, L'x'), code.c_str(), 2},
        {"empty", L"", nullptr, 1},
        {"a digit that is not hexadecimal", L"{6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8BG1}", nullptr, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::ResetInstaller();
        Package().properties[installer::PropertyRevNumber] = c.revision;
        std::wstring read = Sentinel;
        SetLastError(0);
        EXPECT_EQ(ReadPatchCode(PatchPath, read), c.expected != nullptr);
        if (c.expected == nullptr) {
            EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_DATA));
            EXPECT_EQ(Narrow(read), Narrow(Sentinel));
        }
        EXPECT_EQ(Narrow(read), Narrow(c.expected != nullptr ? c.expected : Sentinel));
        EXPECT_EQ(Installer().CallsNamed(L"MsiSummaryInfoGetPropertyW(9, ").size(), c.reads);
        ExpectEveryHandleClosed();
    }
    test::ResetInstaller();
    Package().failures[installer::PropertyRevNumber] = ERROR_UNKNOWN_PROPERTY;
    std::wstring read = Sentinel;
    EXPECT_FALSE(ReadPatchCode(PatchPath, read));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_UNKNOWN_PROPERTY));
    EXPECT_EQ(Narrow(read), Narrow(Sentinel));
}

// ---------------------------------------------------------------------------
// What is opened, and how

TEST_F(SummaryDoubleTest, OpensTheFullPathReadOnlyWithoutADatabaseEachTime) {
    Package().properties[5] = L"1.1.0.0;1.0.0.0,";
    Package().properties[7] = L"{6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8A10}";
    std::wstring upgrade;
    std::wstring targets;
    std::wstring products;
    ASSERT_TRUE(ReadPatchVersions(PatchPath, upgrade, targets));
    ASSERT_TRUE(ReadPatchProducts(PatchPath, products));
    const std::vector<std::wstring> opens = Installer().CallsNamed(L"MsiGetSummaryInformationW");
    ASSERT_EQ(opens.size(), 2u);
    for (const std::wstring& open : opens)
        EXPECT_EQ(Narrow(open), "MsiGetSummaryInformationW(0, C:\\patches\\sp1.msp, 0)");
    ExpectEveryHandleClosed();
}

TEST_F(SummaryDoubleTest, PassesARelativePathResolvedAgainstTheCurrentDirectory) {
    Installer().anyPathIsPackage = true;
    wchar_t current[MAX_PATH + 1] = {}; // terminator included
    const DWORD length = GetCurrentDirectoryW(MAX_PATH + 1, current);
    std::wstring expected(current, length);
    if (expected.back() != L'\\')
        expected += L"\\";
    expected += L"sp1.msp";
    std::wstring products;
    ASSERT_TRUE(ReadPatchProducts(L"sp1.msp", products));
    ASSERT_EQ(Installer().summaryPathsOpened.size(), 1u);
    EXPECT_EQ(Narrow(Installer().summaryPathsOpened[0]), Narrow(expected));
}

TEST_F(SummaryDoubleTest, OpensAFullPathOf259CharactersButRefusesOneOf260) {
    Installer().anyPathIsPackage = true;
    const std::wstring fits = L"C:\\" + std::wstring(256, L'a'); // 259 characters
    const std::wstring tooLong = fits + L"b";                    // 260 characters
    std::wstring products = Sentinel;
    EXPECT_TRUE(ReadPatchProducts(fits, products));
    products = Sentinel;
    EXPECT_FALSE(ReadPatchProducts(tooLong, products));
    EXPECT_EQ(Narrow(products), Narrow(Sentinel));
    ASSERT_EQ(Installer().summaryPathsOpened.size(), 1u)
        << "the long path never reaches the service";
    EXPECT_EQ(Installer().summaryPathsOpened[0].size(), 259u);
}

// ---------------------------------------------------------------------------
// Every handle opened is closed exactly once

struct FailureCase {
    const char* name;
    bool packageExists;
    UINT propertyResult; // forced result of the reads; 0: normal
    const wchar_t* keywords;
};

class HandleCloseTest : public SummaryDoubleTest,
                        public testing::WithParamInterface<FailureCase> {};

TEST_P(HandleCloseTest, ClosesEveryHandleOnceWhateverTheOutcome) {
    const FailureCase& outcome = GetParam();
    if (outcome.packageExists) {
        Package().propertyResult = outcome.propertyResult;
        Package().properties[5] = outcome.keywords;
        Package().properties[7] = L"{6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8A10}";
    }
    std::wstring products;
    std::wstring upgrade;
    std::wstring targets;
    ReadPatchProducts(PatchPath, products);
    ReadPatchVersions(PatchPath, upgrade, targets);
    ExpectEveryHandleClosed();
    EXPECT_EQ(Installer().CallsNamed(L"MsiCloseHandle").size(),
              std::size_t(Installer().handlesOpened))
        << outcome.name << "\n"
        << Narrow(Joined(Installer().calls));
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, HandleCloseTest,
    testing::Values(FailureCase{"success", true, 0, L"1.1.0.0;1.0.0.0,"},
                    FailureCase{"keywords without separator", true, 0, L"1.1.0.0"},
                    FailureCase{"property read fails", true, ERROR_UNKNOWN_PROPERTY, L""},
                    FailureCase{"package cannot be opened", false, 0, L""}),
    [](const testing::TestParamInfo<FailureCase>& info) {
        std::string name;
        for (const char* c = info.param.name; *c; ++c)
            name += (*c == ' ') ? '_' : *c;
        return name;
    });

TEST_F(SummaryDoubleTest, AFailedPropertyReadLeavesOutputsUntouched) {
    Package().propertyResult = ERROR_BAD_FORMAT;
    std::wstring products = Sentinel;
    std::wstring upgrade = Sentinel;
    std::wstring targets = Sentinel;
    EXPECT_FALSE(ReadPatchVersions(PatchPath, upgrade, targets));
    EXPECT_FALSE(ReadPatchProducts(PatchPath, products));
    EXPECT_EQ(Narrow(products), Narrow(Sentinel));
    EXPECT_EQ(Narrow(upgrade), Narrow(Sentinel));
    EXPECT_EQ(Narrow(targets), Narrow(Sentinel));
}

// A failed read leaves the service's own result as the last error, for
// message 300 to show; the handle's close, which may clear the last error,
// comes before it.
struct ErrorCase {
    const char* name;
    std::wstring path;
    bool packageExists;
    UINT propertyResult; // forced result of every property read; 0: normal
    DWORD expected;
};

void PrintTo(const ErrorCase& c, std::ostream* out) {
    *out << c.name;
}

class ReadErrorTest : public SummaryDoubleTest, public testing::WithParamInterface<ErrorCase> {};

TEST_P(ReadErrorTest, LeavesTheServicesResultAsTheLastError) {
    const ErrorCase& c = GetParam();
    Installer().closeClearsLastError = true;
    if (c.packageExists) {
        Package().propertyResult = c.propertyResult;
        Package().properties[5] = std::wstring(3000, L'9') + L";"; // needs the retry
        Package().properties[7] = std::wstring(3000, L'P');
    }
    std::wstring products;
    std::wstring upgrade;
    std::wstring targets;
    SetLastError(777);
    EXPECT_FALSE(ReadPatchVersions(c.path, upgrade, targets));
    EXPECT_EQ(GetLastError(), c.expected) << "versions";
    SetLastError(777);
    EXPECT_FALSE(ReadPatchProducts(c.path, products));
    EXPECT_EQ(GetLastError(), c.expected) << "products";
    ExpectEveryHandleClosed();
}

INSTANTIATE_TEST_SUITE_P(Failures, ReadErrorTest,
                         testing::Values(ErrorCase{"the property read fails", PatchPath, true,
                                                   ERROR_BAD_FORMAT, ERROR_BAD_FORMAT},
                                         ErrorCase{"the retry asks for more again", PatchPath, true,
                                                   ERROR_MORE_DATA, ERROR_MORE_DATA},
                                         ErrorCase{"the service cannot open the file", PatchPath,
                                                   false, 0, ERROR_OPEN_FAILED},
                                         ErrorCase{"the full path does not fit 260 characters",
                                                   L"C:\\" + std::wstring(257, L'a'), true, 0,
                                                   ERROR_FILENAME_EXCED_RANGE}));

// ---------------------------------------------------------------------------
// The handle holder

class HandleHolderTest : public SummaryDoubleTest {
  protected:
    void SetUp() override {
        SummaryDoubleTest::SetUp();
        Installer().anyPathIsPackage = true;
    }

    MSIHANDLE OpenHandle() {
        MSIHANDLE handle = 0;
        EXPECT_EQ(installer::MsiGetSummaryInformationW(0, PatchPath, 0, &handle),
                  UINT(ERROR_SUCCESS));
        return handle;
    }

    std::size_t ClosesOf(MSIHANDLE handle) {
        return Installer().CallsNamed(L"MsiCloseHandle(" + std::to_wstring(handle) + L")").size();
    }
};

TEST_F(HandleHolderTest, ClosesOnceWhenItGoesOutOfScope) {
    const MSIHANDLE handle = OpenHandle();
    {
        MsiHandleHolder holder(handle);
        EXPECT_EQ(ClosesOf(handle), 0u);
    }
    EXPECT_EQ(ClosesOf(handle), 1u);
    ExpectEveryHandleClosed();
}

TEST_F(HandleHolderTest, ClosesOnceAfterAMoveAndNeverForTheMovedFromHolder) {
    const MSIHANDLE first = OpenHandle();
    const MSIHANDLE second = OpenHandle();
    {
        MsiHandleHolder a(first);
        MsiHandleHolder b(std::move(a));
        EXPECT_FALSE(a);
        EXPECT_EQ(b.get(), first);
        MsiHandleHolder c(second);
        c = std::move(b); // closes `second` now, takes over `first`
        EXPECT_EQ(ClosesOf(second), 1u);
        EXPECT_EQ(ClosesOf(first), 0u);
        c = std::move(c); // self-move keeps the handle
        EXPECT_EQ(c.get(), first);
    }
    EXPECT_EQ(ClosesOf(first), 1u);
    EXPECT_EQ(ClosesOf(second), 1u);
    EXPECT_EQ(Installer().CallsNamed(L"MsiCloseHandle").size(), 2u) << "nothing closes handle 0";
    ExpectEveryHandleClosed();
}

TEST_F(HandleHolderTest, ClosesOnceWhileAnExceptionPasses) {
    const MSIHANDLE handle = OpenHandle();
    EXPECT_THROW(
        {
            MsiHandleHolder holder(handle);
            throw std::length_error("unwinding");
        },
        std::length_error);
    EXPECT_EQ(ClosesOf(handle), 1u);
    ExpectEveryHandleClosed();
}

TEST_F(HandleHolderTest, AnEmptyHolderClosesNothing) {
    { MsiHandleHolder holder; }
    { MsiHandleHolder holder(0); }
    EXPECT_TRUE(Installer().CallsNamed(L"MsiCloseHandle").empty());
}

} // namespace
