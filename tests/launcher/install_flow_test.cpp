// The install flow against scripted products, with the installer service and
// the result messages replaced by recording doubles.
#include "common/holder.h"
#include "common/program_state.h"
#include "launcher/launcher.h"
#include "products/products.h"
#include "tests/support/import_redirect.h"
#include "tests/support/installer_double.h"
#include "tests/support/messages_double.h"
#include "tests/support/scripted_flow.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <map>

namespace {

using test::Installer;
using test::Narrow;

const wchar_t ProductA[] = L"{6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8A10}";
const wchar_t ProductB[] = L"{6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8A20}";
const wchar_t ProductC[] = L"{6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8A30}";

// The locale of the user's display language, which the boxes that belong to
// no product are shown in.
LCID DisplayLocale() {
    return MAKELCID(GetUserDefaultUILanguage(), SORT_DEFAULT);
}

// One line per report: "<id> <locale> '<name>'" (and "error=<n>" for 300).
std::string Describe(const std::vector<test::Report>& reports) {
    std::string text;
    for (const test::Report& report : reports) {
        text += std::to_string(report.id) + " " + std::to_string(report.locale) + " '" +
                Narrow(report.productName) + "'";
        if (report.id == 300)
            text += " error=" + std::to_string(report.lastError);
        text += "\n";
    }
    return text;
}

class InstallFlowTest : public test::ScriptedFlowTest {
  protected:
    void SetUp() override {
        ScriptedFlowTest::SetUp();
        SetPatch(L"1.1.0.0;1.0.0.0,", std::wstring(ProductA) + L";" + ProductB + L";" + ProductC);
    }

    std::string Run() {
        InstallServicePack();
        return Describe(test::Reports());
    }

    // The temporary patch files left in TMP.
    std::vector<std::wstring> LeftInTmp() const { return test::ListDirectory(scratch_.path()); }

    std::vector<std::wstring> Configured() const {
        return Installer().CallsNamed(L"MsiConfigureProductExW");
    }

    test::ScratchDirectory scratch_;
    test::ScopedEnvironment tmp_{L"TMP", scratch_.path().c_str()};
};

TEST_F(InstallFlowTest, ReportsNoProductWhenNoneIsInstalledAndDeletesThePatchFile) {
    EXPECT_EQ(Run(), "307 1033 ''\n");
    EXPECT_TRUE(LeftInTmp().empty());
    EXPECT_TRUE(Configured().empty());
}

TEST_F(InstallFlowTest, ReportsOneClosingUpToDateInTheDefaultLocaleAndDeletesThePatch) {
    AddProduct(ProductB, L"1.1.0.0", L"Notizen", L"1031");
    const std::string reports = Run();
    EXPECT_EQ(reports, "306 " + std::to_string(DisplayLocale()) + " 'Notizen'\n");
    EXPECT_TRUE(LeftInTmp().empty());
    EXPECT_TRUE(Configured().empty());
}

TEST_F(InstallFlowTest, NamesTheLastProductInTheClosingUpToDate) {
    AddProduct(ProductA, L"1.1.0.0", L"Notes", L"1033");
    AddProduct(ProductC, L"1.1.0", L"Notes JA", L"1041"); // parses as 1.1.0.0
    EXPECT_EQ(Run(), "306 " + std::to_string(DisplayLocale()) + " 'Notes JA'\n");
}

TEST_F(InstallFlowTest, AppliesToTheTargetAndSaysNothingOfTheUpToDateProduct) {
    AddProduct(ProductA, L"1.1.0.0", L"Notes", L"1033");
    AddProduct(ProductB, L"1.0.0.0", L"Notizen", L"1031");
    EXPECT_EQ(Run(), "301 1031 'Notizen'\n");
    ASSERT_EQ(Configured().size(), 1u);
    EXPECT_NE(Configured()[0].find(ProductB), std::wstring::npos) << Narrow(Configured()[0]);
    EXPECT_TRUE(LeftInTmp().empty());
}

TEST_F(InstallFlowTest, MakesTheInstallerCallsInOrderForAProductThatGetsThePatch) {
    AddProduct(ProductA, L"1.0.0.0", L"Notes", L"1033");
    Installer().uiLevel = 7;
    std::wstring patchFile;
    Installer().onConfigure = [&](const std::wstring&, const std::wstring&) {
        const std::vector<std::wstring> files = LeftInTmp();
        ASSERT_EQ(files.size(), 1u) << "the patch file is there while it is applied";
        patchFile = scratch_.file(files[0]);
    };
    Run();

    std::vector<std::wstring> calls;
    for (const std::wstring& call : Installer().calls)
        if (call.find(L"MsiSetInternalUI") == 0 || call.find(L"MsiConfigureProductExW") == 0)
            calls.push_back(call);
    const std::vector<std::wstring> expected = {
        L"MsiSetInternalUI(35, null)",
        L"MsiConfigureProductExW(" + std::wstring(ProductA) + L", 0, 5, PATCH=\"" + patchFile +
            L"\" REBOOTPROMPT=S REBOOT=ReallySuppress)",
        L"MsiSetInternalUI(7, null)",
    };
    ASSERT_EQ(calls.size(), expected.size());
    for (std::size_t i = 0; i < calls.size(); ++i)
        EXPECT_EQ(Narrow(calls[i]), Narrow(expected[i]));
    EXPECT_EQ(Installer().uiLevel, 7) << "the level in force before is put back";
    EXPECT_EQ(Narrow(ProductInventory.at(0).commandLine),
              Narrow(L"PATCH=\"" + patchFile + L"\" REBOOTPROMPT=S REBOOT=ReallySuppress"));
}

// What another process can do to the patch file while the service applies
// it: read it as the service does (read access, writers refused), but not
// open it for writing, delete it or rename it.
struct FileAttempts {
    DWORD readAsTheService = 0; // 0: allowed; otherwise the error
    DWORD openForWriting = 0;
    DWORD deleting = 0;
    DWORD renaming = 0;
};

DWORD Attempt(bool succeeded) {
    return succeeded ? 0 : GetLastError();
}

FileAttempts TryToTamperWith(const std::wstring& path) {
    FileAttempts attempts;
    {
        const FileHandle reader(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        attempts.readAsTheService = Attempt(bool(reader));
    }
    {
        const FileHandle writer(CreateFileW(
            path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        attempts.openForWriting = Attempt(bool(writer));
    }
    attempts.deleting = Attempt(DeleteFileW(path.c_str()) != FALSE);
    attempts.renaming = Attempt(MoveFileW(path.c_str(), (path + L".swapped").c_str()) != FALSE);
    return attempts;
}

TEST_F(InstallFlowTest, LetsNoOneChangeDeleteOrRenameThePatchFileWhileItIsApplied) {
    AddProduct(ProductA, L"1.0.0.0", L"Notes", L"1033");
    std::vector<FileAttempts> seen;
    Installer().onConfigure = [&](const std::wstring&, const std::wstring&) {
        const std::vector<std::wstring> files = LeftInTmp();
        ASSERT_EQ(files.size(), 1u);
        seen.push_back(TryToTamperWith(scratch_.file(files[0])));
    };
    EXPECT_EQ(Run(), "301 1033 'Notes'\n");
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].readAsTheService, 0u) << "the service must still read it";
    EXPECT_EQ(seen[0].openForWriting, DWORD(ERROR_SHARING_VIOLATION));
    EXPECT_NE(seen[0].deleting, 0u);
    EXPECT_NE(seen[0].renaming, 0u);
    EXPECT_TRUE(LeftInTmp().empty()) << "the flow itself still deletes it at the end";
}

// Every run that ends before the pass is over leaves nothing behind either:
// the lock is released and the copy deleted after the one box.
TEST_F(InstallFlowTest, DeletesThePatchFileAtEveryEarlyEnd) {
    struct Case {
        const char* name;
        const wchar_t* keywords;
        UINT productReadFailure; // 0: the product list reads
        const wchar_t* versionA; // nullptr: not installed
        std::string reports;
    };
    const Case cases[] = {
        {"no product (307)", L"1.1.0.0;1.0.0.0,", 0, nullptr, "307 1033 ''\n"},
        {"unusable keywords", L"1.1.0.0", 0, L"1.0.0.0", "300 1033 '' error=4316\n"},
        {"product list unreadable", L"1.1.0.0;1.0.0.0,", ERROR_UNKNOWN_PROPERTY, L"1.0.0.0",
         "300 1033 '' error=" + std::to_string(ERROR_UNKNOWN_PROPERTY) + "\n"},
        {"306 ending the pass", L"1.1.0.0;1.1.0.0,1.0.0.0,", 0, L"0.9.0.0", "306 1041 'Notes'\n"},
    };
    for (const Case& c : cases) {
        TearDown();
        SetUp();
        SetPatch(c.keywords, ProductA);
        if (c.productReadFailure != 0)
            Installer().anyPackage.failures[7] = c.productReadFailure;
        if (c.versionA != nullptr)
            AddProduct(ProductA, c.versionA, L"Notes", L"1041");
        std::size_t filesAtTheBox = 0;
        test::OnReport([&](const test::Report&) { filesAtTheBox = LeftInTmp().size(); });
        EXPECT_EQ(Run(), c.reports) << c.name;
        EXPECT_EQ(filesAtTheBox, 1u) << c.name << ": the box comes before the delete";
        EXPECT_TRUE(LeftInTmp().empty()) << c.name;
    }
}

// With TMP naming a missing folder the copy lands at the root of the current
// drive, "\\MSP<n>": the service, which has another current directory, gets
// the full path.
TEST_F(InstallFlowTest, HandsTheServiceTheFullPathOfACopyAtTheDrivesRoot) {
    const test::ScopedEnvironment tmp(L"TMP", scratch_.file(L"missing").c_str());
    const std::wstring current = test::ModuleDirectory();
    ASSERT_TRUE(SetCurrentDirectoryW(scratch_.path().c_str()));
    AddProduct(ProductA, L"1.0.0.0", L"Notes", L"1033");
    std::wstring commandLine;
    Installer().onConfigure = [&](const std::wstring&, const std::wstring& line) {
        commandLine = line;
    };
    const std::string reports = Run();
    SetCurrentDirectoryW(current.c_str());
    EXPECT_EQ(reports, "301 1033 'Notes'\n");
    const std::wstring drive = scratch_.path().substr(0, 3); // "C:\\"
    EXPECT_EQ(Narrow(commandLine.substr(0, 10)), Narrow(L"PATCH=\"" + drive))
        << Narrow(commandLine);
    const std::wstring file = commandLine.substr(7, commandLine.find(L'"', 7) - 7);
    EXPECT_FALSE(test::FileExists(file)) << Narrow(file) << " is deleted at the end";
}

// The installer reads PATCH as a ";"-separated list: a temporary folder whose
// name has ";" is handed over in its short form.
TEST_F(InstallFlowTest, HandsTheServiceAPathWithoutSemicolonsWhenTheFolderHasOne) {
    const std::wstring folder = scratch_.file(L"tmp;dir");
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    test::ScopedEnvironment tmp(L"TMP", folder.c_str());
    AddProduct(ProductA, L"1.0.0.0", L"Notes", L"1033");
    std::wstring commandLine;
    std::vector<std::wstring> inFolder; // the folder's files while the patch is applied
    Installer().onConfigure = [&](const std::wstring&, const std::wstring& line) {
        commandLine = line;
        inFolder = test::ListDirectory(folder);
    };
    const std::string reports = Run();
    if (reports == "300 1033 '' error=" + std::to_string(ERROR_INVALID_NAME) + "\n") {
        // No short name without ";" on this volume: nothing reached the service.
        EXPECT_TRUE(Installer().calls.empty());
        EXPECT_EQ(test::ListDirectory(folder).size(), 1u) << "the patch file stays";
        return;
    }
    EXPECT_EQ(reports, "301 1033 'Notes'\n");
    for (const std::wstring& path : Installer().summaryPathsOpened)
        EXPECT_EQ(path.find(L';'), std::wstring::npos) << Narrow(path);
    const std::wstring prefix = L"PATCH=\"";
    ASSERT_EQ(commandLine.compare(0, prefix.size(), prefix), 0) << Narrow(commandLine);
    const std::wstring::size_type close = commandLine.find(L'"', prefix.size());
    ASSERT_NE(close, std::wstring::npos);
    const std::wstring handed = commandLine.substr(prefix.size(), close - prefix.size());
    EXPECT_EQ(handed.find(L';'), std::wstring::npos) << Narrow(handed);
    // The short form names the file the flow wrote in the folder.
    ASSERT_EQ(inFolder.size(), 1u);
    const std::wstring::size_type name = handed.rfind(L'\\');
    ASSERT_NE(name, std::wstring::npos) << Narrow(handed);
    EXPECT_EQ(Narrow(handed.substr(name + 1)), Narrow(inFolder[0]));
    wchar_t folderShort[1024] = {}; // 1024 characters, terminator included
    ASSERT_GT(GetShortPathNameW(folder.c_str(), folderShort, 1024), 0u);
    EXPECT_EQ(Narrow(handed.substr(0, name)), Narrow(folderShort));
    EXPECT_TRUE(test::ListDirectory(folder).empty()) << "and that file is deleted at the end";
}

TEST_F(InstallFlowTest, RefusesUnusableKeywordsBeforeItLooksAtTheProducts) {
    SetPatch(L"1.1.0.0 1.0.0.0,", ProductA);
    Installer().anyPackage.failures[7] = ERROR_FUNCTION_FAILED;
    AddProduct(ProductA, L"1.0.0.0", L"Notes", L"1033");
    EXPECT_EQ(Run(), "300 1033 '' error=4316\n") << "the keywords' code, not the product read's";
    EXPECT_TRUE(Installer().CallsNamed(L"MsiSummaryInfoGetPropertyW(7").empty());
    EXPECT_TRUE(Installer().CallsNamed(L"MsiQueryProductStateW").empty());
}

TEST_F(InstallFlowTest, ReadsEachSummaryPropertyOnceThroughAHandleOfItsOwn) {
    Run();
    const std::vector<std::wstring> reads = Installer().CallsNamed(L"MsiSummaryInfoGetPropertyW");
    ASSERT_EQ(reads.size(), 2u);
    EXPECT_EQ(Narrow(reads[0]), "MsiSummaryInfoGetPropertyW(5, 2048)");
    EXPECT_EQ(Narrow(reads[1]), "MsiSummaryInfoGetPropertyW(7, 2048)");
    EXPECT_EQ(Installer().handlesOpened, 2);
    EXPECT_EQ(Installer().handlesClosed, 2);
}

struct ResultCase {
    UINT result;
    const char* reports;
    bool registers = true; // the service records the patch when it answers success
};

class ConfigureResultTest : public InstallFlowTest,
                            public testing::WithParamInterface<ResultCase> {};

TEST_P(ConfigureResultTest, ReportsSuccessOrTheServiceResult) {
    AddProduct(ProductA, L"1.0.0.0", L"Notes", L"1033");
    Installer().configureResults[ProductA] = GetParam().result;
    Installer().successRegistersPatch = GetParam().registers;
    EXPECT_EQ(Run(), GetParam().reports);
    EXPECT_TRUE(LeftInTmp().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Results, ConfigureResultTest,
    testing::Values(ResultCase{0, "301 1033 'Notes'\n"}, ResultCase{1641, "301 1033 'Notes'\n"},
                    ResultCase{3010, "301 1033 'Notes'\n"}, ResultCase{3011, "301 1033 'Notes'\n"},
                    ResultCase{1604, "301 1033 'Notes'\n"},
                    // A success answer is checked: the patch must be on the product.
                    ResultCase{0, "300 1033 'Notes' error=1642\n", false},
                    ResultCase{3010, "300 1033 'Notes' error=1642\n", false},
                    ResultCase{1603, "300 1033 'Notes' error=1603\n"},
                    ResultCase{1642, "300 1033 'Notes' error=1642\n"},
                    ResultCase{0x80070005u, "300 1033 'Notes' error=2147942405\n"}));

TEST_F(InstallFlowTest, GoesOnWithTheNextProductAfterAFailure) {
    AddProduct(ProductA, L"1.0.0.0", L"Notes", L"1033");
    AddProduct(ProductB, L"1.0.0.0", L"Notizen", L"1031");
    Installer().configureResults[ProductA] = 1603;
    EXPECT_EQ(Run(), "300 1033 'Notes' error=1603\n301 1031 'Notizen'\n");
    EXPECT_EQ(Configured().size(), 2u);
}

TEST_F(InstallFlowTest, ReportsNotTargetedInTheProductsLanguageAndGoesOn) {
    AddProduct(ProductA, L"0.9.0.0", L"Notes JA", L"1041");
    AddProduct(ProductB, L"1.0.0.0", L"Notizen", L"1031");
    EXPECT_EQ(Run(), "308 1041 'Notes JA'\n301 1031 'Notizen'\n");
}

constexpr wchar_t HotfixCode[] = L"{6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8B07}";

struct TargetCase {
    const char* name;
    const wchar_t* keywords;
    const wchar_t* installed;
    const char* reports; // "<default>": the user's default locale
    bool applied;
    const wchar_t* patchState = nullptr; // "State" of the patch on the product; none: unknown
    int context = 4;                     // where the product is installed
    UINT patchInfoResult = 0;            // forced result of the state query there
};

void PrintTo(const TargetCase& c, std::ostream* out) {
    *out << c.name;
}

class TargetListTest : public InstallFlowTest, public testing::WithParamInterface<TargetCase> {};

TEST_P(TargetListTest, ComparesEntriesInListOrder) {
    const TargetCase& c = GetParam();
    SetPatch(c.keywords, ProductA);
    Installer().anyPackage.properties[9] = HotfixCode;
    test::DoubleProduct& product = AddProduct(ProductA, c.installed, L"Notes", L"1033");
    if (c.patchState != nullptr)
        product.patchStates[HotfixCode] = c.patchState;
    product.context = c.context;
    product.patchInfoResult = c.patchInfoResult;
    std::string expected = c.reports;
    if (expected.find("<default>") == 4)
        expected.replace(4, 9, std::to_string(GetUserDefaultLCID()));
    EXPECT_EQ(Run(), expected) << c.name;
    EXPECT_EQ(Configured().size(), c.applied ? 1u : 0u) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Entries, TargetListTest,
    testing::Values(
        TargetCase{"second entry matches", L"2.0.0.0;1.0.0.0,1.5.0.0,", L"1.5.0.0",
                   "301 1033 'Notes'\n", true},
        TargetCase{"text after the last comma is no entry", L"2.0.0.0;1.0.0.0,1.5.0.0", L"1.5.0.0",
                   "308 1033 'Notes'\n", false},
        TargetCase{"no comma, no entry", L"2.0.0.0;1.5.0.0", L"1.5.0.0", "308 1033 'Notes'\n",
                   false},
        TargetCase{"empty list", L"2.0.0.0;", L"1.5.0.0", "308 1033 'Notes'\n", false},
        TargetCase{"empty entry is 0.0.0.0", L"2.0.0.0;1.0.0.0,,", L"", "301 1033 'Notes'\n", true},
        TargetCase{"versions compare parsed", L"2.0.0.0;1.5.0.0,", L"1.5.0", "301 1033 'Notes'\n",
                   true},
        TargetCase{"installed equal to the entry wins over upgrade", L"2.0.0.0;1.5.0.0,2.0.0.0,",
                   L"1.5.0.0", "301 1033 'Notes'\n", true},
        TargetCase{"upgrade entry first", L"2.0.0.0;2.0.0.0,1.5.0.0,", L"1.5.0.0",
                   "306 1033 'Notes'\n", false},
        TargetCase{"upgrade entry after others", L"2.0.0.0;1.0.0.0,2.0.0.0,1.5.0.0,", L"1.5.0.0",
                   "306 1033 'Notes'\n", false},
        TargetCase{"an entry beyond 16 bits names no version", L"2.0.0.0;65537.0.0.0,", L"1.0.0.0",
                   "308 1033 'Notes'\n", false},
        TargetCase{"a negative entry names no version", L"2.0.0.0;-65535.0.0.0,", L"1.0.0.0",
                   "308 1033 'Notes'\n", false},
        TargetCase{"an upgrade beyond 16 bits is no version", L"65537.0.0.0;1.5.0.0,", L"1.0.0.0",
                   "308 1033 'Notes'\n", false},
        // A small update ("V;V,"): at V the patch's state decides.
        TargetCase{"small update not applied", L"3.1.21022;3.1.21022,", L"3.1.21022",
                   "301 1033 'Notes'\n", true},
        TargetCase{"small update only registered", L"3.1.21022;3.1.21022.0,", L"3.1.21022",
                   "301 1033 'Notes'\n", true, L"8"},
        TargetCase{"small update applied", L"3.1.21022;3.1.21022,", L"3.1.21022",
                   "306 <default> 'Notes'\n", false, L"1"},
        TargetCase{"small update superseded", L"3.1.21022;3.1.21022,", L"3.1.21022",
                   "306 <default> 'Notes'\n", false, L"2"},
        TargetCase{"small update applied, per-user", L"3.1.21022;3.1.21022,", L"3.1.21022",
                   "306 <default> 'Notes'\n", false, L"1", 2},
        // A state that cannot be had never reads as "up to date".
        TargetCase{"small update, a state with no meaning", L"3.1.21022;3.1.21022,", L"3.1.21022",
                   "301 1033 'Notes'\n", true, L"garbage"},
        TargetCase{"small update, the state query fails", L"3.1.21022;3.1.21022,", L"3.1.21022",
                   "301 1033 'Notes'\n", true, L"1", 4, ERROR_BAD_CONFIGURATION},
        TargetCase{"small update, access denied per-user", L"3.1.21022;3.1.21022,", L"3.1.21022",
                   "301 1033 'Notes'\n", true, L"1", 1, ERROR_ACCESS_DENIED},
        TargetCase{"small update at another version: no early 306", L"3.1.21022;3.1.21022,",
                   L"3.1.21000", "308 1033 'Notes'\n", false},
        TargetCase{"two entries are no small update", L"3.1.21022;3.1.21022,3.1.21000,",
                   L"3.1.21022", "306 <default> 'Notes'\n", false}));

TEST_F(InstallFlowTest, AsksNothingOfThePatchsStateUnlessItIsASmallUpdate) {
    Installer().anyPackage.properties[9] = HotfixCode;
    AddProduct(ProductA, L"1.1.0.0", L"Notes", L"1033");
    Run();
    EXPECT_TRUE(Installer().CallsNamed(L"MsiSummaryInfoGetPropertyW(9").empty());
    EXPECT_TRUE(Installer().CallsNamed(L"MsiGetPatchInfoExW").empty());
}

TEST_F(InstallFlowTest, EndsThePassAtAnUpgradeEntry) {
    SetPatch(L"2.0.0.0;2.0.0.0,1.0.0.0,", std::wstring(ProductA) + L";" + ProductB);
    AddProduct(ProductA, L"1.5.0.0", L"Notes", L"1041");
    AddProduct(ProductB, L"1.0.0.0", L"Notizen", L"1031");
    EXPECT_EQ(Run(), "306 1041 'Notes'\n");
    EXPECT_TRUE(Configured().empty()) << "the later product is not considered";
}

TEST_F(InstallFlowTest, KeepsThePreviousLocaleWhenTheLanguageIsRefused) {
    AddProduct(ProductA, L"0.9", L"Notes JA", L"1041");
    AddProduct(ProductB, L"0.9", L"Odd", L"99999");
    EXPECT_EQ(Run(), "308 1041 'Notes JA'\n308 1041 'Odd'\n");
}

// Windows refuses locale 0 and locales it does not have, and keeps the
// previous one; Wine would take 0 as the user's default. The flow keeps the
// previous locale on both.
TEST_F(InstallFlowTest, KeepsTheGermanLocaleAfterAGermanProductWhenTheNextLanguageIsRefused) {
    for (const wchar_t* language : {L"", L"0", L"abc", L"-1", L"99999", L"65536"}) {
        test::ResetReports();
        ProductInventory.clear(); // as the entry point does after each run
        AddProduct(ProductA, L"0.9.0.0", L"Notizen", L"1031");
        AddProduct(ProductB, L"0.9.0.0", L"Blank", language);
        EXPECT_EQ(Run(), "308 1031 'Notizen'\n308 1031 'Blank'\n")
            << "language '" << Narrow(language) << "'";
    }
}

LANGID WINAPI JapaneseDisplayLanguage() {
    return 1041;
}

// On Windows the user's display language and regional formats may differ
// (English formats, Japanese Windows, say): the boxes that belong to no
// product, and a refused first product language, follow the display language.
TEST_F(InstallFlowTest, ShowsTheBoxesOfNoProductInTheUsersDisplayLanguage) {
    ASSERT_NE(GetUserDefaultLCID(), 1041u);
    test::ImportRedirect display(L"kernel32.dll", "GetUserDefaultUILanguage",
                                 reinterpret_cast<void*>(&JapaneseDisplayLanguage));
    struct Case {
        const wchar_t* keywords;
        const wchar_t* version; // of ProductA, language ""; nullptr: not installed
        const char* reports;
    };
    for (const Case& c : {Case{L"1.1.0.0;1.0.0.0,", nullptr, "307 1041 ''\n"},
                          Case{L"1.1.0.0", L"1.0.0.0", "300 1041 '' error=4316\n"},
                          Case{L"1.1.0.0;1.0.0.0,", L"1.1.0.0", "306 1041 'Blank'\n"},
                          Case{L"1.1.0.0;1.0.0.0,", L"0.9.0.0", "308 1041 'Blank'\n"}}) {
        TearDown();
        SetUp();
        SetPatch(c.keywords, ProductA);
        if (c.version != nullptr)
            AddProduct(ProductA, c.version, L"Blank", L"");
        EXPECT_EQ(Run(), c.reports) << Narrow(c.keywords);
    }
}

std::vector<LANGID> UiLanguagesSet;

LANGID WINAPI RecordThreadUiLanguage(LANGID language) {
    UiLanguagesSet.push_back(language);
    return language; // as the platform does when it accepts the language
}

// Wine's SetThreadUILanguage changes nothing that the thread can read back,
// so the calls themselves are recorded.
TEST_F(InstallFlowTest, SetsTheThreadUiLanguageWithEveryLocaleItAccepts) {
    UiLanguagesSet.clear();
    test::ImportRedirect redirect(L"kernel32.dll", "SetThreadUILanguage",
                                  reinterpret_cast<void*>(&RecordThreadUiLanguage));
    AddProduct(ProductA, L"0.9.0.0", L"Notizen", L"1031");
    AddProduct(ProductB, L"0.9.0.0", L"Blank", L"");
    AddProduct(ProductC, L"0.9.0.0", L"Notes JA", L"1041");
    EXPECT_EQ(Run(), "308 1031 'Notizen'\n308 1031 'Blank'\n308 1041 'Notes JA'\n");
    const LANGID display = GetUserDefaultUILanguage();
    EXPECT_EQ(UiLanguagesSet, (std::vector<LANGID>{display, 1031, 1041}));

    UiLanguagesSet.clear();
    test::ResetReports();
    ProductInventory.clear();
    Installer().products.clear();
    AddProduct(ProductA, L"1.1.0.0", L"Notizen", L"1031");
    Run();
    EXPECT_EQ(UiLanguagesSet, (std::vector<LANGID>{display, 1031, display}))
        << "the closing message follows the user's display language";
}

TEST_F(InstallFlowTest, ReadsTheLanguageAsALeadingDecimal) {
    AddProduct(ProductA, L"0.9", L"Notes", L" 1031xyz");
    EXPECT_EQ(Run(), "308 1031 'Notes'\n");
}

TEST_F(InstallFlowTest, MakesTheSameCallsInQuietMode) {
    AddProduct(ProductA, L"1.0.0.0", L"Notes", L"1033");
    AddProduct(ProductB, L"0.9", L"Notizen", L"1031");
    Run();
    const std::vector<std::wstring> loudCalls = Installer().calls;
    const std::string loudReports = Describe(test::Reports());

    TearDown();
    SetUp();
    AddProduct(ProductA, L"1.0.0.0", L"Notes", L"1033");
    AddProduct(ProductB, L"0.9", L"Notizen", L"1031");
    QuietMode = true;
    Run();
    ASSERT_EQ(Installer().calls.size(), loudCalls.size());
    for (std::size_t i = 0; i < loudCalls.size(); ++i) {
        if (loudCalls[i].find(L"MsiGetSummaryInformationW") == 0 ||
            loudCalls[i].find(L"MsiConfigureProductExW") == 0)
            continue; // these name the temporary file, which differs
        EXPECT_EQ(Narrow(Installer().calls[i]), Narrow(loudCalls[i]));
    }
    EXPECT_EQ(Describe(test::Reports()), loudReports);
    for (const test::Report& report : test::Reports())
        EXPECT_TRUE(report.quiet);
}

// Failures before the products are looked at: one message 300 showing the
// error the failing step left.
TEST_F(InstallFlowTest, ReportsTheErrorOfAFailedExtraction) {
    const HINSTANCE own = ModuleInstance;
    ModuleInstance = GetModuleHandleW(L"kernel32.dll"); // no payload there
    const std::string reports = Run();
    ModuleInstance = own;
    EXPECT_EQ(reports, "300 1033 '' error=" + std::to_string(ERROR_RESOURCE_TYPE_NOT_FOUND) + "\n");
    EXPECT_TRUE(Installer().calls.empty());
}

TEST_F(InstallFlowTest, Reports4316ForKeywordsWithoutAUsableSemicolon) {
    for (const wchar_t* keywords : {L"1.1.0.0", L";1.0.0.0,", L""}) {
        test::ResetReports();
        SetPatch(keywords, ProductA);
        AddProduct(ProductA, L"1.0.0.0", L"Notes", L"1033");
        EXPECT_EQ(Run(), "300 1033 '' error=4316\n") << Narrow(keywords);
        EXPECT_TRUE(Installer().CallsNamed(L"MsiQueryProductStateW").empty());
    }
}

TEST_F(InstallFlowTest, ReportsTheServiceErrorWhenAReadFails) {
    Installer().anyPackage.failures[7] = ERROR_UNKNOWN_PROPERTY;
    SetLastError(777);
    EXPECT_EQ(Run(), "300 1033 '' error=" + std::to_string(ERROR_UNKNOWN_PROPERTY) + "\n");

    test::ResetReports();
    Installer().anyPathIsPackage = false;
    SetLastError(777);
    EXPECT_EQ(Run(), "300 1033 '' error=" + std::to_string(ERROR_OPEN_FAILED) + "\n");
}

// TMP of 256 characters fits the temporary-path query, and the patch file in
// it is written (a "\\?\" path has no 260-character limit), but the file's
// full path does not fit the 260 characters the summary open takes.
TEST_F(InstallFlowTest, Reports206WhenThePatchFilesFullPathIsTooLong) {
    constexpr std::size_t Length = 256;
    std::wstring directory = L"\\\\?\\" + scratch_.path();
    while (directory.size() < Length) {
        const std::size_t room = Length - directory.size() - 1; // after the backslash
        directory += L"\\" + std::wstring(std::min<std::size_t>(room, 60), L'd');
        ASSERT_TRUE(CreateDirectoryW(directory.c_str(), nullptr)) << GetLastError();
    }
    ASSERT_EQ(directory.size(), Length);
    test::ScopedEnvironment tmp(L"TMP", directory.c_str());
    AddProduct(ProductA, L"1.0.0.0", L"Notes", L"1033");
    SetLastError(777);
    EXPECT_EQ(Run(), "300 1033 '' error=" + std::to_string(ERROR_FILENAME_EXCED_RANGE) + "\n");
    EXPECT_TRUE(test::ListDirectory(directory).empty()) << "the patch file was written and deleted";
    EXPECT_TRUE(Installer().CallsNamed(L"MsiGetSummaryInformationW").empty());
}

// A list that names a product twice (in any case) gives two records; the
// product still gets one installer call and at most one message.
struct RepeatCase {
    const char* name;
    std::vector<std::wstring> list;                // product codes, in list order
    std::map<std::wstring, std::wstring> versions; // installed version by product code
    std::string reports;                           // "<default>": the user's display language
    std::size_t configured;
};

void PrintTo(const RepeatCase& c, std::ostream* out) {
    *out << c.name;
}

class RepeatedProductTest : public InstallFlowTest,
                            public testing::WithParamInterface<RepeatCase> {};

TEST_P(RepeatedProductTest, HandlesAProductOnceHoweverOftenTheListNamesIt) {
    const RepeatCase& c = GetParam();
    std::wstring list;
    for (const std::wstring& code : c.list)
        list += (list.empty() ? L"" : L";") + code;
    SetPatch(L"1.1.0.0;1.0.0.0,", list);
    for (const auto& product : c.versions)
        AddProduct(product.first.c_str(), product.second, L"Notes", L"1033");
    std::string expected = c.reports;
    const std::string marker = "<default>";
    const std::string::size_type at = expected.find(marker);
    if (at != std::string::npos)
        expected.replace(at, marker.size(), std::to_string(DisplayLocale()));

    EXPECT_EQ(Run(), expected) << c.name;
    EXPECT_EQ(Configured().size(), c.configured) << c.name;
    EXPECT_EQ(ProductInventory.size(), c.list.size()) << "the inventory keeps every record";
}

const std::wstring LowerA = L"{6e1e2a4b-1c1d-4b8e-9a51-3f0c7d2e8a10}";

INSTANTIATE_TEST_SUITE_P(
    Lists, RepeatedProductTest,
    testing::Values(RepeatCase{"twice, at a target version",
                               {ProductA, ProductA},
                               {{ProductA, L"1.0.0.0"}},
                               "301 1033 'Notes'\n",
                               1},
                    RepeatCase{"twice, in upper and lower case",
                               {ProductA, LowerA},
                               {{ProductA, L"1.0.0.0"}, {LowerA, L"1.0.0.0"}},
                               "301 1033 'Notes'\n",
                               1},
                    RepeatCase{"twice, at a version not served",
                               {ProductA, ProductA},
                               {{ProductA, L"0.9"}},
                               "308 1033 'Notes'\n",
                               0},
                    RepeatCase{"twice, up to date: the closing message still comes",
                               {ProductA, ProductA},
                               {{ProductA, L"1.1.0.0"}},
                               "306 <default> 'Notes'\n",
                               0},
                    RepeatCase{"up to date twice around one that gets the patch",
                               {ProductA, ProductB, ProductA},
                               {{ProductA, L"1.1.0.0"}, {ProductB, L"1.0.0.0"}},
                               "301 1033 'Notes'\n",
                               1},
                    RepeatCase{"applied, then named again after another",
                               {ProductA, ProductB, ProductA},
                               {{ProductA, L"1.0.0.0"}, {ProductB, L"0.9"}},
                               "301 1033 'Notes'\n308 1033 'Notes'\n",
                               1}));

// The service may find a product by a lower-case code and still not patch it.
TEST_F(InstallFlowTest, HandsTheServiceEveryProductCodeInRegistryForm) {
    SetPatch(L"1.1.0.0;1.0.0.0,", LowerA);
    AddProduct(ProductA, L"1.0.0.0", L"Notes", L"1033");
    EXPECT_EQ(Run(), "301 1033 'Notes'\n");
    for (const std::wstring& call : Installer().calls)
        EXPECT_EQ(call.find(LowerA), std::wstring::npos) << Narrow(call);
    ASSERT_EQ(Configured().size(), 1u);
    EXPECT_NE(Configured()[0].find(ProductA), std::wstring::npos) << Narrow(Configured()[0]);
}

// Only a product installed for this account is patched: an advertised one has
// nothing installed, another user's cannot be reached from here.
TEST_F(InstallFlowTest, LeavesAdvertisedAndOtherUsersProductsAlone) {
    AddProduct(ProductA, L"1.0.0.0", L"Notes", L"1033", 1);
    AddProduct(ProductB, L"1.0.0.0", L"Notizen", L"1031", 2);
    EXPECT_EQ(Run(), "307 1033 ''\n");
    EXPECT_TRUE(Configured().empty());
    AddProduct(ProductC, L"1.0.0.0", L"Notes JA", L"1041");
    EXPECT_EQ(Run(), "307 1033 ''\n301 1041 'Notes JA'\n");
    ASSERT_EQ(Configured().size(), 1u);
    EXPECT_NE(Configured()[0].find(ProductC), std::wstring::npos) << Narrow(Configured()[0]);
}

// --- The removal ("/uninstall") ----------------------------------------------

// The removal pass against the same doubles: the sample patch's code, the
// three products, and which of them the patch is applied to.
class RemovalFlowTest : public InstallFlowTest {
  protected:
    std::string Run() {
        RemoveServicePack();
        return Describe(test::Reports());
    }

    // A product the patch is applied to, the service marking it removable
    // ("1"), not removable ("0") or saying nothing (nullptr).
    static test::DoubleProduct& AddPatched(const wchar_t* code, const std::wstring& name,
                                           const std::wstring& language,
                                           const wchar_t* uninstallable = L"1") {
        test::DoubleProduct& product = AddProduct(code, L"1.1.0.0", name, language);
        product.patchStates[SamplePatchCode] = L"1";
        if (uninstallable != nullptr)
            product.patchUninstallable[SamplePatchCode] = uninstallable;
        return product;
    }

    std::vector<std::wstring> Removals() const {
        return Installer().CallsNamed(L"MsiRemovePatchesW");
    }

    static bool StillApplied(const wchar_t* code) {
        return Installer().products[code].patchStates.count(SamplePatchCode) != 0;
    }
};

struct RemovalCase {
    const char* name;
    const wchar_t* uninstallable; // "Uninstallable" of the applied patch; nullptr: unreadable
    UINT result;                  // of MsiRemovePatchesW
    bool removes;                 // the service takes the patch off when it answers success
    std::string reports;
    std::size_t removals;        // MsiRemovePatchesW calls
    const wchar_t* state = L"1"; // "State" of the patch on the product; nullptr: not applied
    UINT patchInfoResult = 0;    // forced result of every MsiGetPatchInfoExW
};

void PrintTo(const RemovalCase& c, std::ostream* out) {
    *out << c.name;
}

class RemovalResultTest : public RemovalFlowTest,
                          public testing::WithParamInterface<RemovalCase> {};

TEST_P(RemovalResultTest, ReportsTheRemovalOnlyWhenThePatchIsGone) {
    const RemovalCase& c = GetParam();
    test::DoubleProduct& product = AddPatched(ProductA, L"Notes", L"1041", c.uninstallable);
    if (c.state == nullptr)
        product.patchStates.clear();
    else
        product.patchStates[SamplePatchCode] = c.state;
    product.patchInfoResult = c.patchInfoResult;
    Installer().removeResults[ProductA] = c.result;
    Installer().successRemovesPatch = c.removes;
    std::string expected = c.reports;
    const std::string marker = "<default>";
    if (expected.find(marker) != std::string::npos)
        expected.replace(expected.find(marker), marker.size(), std::to_string(DisplayLocale()));

    EXPECT_EQ(Run(), expected) << c.name;
    EXPECT_EQ(Removals().size(), c.removals) << c.name;
    EXPECT_TRUE(LeftInTmp().empty()) << c.name;
    EXPECT_TRUE(Configured().empty()) << c.name << ": a removal applies nothing";
}

INSTANTIATE_TEST_SUITE_P(
    Results, RemovalResultTest,
    testing::Values(
        RemovalCase{"removed", L"1", 0, true, "320 1041 'Notes'\n", 1},
        RemovalCase{"removed, a restart needed", L"1", 3010, true, "320 1041 'Notes'\n", 1},
        RemovalCase{"removed, restart initiated", L"1", 1641, true, "320 1041 'Notes'\n", 1},
        RemovalCase{"removed, restart required (3011)", L"1", 3011, true, "320 1041 'Notes'\n", 1},
        // The service's success is checked: the patch must be gone (Wine's
        // service answers 0 and removes nothing).
        RemovalCase{"answered 0, still applied", L"1", 0, false, "300 1041 'Notes' error=1603\n",
                    1},
        RemovalCase{"answered 3010, still applied", L"1", 3010, false,
                    "300 1041 'Notes' error=1603\n", 1},
        // Marked not removable: the service is not asked at all.
        RemovalCase{"not removable", L"0", 0, true, "300 1041 'Notes' error=1646\n", 0},
        // "Uninstallable" that cannot be read or means nothing: the service decides.
        RemovalCase{"removability unreadable, removed", nullptr, 0, true, "320 1041 'Notes'\n", 1},
        RemovalCase{"removability unreadable, refused", nullptr, 1646, false,
                    "300 1041 'Notes' error=1646\n", 1},
        RemovalCase{"removability garbage, removed", L"yes", 0, true, "320 1041 'Notes'\n", 1},
        RemovalCase{"removal disallowed by policy", L"1", 1649, false,
                    "300 1041 'Notes' error=1649\n", 1},
        RemovalCase{"removal failed", L"1", 1603, false, "300 1041 'Notes' error=1603\n", 1},
        RemovalCase{"suspended until the restart", L"1", 1604, false, "320 1041 'Notes'\n", 1},
        RemovalCase{"superseded by a later patch, removed", L"1", 0, true, "320 1041 'Notes'\n", 1,
                    L"2"},
        // Not applied: nothing to remove, said once, in the user's language.
        RemovalCase{"not applied", L"1", 0, true, "321 <default> 'Notes'\n", 0, nullptr},
        RemovalCase{"only registered", L"1", 0, true, "321 <default> 'Notes'\n", 0, L"8"},
        // A state that cannot be had: the service is asked, and its answer decides.
        RemovalCase{"state not known, the service knows no such patch", nullptr, 1647, false,
                    "321 <default> 'Notes'\n", 1, L"1", ERROR_ACCESS_DENIED},
        RemovalCase{"state not known, removed", nullptr, 0, true, "320 1041 'Notes'\n", 1, L"1",
                    ERROR_ACCESS_DENIED},
        RemovalCase{"state not known, refused", nullptr, 1603, false,
                    "300 1041 'Notes' error=1603\n", 1, L"1", ERROR_ACCESS_DENIED}));

TEST_F(RemovalFlowTest, RemovesThePatchCodeFromTheProductUnderTheRunsInterfaceLevel) {
    AddPatched(ProductA, L"Notes", L"1033");
    Installer().uiLevel = 7;
    EXPECT_EQ(Run(), "320 1033 'Notes'\n");
    std::vector<std::wstring> calls;
    for (const std::wstring& call : Installer().calls)
        if (call.find(L"MsiSetInternalUI") == 0 || call.find(L"MsiRemovePatchesW") == 0)
            calls.push_back(call);
    const std::vector<std::wstring> expected = {
        L"MsiSetInternalUI(35, null)",
        L"MsiRemovePatchesW(" + std::wstring(SamplePatchCode) + L", " + ProductA +
            L", 2, REBOOTPROMPT=S REBOOT=ReallySuppress)",
        L"MsiSetInternalUI(7, null)",
    };
    ASSERT_EQ(calls.size(), expected.size());
    for (std::size_t i = 0; i < calls.size(); ++i)
        EXPECT_EQ(Narrow(calls[i]), Narrow(expected[i]));
    EXPECT_FALSE(StillApplied(ProductA));
    EXPECT_TRUE(Installer().CallsNamed(L"MsiSummaryInfoGetPropertyW(5").empty())
        << "a removal needs no keywords";
}

// The state, the removability and the check after the removal are asked in
// the installation the removal works on: per-user with the user's SID,
// per-machine with none.
TEST_F(RemovalFlowTest, AsksAboutThePatchInTheProductsOwnInstallation) {
    for (const int context : {4, 2, 1}) {
        TearDown();
        SetUp();
        AddPatched(ProductA, L"Notes", L"1033").context = context;
        EXPECT_EQ(Run(), "320 1033 'Notes'\n") << "context " << context;
        const std::wstring sid = context == 4 ? L"(null)" : Installer().currentUserSid;
        const std::wstring asked = std::wstring(SamplePatchCode) + L", " + ProductA + L", " + sid +
                                   L", " + std::to_wstring(context) + L", ";
        const std::vector<std::wstring> queries = Installer().CallsNamed(L"MsiGetPatchInfoExW");
        ASSERT_EQ(queries.size(), 3u) << "context " << context;
        EXPECT_EQ(Narrow(queries[0]), Narrow(L"MsiGetPatchInfoExW(" + asked + L"State, 16)"));
        EXPECT_EQ(Narrow(queries[1]),
                  Narrow(L"MsiGetPatchInfoExW(" + asked + L"Uninstallable, 16)"));
        EXPECT_EQ(Narrow(queries[2]), Narrow(L"MsiGetPatchInfoExW(" + asked + L"State, 16)"));
        EXPECT_FALSE(StillApplied(ProductA)) << "context " << context;
    }
}

TEST_F(RemovalFlowTest, RemovesFromEveryPatchedProductAndPassesOverTheOthers) {
    AddPatched(ProductA, L"Notes", L"1033");
    AddProduct(ProductB, L"1.1.0.0", L"Notizen", L"1031"); // not patched
    AddPatched(ProductC, L"Notes JA", L"1041");
    Installer().removeResults[ProductA] = 1603;
    Installer().successRemovesPatch = true;
    EXPECT_EQ(Run(), "300 1033 'Notes' error=1603\n320 1041 'Notes JA'\n");
    ASSERT_EQ(Removals().size(), 2u);
    EXPECT_NE(Removals()[0].find(ProductA), std::wstring::npos);
    EXPECT_NE(Removals()[1].find(ProductC), std::wstring::npos);
    EXPECT_TRUE(StillApplied(ProductA));
    EXPECT_FALSE(StillApplied(ProductC));
}

// No product has the patch: one box, in the user's display language, naming
// the last product looked at; no removal is asked for.
TEST_F(RemovalFlowTest, SaysOnceThatThereIsNothingToRemove) {
    AddProduct(ProductA, L"1.0.0.0", L"Notes", L"1033");
    AddProduct(ProductC, L"1.1.0.0", L"Notes JA", L"1041");
    EXPECT_EQ(Run(), "321 " + std::to_string(DisplayLocale()) + " 'Notes JA'\n");
    EXPECT_TRUE(Removals().empty());
    EXPECT_TRUE(LeftInTmp().empty());

    TearDown();
    SetUp();
    AddProduct(ProductB, L"1.1.0.0", L"Notizen", L"1031", 2); // another user's only
    EXPECT_EQ(Run(), "322 " + std::to_string(DisplayLocale()) + " ''\n");
    EXPECT_TRUE(Removals().empty());
    EXPECT_TRUE(LeftInTmp().empty());
}

TEST_F(RemovalFlowTest, RemovesFromAProductTheListNamesTwiceOnce) {
    SetPatch(L"1.1.0.0;1.0.0.0,", std::wstring(ProductA) + L";" + LowerA);
    AddPatched(ProductA, L"Notes", L"1033");
    EXPECT_EQ(Run(), "320 1033 'Notes'\n");
    EXPECT_EQ(Removals().size(), 1u);
}

// Without a patch code nothing can be named for removal: 300 with 1647,
// before any product is looked at; a patch whose keywords the install would
// refuse is still removed.
TEST_F(RemovalFlowTest, NeedsThePatchCodeButNotTheKeywords) {
    AddPatched(ProductA, L"Notes", L"1033");
    Installer().anyPackage.properties[9] = L"Hotfix 7";
    EXPECT_EQ(Run(), "300 1033 '' error=1647\n");
    EXPECT_TRUE(Installer().CallsNamed(L"MsiQueryProductStateW").empty());
    EXPECT_TRUE(Removals().empty());
    EXPECT_TRUE(LeftInTmp().empty());

    TearDown();
    SetUp();
    SetPatch(L"no keywords at all", ProductA);
    AddPatched(ProductA, L"Notes", L"1033");
    EXPECT_EQ(Run(), "320 1033 'Notes'\n");
}

TEST_F(RemovalFlowTest, DeletesThePatchFileAtEveryEarlyEnd) {
    struct Case {
        const char* name;
        const wchar_t* revision; // PID_REVNUMBER
        UINT productReadFailure; // 0: the product list reads
        std::string reports;
    };
    const Case cases[] = {
        {"no patch code", L"", 0, "300 1033 '' error=1647\n"},
        {"product list unreadable", SamplePatchCode, ERROR_UNKNOWN_PROPERTY,
         "300 1033 '' error=" + std::to_string(ERROR_UNKNOWN_PROPERTY) + "\n"},
        {"no product installed", SamplePatchCode, 0,
         "322 " + std::to_string(DisplayLocale()) + " ''\n"},
    };
    for (const Case& c : cases) {
        TearDown();
        SetUp();
        Installer().anyPackage.properties[9] = c.revision;
        if (c.productReadFailure != 0)
            Installer().anyPackage.failures[7] = c.productReadFailure;
        std::size_t filesAtTheBox = 0;
        test::OnReport([&](const test::Report&) { filesAtTheBox = LeftInTmp().size(); });
        EXPECT_EQ(Run(), c.reports) << c.name;
        EXPECT_EQ(filesAtTheBox, 1u) << c.name << ": the box comes before the delete";
        EXPECT_TRUE(LeftInTmp().empty()) << c.name;
    }
}

} // namespace
