// The patch check of "patchkit check" and "pack": what it accepts, and what
// its refusals name.
#include "common/holder.h"
#include "kit/check/patch_check.h"
#include "kit/files/long_path.h"
#include "kit/package/bytes.h"
#include "kit/package/com_scope.h"
#include "tests/patch/patch_fixtures.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <objbase.h>

#include <cwchar>

namespace {

using test::Narrow;

constexpr wchar_t GoodKeywords[] = L"1.1.0.0;1.0.0.0,1.0.5.0,";
constexpr wchar_t GoodProducts[] =
    L"{6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8A10};{6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8A20}";
constexpr wchar_t KeywordsForm[] = L"It must be UPGRADE;TARGET,TARGET,...";
constexpr wchar_t TemplateForm[] = L"It must be {PRODUCTCODE};{PRODUCTCODE}...";
constexpr wchar_t StampCommand[] = L"patchkit stamp IN.msp OUT.msp";

class PatchCheck : public testing::Test {
  protected:
    std::wstring WritePatch(const std::wstring& keywords, const std::wstring& products) {
        return patches_.Write(keywords, products);
    }

    test::PatchFiles patches_;
    const test::ScratchDirectory& scratch_ = patches_.scratch();
};

// The temporary copies of inspected launchers' patches that are there now.
std::vector<std::wstring> InspectedCopies() {
    std::vector<std::wstring> copies;
    for (const std::wstring& name : test::ListDirectory(test::TemporaryDirectory())) {
        if (name.rfind(kit::InspectedCopyPrefix, 0) == 0)
            copies.push_back(name);
    }
    return copies;
}

struct RefusedCase {
    const char* name;
    const wchar_t* keywords;
    const wchar_t* products;
    std::vector<std::wstring> said; // every one of these is in the message
};

// "V;V," alone is a small update: the launcher asks whether the patch (its
// code from PID_REVNUMBER) is applied to a product at V.
TEST_F(PatchCheck, AcceptsVersionsAndProductsInTheLauncherForms) {
    const struct {
        const wchar_t* keywords;
        bool smallUpdate;
    } cases[] = {{GoodKeywords, false},
                 {L"2;1,", false},
                 {L"1.2.3;1.2,0.9.1.65535,", false},
                 {L"3.1.21022;3.1.21022,", true},
                 {L"3.1.21022;3.1.21022.0,", true},
                 {L"3.1.21022;3.1.21022,3.1.21000,", false}};
    for (const auto& c : cases) {
        kit::PatchFacts facts;
        EXPECT_EQ(Narrow(kit::CheckPatchPackage(WritePatch(c.keywords, GoodProducts), facts)), "")
            << Narrow(c.keywords);
        EXPECT_EQ(facts.smallUpdate, c.smallUpdate) << Narrow(c.keywords);
        EXPECT_EQ(Narrow(facts.patchCode), "{6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8B01}");
        EXPECT_EQ(Narrow(facts.products), Narrow(GoodProducts));
    }
}

// Whether the patch may be removed again is information: the check says it
// for every value of MsiPatchMetadata AllowRemoval and refuses none.
TEST_F(PatchCheck, SaysWhetherThePatchCanBeRemovedAgainAndRefusesNone) {
    const struct {
        const wchar_t* allowRemoval; // empty: no MsiPatchMetadata table
        kit::Removal removal;
        const char* reason;
        const char* note; // the start of what patchkit prints
    } cases[] = {
        {L"1", kit::Removal::Allowed, "its MsiPatchMetadata table has AllowRemoval 1",
         "it can be removed again with \"/uninstall\": "},
        {L"0", kit::Removal::NotAllowed, "its MsiPatchMetadata table has AllowRemoval '0', not 1",
         "it cannot be removed again: "},
        {L"yes", kit::Removal::NotAllowed,
         "its MsiPatchMetadata table has AllowRemoval 'yes', not 1",
         "it cannot be removed again: "},
        {L"", kit::Removal::NotAllowed, "it has no MsiPatchMetadata table",
         "it cannot be removed again: "},
    };
    for (const auto& c : cases) {
        patchwriter::PatchDefinition definition;
        definition.targets = {{L"{6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8A10}",
                               L"{6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8AF0}", L"1033", L""}};
        definition.patchCode = L"{6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8B01}";
        definition.fromVersion = L"1.0.0.0";
        definition.toVersion = L"1.1.0.0";
        definition.allowRemoval = c.allowRemoval;
        const std::wstring path = scratch_.file(L"removal.msp");
        std::wstring error;
        ASSERT_TRUE(patchwriter::WritePatchPackage(path, definition, error)) << Narrow(error);
        kit::PatchFacts facts;
        EXPECT_EQ(Narrow(kit::CheckPatchPackage(path, facts)), "") << Narrow(c.allowRemoval);
        EXPECT_EQ(facts.removal.removal, c.removal) << Narrow(c.allowRemoval);
        EXPECT_EQ(Narrow(facts.removal.reason), c.reason);
        EXPECT_EQ(Narrow(kit::RemovalNote(facts.removal)).rfind(c.note, 0), 0u)
            << Narrow(kit::RemovalNote(facts.removal));
    }
    const std::wstring text = scratch_.file(L"not-a-patch.msp");
    test::WriteFileText(text, "not a database");
    const kit::RemovalFacts unreadable = kit::ReadRemovalFacts(text);
    EXPECT_EQ(unreadable.removal, kit::Removal::Unreadable);
    EXPECT_EQ(Narrow(unreadable.reason).rfind("it cannot be opened as a patch database (error ", 0),
              0u)
        << Narrow(unreadable.reason);
}

TEST_F(PatchCheck, RefusesASmallUpdateWithoutAPatchCodeButNotOtherKeywords) {
    for (const wchar_t* keywords : {L"3.1.21022;3.1.21022,", GoodKeywords}) {
        patchwriter::SummaryInformation summary;
        summary.SetText(kit::PropertyKeywords, keywords);
        summary.SetText(kit::PropertyTemplate, GoodProducts);
        summary.SetText(kit::PropertyRevNumber, L"Hotfix 7");
        const std::wstring path = scratch_.file(L"no-code.msp");
        ASSERT_TRUE(patchwriter::WriteSummaryPackage(path, summary));
        const std::wstring problem = kit::CheckPatchPackage(path);
        EXPECT_EQ(problem.find(L"but PID_REVNUMBER (Revision Number) 'Hotfix 7' does not start "
                               L"with the patch code") != std::wstring::npos,
                  keywords != GoodKeywords)
            << Narrow(problem);
    }
}

// A compound file of the patch class holding only the (empty) streams named.
void WritePatchClassFile(const std::wstring& path, const std::vector<std::wstring>& streams) {
    kit::ComScope com;
    ComHolder<IStorage> root;
    ASSERT_TRUE(SUCCEEDED(StgCreateDocfile(
        path.c_str(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, root.put())));
    ASSERT_TRUE(SUCCEEDED(root.get()->SetClass(kit::PatchClass)));
    for (const std::wstring& name : streams) {
        ComHolder<IStream> stream;
        ASSERT_TRUE(SUCCEEDED(root.get()->CreateStream(
            name.c_str(), STGM_CREATE | STGM_WRITE | STGM_SHARE_EXCLUSIVE, 0, 0, stream.put())));
    }
}

// Wine's installer service jumps to address 0 on a compound file of the patch
// class without its string pool: such a file must never reach it.
TEST_F(PatchCheck, NamesTheStreamsThatAPatchClassFileLacksBeforeTheServiceSeesIt) {
    const std::wstring summary = L"\005SummaryInformation";
    const std::wstring pool = kit::EncodeStreamName(L"_StringPool", true);
    const std::wstring data = kit::EncodeStreamName(L"_StringData", true);
    const struct {
        std::vector<std::wstring> streams;
        const wchar_t* missing; // as the message names them
    } cases[] = {
        {{},
         L"\\005SummaryInformation (the summary information), _StringPool (the string pool), "
         L"_StringData (the string pool)."},
        {{summary, pool}, L"no _StringData (the string pool)."},
        {{pool, data}, L"no \\005SummaryInformation (the summary information)."},
    };
    for (const auto& c : cases) {
        const std::wstring path = scratch_.file(L"streams.msp");
        WritePatchClassFile(path, c.streams);
        const std::wstring problem = kit::CheckPatchPackage(path);
        EXPECT_EQ(problem.rfind(L"not a Windows Installer patch package that the installer "
                                L"service can read: its root storage has no ",
                                0),
                  0u)
            << Narrow(problem);
        EXPECT_NE(problem.find(c.missing), std::wstring::npos) << Narrow(problem);
    }
}

// The prefixes that the build and the tests run in start no debugger and
// show no crash dialog: a program that crashes ends instead of waiting for
// good. Wine's msiexec crashes on a patch-class file without a string pool.
TEST_F(PatchCheck, AProgramThatCrashesInThePrefixEndsInsteadOfWaitingForADebugger) {
    const std::wstring path = scratch_.file(L"no-streams.msp");
    WritePatchClassFile(path, {});
    const test::ProcessResult run =
        test::RunProcess(L"msiexec.exe /p " + test::Quote(path) + L" /qn", L"", 60000);
    ASSERT_TRUE(run.started);
    EXPECT_FALSE(run.timedOut) << "still waiting after a minute";
}

// A built launcher, read without running it.
TEST_F(PatchCheck, InspectsTheEmbeddedPatchOfABuiltLauncher) {
    const std::vector<std::wstring> copiesBefore = InspectedCopies();
    kit::LauncherFacts facts;
    std::wstring error;
    ASSERT_TRUE(kit::InspectLauncher(test::FullPath(PATCH_LAUNCHER_EXE), facts, error))
        << Narrow(error);
    EXPECT_EQ(facts.payloadSize, test::ReadFileBytes(EMBEDDED_PATCH_FILE).size());
    EXPECT_EQ(facts.payloadSha256.size(), 64u) << Narrow(facts.payloadSha256);
    EXPECT_FALSE(facts.signatureFound) << "the test build is not signed";
    EXPECT_EQ(Narrow(facts.patchProblem), "");
    EXPECT_EQ(Narrow(facts.patch.upgradeVersion), "1.1.0.0");
    EXPECT_EQ(Narrow(facts.patch.targetVersions), "1.0.0.0,");
    EXPECT_EQ(Narrow(facts.patch.patchCode), "{6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8B01}");
    EXPECT_FALSE(facts.patch.smallUpdate);
    EXPECT_EQ(facts.patch.removal.removal, kit::Removal::Allowed) << "the sample is removable";
    EXPECT_EQ(facts.patch.products.size(), 3 * 38u + 2) << Narrow(facts.patch.products);
    EXPECT_EQ(InspectedCopies(), copiesBefore) << "no copy of the patch is left behind";

    // Another payload: what the check says of it, and its SHA-256.
    const std::wstring text = scratch_.file(L"abc.txt");
    test::WriteFileText(text, "abc");
    const std::wstring launcher = scratch_.file(L"AbcLauncher.exe");
    ASSERT_TRUE(test::CopyLauncherWithPatch(test::FullPath(PATCH_LAUNCHER_EXE), text, launcher));
    ASSERT_TRUE(kit::InspectLauncher(launcher, facts, error)) << Narrow(error);
    EXPECT_EQ(facts.payloadSize, 3u);
    EXPECT_EQ(Narrow(facts.payloadSha256),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(facts.patchProblem.rfind(L"not a Windows Installer patch package", 0), 0u)
        << Narrow(facts.patchProblem);
}

TEST_F(PatchCheck, SaysThatAFileIsNoLauncher) {
    const std::wstring text = scratch_.file(L"notes.txt");
    test::WriteFileText(text, "MZ, but no program\n");
    kit::LauncherFacts facts;
    std::wstring error;
    EXPECT_FALSE(kit::InspectLauncher(text, facts, error));
    EXPECT_EQ(error.rfind(L"not a launcher: it cannot be read as a Windows program", 0), 0u)
        << Narrow(error);
    EXPECT_FALSE(
        kit::InspectLauncher(test::ModuleDirectory() + L"\\patch_check_tests.exe", facts, error));
    EXPECT_EQ(Narrow(error),
              "not a launcher: it carries no embedded patch (resource MSP/IDR_MSP).");
}

TEST_F(PatchCheck, RefusesEachUnusableFormNamingPropertyValueAndForm) {
    const std::vector<RefusedCase> cases = {
        {"no semicolon",
         L"1.1.0.0",
         GoodProducts,
         {L"PID_KEYWORDS (Keywords) '1.1.0.0' has no \";\"", KeywordsForm, StampCommand}},
        {"leading semicolon",
         L";1.0.0.0,",
         GoodProducts,
         {L"PID_KEYWORDS (Keywords) ';1.0.0.0,' starts with \";\"", KeywordsForm}},
        {"empty keywords",
         L"",
         GoodProducts,
         {L"PID_KEYWORDS (Keywords) '' is empty", KeywordsForm, StampCommand}},
        {"source list",
         L"\\\\server\\patches;https://example.com/sp1/",
         GoodProducts,
         {L"has the upgrade version '\\\\server\\patches', which is not a dotted version",
          StampCommand}},
        {"last target without comma",
         L"1.1.0.0;1.0.0.0,1.0.5.0",
         GoodProducts,
         {L"has the target entry '1.0.5.0', which is not followed by \",\"", KeywordsForm}},
        {"target not a version",
         L"1.1.0.0;1.0.0.0,any,",
         GoodProducts,
         {L"has the target entry 'any', which is not a dotted version"}},
        {"empty target entry",
         L"1.1.0.0;1.0.0.0,,",
         GoodProducts,
         {L"has the target entry '', which is not a dotted version"}},
        {"five parts",
         L"1.1.0.0.1;1.0.0.0,",
         GoodProducts,
         {L"has the upgrade version '1.1.0.0.1', which is not a dotted version"}},
        {"part beyond 16 bits",
         L"1.1.0.0;1.65536.0.0,",
         GoodProducts,
         {L"has the target entry '1.65536.0.0', which is not a dotted version"}},
        {"no target", L"1.1.0.0;", GoodProducts, {L"names no target version after its \";\""}},
        {"empty template", GoodKeywords, L"", {L"PID_TEMPLATE (Template) is empty", TemplateForm}},
        {"lower case",
         GoodKeywords,
         L"{6e1e2a4b-1c1d-4b8e-9a51-3f0c7d2e8a10}",
         {L"has as entry 1 '{6e1e2a4b-1c1d-4b8e-9a51-3f0c7d2e8a10}', which is not a product "
          L"code in registry form",
          TemplateForm}},
        {"comma separated",
         GoodKeywords,
         L"{6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8A10},{6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8A20}",
         {L"PID_TEMPLATE (Template) '{6E1E2A4B", L"has as entry 1"}},
        {"trailing semicolon",
         GoodKeywords,
         L"{6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8A10};",
         {L"has as entry 2 '', which is not a product code"}},
        {"no braces",
         GoodKeywords,
         L"6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8A10",
         {L"has as entry 1 '6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8A10'"}},
    };
    for (const RefusedCase& refused : cases) {
        const std::wstring problem =
            kit::CheckPatchPackage(WritePatch(refused.keywords, refused.products));
        for (const std::wstring& part : refused.said)
            EXPECT_NE(problem.find(part), std::wstring::npos)
                << refused.name << ": expected \"" << Narrow(part) << "\" in \"" << Narrow(problem)
                << "\"";
    }
}

TEST_F(PatchCheck, ReadsKeywordsNotASubjectLineThatLooksLikeThem) {
    patchwriter::SummaryInformation summary;
    summary.SetText(kit::PropertySubject, L"Service pack\nKeywords: 1.1.0.0;1.0.0.0,");
    summary.SetText(kit::PropertyKeywords, L"https://example.com/sp1/");
    summary.SetText(kit::PropertyTemplate, GoodProducts);
    const std::wstring path = scratch_.file(L"subject.msp");
    ASSERT_TRUE(patchwriter::WriteSummaryPackage(path, summary));
    const std::wstring problem = kit::CheckPatchPackage(path);
    EXPECT_NE(problem.find(L"PID_KEYWORDS (Keywords) 'https://example.com/sp1/' has no \";\""),
              std::wstring::npos)
        << Narrow(problem);
}

TEST_F(PatchCheck, NamesAFileThatIsNoPatchPackageAsSuch) {
    const std::wstring text = scratch_.file(L"notes.txt");
    test::WriteFileText(text, "Keywords: 1.1.0.0;1.0.0.0,\n");

    // A compound file of another class: an installer database.
    const std::wstring database = scratch_.file(L"product.msi");
    {
        kit::ComScope com;
        ComHolder<IStorage> root;
        ASSERT_TRUE(SUCCEEDED(StgCreateDocfile(
            database.c_str(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, root.put())));
        const CLSID databaseClass = {
            0x000C1084, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
        ASSERT_TRUE(SUCCEEDED(root.get()->SetClass(databaseClass)));
    }
    for (const std::wstring& path : {text, database}) {
        const std::wstring problem = kit::CheckPatchPackage(path);
        EXPECT_EQ(problem.rfind(L"not a Windows Installer patch package", 0), 0u)
            << Narrow(path) << ": " << Narrow(problem);
        EXPECT_EQ(problem.find(L"PID_KEYWORDS"), std::wstring::npos) << Narrow(problem);
    }
    EXPECT_NE(kit::CheckPatchPackage(database).find(L"{000C1084-0000-0000-C000-000000000046}"),
              std::wstring::npos);
}

// A file that cannot be read, or a compound file that is not whole, is
// refused with the reason in words before the installer service sees it.
TEST_F(PatchCheck, SaysWhyAFileCannotBeReadOrIsNoWholePatch) {
    const std::vector<std::uint8_t> patch = test::ReadFileBytes(EMBEDDED_PATCH_FILE);
    ASSERT_GE(patch.size(), 2048u);
    ASSERT_EQ(patch[0x1E], 9) << "sectors of 512 bytes";
    const std::uint32_t fat = kit::Uint32At(patch, 0x4C);       // its first FAT sector
    const std::uint32_t directory = kit::Uint32At(patch, 0x30); // its first directory sector
    const std::size_t fatAt = (fat + 1) * 512;
    std::vector<std::uint8_t> looped = patch; // the directory's chain goes back to its start
    kit::PutUint32(looped, fatAt + 4 * directory, directory);
    const auto write = [this](const wchar_t* name, const std::vector<std::uint8_t>& bytes) {
        test::WriteFileBytes(scratch_.file(name), bytes);
        return scratch_.file(name);
    };
    const std::wstring folder = scratch_.file(L"folder.msp");
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    const std::wstring held = write(L"held.msp", patch);
    const FileHandle holder(CreateFileW(held.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(holder);
    // A sound patch whose full path is longer than the installer service takes.
    const std::wstring deepFolder = scratch_.file(std::wstring(240, L'd'));
    const std::wstring deep = deepFolder + L"\\patch.msp";
    ASSERT_TRUE(CreateDirectoryW(kit::LongPathForm(deepFolder).c_str(), nullptr));
    ASSERT_TRUE(CopyFileW(EMBEDDED_PATCH_FILE, kit::LongPathForm(deep).c_str(), FALSE));

    const struct {
        std::wstring path;
        std::vector<std::wstring> said; // the message starts with the first, holds the others
    } cases[] = {
        {scratch_.file(L"missing.msp"), {L"cannot read the patch: it does not exist (error 2)."}},
        {folder, {L"cannot read the patch: it is a folder (error 5)."}},
        {held, {L"cannot read the patch: it is in use by another program (error 32)."}},
        {deep,
         {L"cannot read the patch: the path is too long (error 206): the installer service reads "
          L"a patch only at a full path of fewer than 260 characters, and this one has " +
          std::to_wstring(kit::LongPathForm(deep).size() - 4)}},
        {write(L"half.msp", {patch.begin(), patch.begin() + patch.size() / 2}),
         {L"the patch is truncated: its FAT names sector ",
          L", beyond the end of the file (" + std::to_wstring(patch.size() / 2) + L" bytes)."}},
        {write(L"cut-fat.msp", {patch.begin(), patch.begin() + fatAt + 256}),
         {L"the patch is truncated: its header names sector " + std::to_wstring(fat) +
          L" for its FAT, beyond the end of the file (" + std::to_wstring(fatAt + 256) +
          L" bytes)."}},
        {write(L"looped.msp", looped),
         {L"the patch is damaged: its FAT names sector " + std::to_wstring(directory) +
          L" for its directory, which is in use already"}},
    };
    for (const auto& c : cases) {
        const std::wstring problem = kit::CheckPatchPackage(c.path);
        EXPECT_EQ(problem.rfind(c.said[0], 0), 0u) << Narrow(c.said[0]) << "\n" << Narrow(problem);
        for (const std::wstring& part : c.said)
            EXPECT_NE(problem.find(part), std::wstring::npos) << Narrow(problem);
    }
    DeleteFileW(kit::LongPathForm(deep).c_str());
    RemoveDirectoryW(kit::LongPathForm(deepFolder).c_str());
}

TEST_F(PatchCheck, ChecksAHundredThousandProductCodesAndShortensTheValue) {
    const std::wstring products = test::ProductList(100000);
    EXPECT_EQ(Narrow(kit::CheckPatchPackage(WritePatch(GoodKeywords, products))), "");

    const std::wstring broken = products + L";{6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8A1}";
    const std::wstring problem = kit::CheckPatchPackage(WritePatch(GoodKeywords, broken));
    EXPECT_NE(problem.find(L"has as entry 100001 '{6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8A1}'"),
              std::wstring::npos)
        << Narrow(problem);
    EXPECT_NE(problem.find(L"(" + std::to_wstring(broken.size()) + L" characters)"),
              std::wstring::npos)
        << Narrow(problem);
    EXPECT_LT(problem.size(), 800u) << Narrow(problem);
}

TEST(PatchCheckShorten, EscapesControlCharactersAndCutsLongValues) {
    EXPECT_EQ(Narrow(kit::Shorten(L"a\nb\tc")), "a\\nb\\x09c");
    const std::wstring longValue(200, L'x');
    const std::wstring shown = kit::Shorten(longValue);
    EXPECT_LE(shown.size(), kit::ShortenedLength + 20) << Narrow(shown);
    EXPECT_NE(shown.find(L"...xxxxxxxxxxxx (200 characters)"), std::wstring::npos) << Narrow(shown);
}

} // namespace
