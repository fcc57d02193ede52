// PatchLauncher.exe with its sample patch, run under the platform against real
// installed products: the boxes a user sees and what happens to the products.
#include "common/holder.h"
#include "common/program_state.h"
#include "launcher/launcher.h"
#include "messages/messages.h"
#include "samples/sample_products.h"
#include "tests/messages/catalogue_data.h"
#include "tests/support/message_box_recorder.h"
#include "tests/support/products.h"
#include "tests/support/restart_recorder.h"
#include "tests/support/test_support.h"
#include "tools/box_driver/box_watcher.h"
#include "tools/patch_writer/patch_writer.h"

#include <msi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cwctype>
#include <thread>

namespace {

using test::Narrow;

const wchar_t SamplePatchCode[] = L"{6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8B01}";

// The catalogue language the platform picks for the user's default locale.
LCID DefaultCatalogueLanguage() {
    const std::vector<LCID>& languages = test::CatalogueLanguages();
    const LCID user = GetUserDefaultLCID();
    return std::find(languages.begin(), languages.end(), user) != languages.end() ? user : 1033;
}

struct ExpectedBox {
    LCID language;
    UINT textId;
    UINT titleId;
    const wchar_t* productName; // nullptr: no substitution
    test::BoxIcon icon;
};

void ExpectBox(const test::ObservedBox& box, const ExpectedBox& expected) {
    std::wstring text = test::ExpectedText(expected.language, expected.textId);
    if (expected.productName != nullptr)
        text = test::Substitute(text, expected.productName);
    const std::wstring title = test::ExpectedText(expected.language, expected.titleId);
    EXPECT_EQ(test::DescribeDifference(title, box.title), "") << "title of " << expected.textId;
    EXPECT_EQ(test::DescribeDifference(text, box.text), "") << "text of " << expected.textId;
    EXPECT_EQ(test::BoxIconName(box.icon), std::string(test::BoxIconName(expected.icon)));
    ASSERT_EQ(box.buttons.size(), 1u);
    EXPECT_EQ(box.buttons[0].id, IDOK);
    EXPECT_FALSE(box.owned);
}

class EndToEnd : public testing::Test {
  protected:
    test::WatchedRun Launch(const std::wstring& arguments = std::wstring(),
                            DWORD expectedExitCode = 0) {
        return LaunchProgram(PATCH_LAUNCHER_EXE, arguments, std::wstring(), expectedExitCode);
    }

    // `program` is a launcher built around another patch; `tmp` is the TMP
    // it gets, empty for the scratch directory.
    test::WatchedRun LaunchProgram(const wchar_t* program,
                                   const std::wstring& arguments = std::wstring(),
                                   const std::wstring& tmp = std::wstring(),
                                   DWORD expectedExitCode = 0) {
        test::WatchedRun run = test::RunWatchingBoxes(
            test::Quote(test::FullPath(program)) + L" " + arguments, scratch_.path(),
            {L"TMP=" + (tmp.empty() ? scratch_.path() : tmp)});
        EXPECT_TRUE(run.started);
        EXPECT_FALSE(run.timedOut);
        EXPECT_EQ(run.exitCode, expectedExitCode) << test::Narrow(arguments);
        return run;
    }

    std::vector<std::wstring> LeftInTmp() const { return test::ListDirectory(scratch_.path()); }

    // A copy of PatchLauncher.exe in `work` around `work`'s file `patch`.
    static std::wstring LauncherAround(const test::ScratchDirectory& work,
                                       const std::wstring& patch) {
        const std::wstring launcher = work.file(L"Launcher.exe");
        EXPECT_TRUE(test::CopyLauncherWithPatch(test::FullPath(PATCH_LAUNCHER_EXE),
                                                work.file(patch), launcher));
        return launcher;
    }

    static std::string Describe(const test::WatchedRun& run) {
        std::string text;
        for (const test::ObservedBox& box : run.boxes)
            text += test::DescribeBox(box);
        return text;
    }

    test::ScratchDirectory scratch_;
};

TEST_F(EndToEnd, ReportsNoProductWhenNoTargetIsInstalledAndDeletesThePatchFile) {
    const test::WatchedRun run = Launch();
    ASSERT_EQ(run.boxes.size(), 1u) << Describe(run);
    ExpectBox(run.boxes[0], {DefaultCatalogueLanguage(), messages::NoProductFound,
                             messages::TitleError, nullptr, test::BoxIcon::Stop});
    EXPECT_TRUE(LeftInTmp().empty()) << "no copy of the patch piles up per attempt";
}

TEST_F(EndToEnd, ReportsUpToDateInTheDefaultLanguageForAProductAtTheUpgradeVersion) {
    test::ScopedProduct notes;
    ASSERT_TRUE(notes.Install(samples::NotesEn1_1));
    const test::WatchedRun run = Launch();
    ASSERT_EQ(run.boxes.size(), 1u) << Describe(run);
    ExpectBox(run.boxes[0], {DefaultCatalogueLanguage(), messages::AlreadyUpToDate,
                             messages::TitleUnnecessary, L"Tessaro Notes", test::BoxIcon::Stop});
    EXPECT_TRUE(LeftInTmp().empty()) << "the patch file is deleted at the normal end";
    EXPECT_TRUE(test::ListProductPatches(samples::NotesEn1_1.productCode).empty());
}

TEST_F(EndToEnd, ReportsAVersionItDoesNotServeInTheProductsLanguage) {
    test::ScopedProduct notes;
    ASSERT_TRUE(notes.Install(samples::NotesJa0_9));
    const test::WatchedRun run = Launch();
    ASSERT_EQ(run.boxes.size(), 1u) << Describe(run);
    ExpectBox(run.boxes[0], {1041, messages::VersionNotTargeted, messages::TitleError,
                             L"Tessaro Notes JA", test::BoxIcon::Stop});
    EXPECT_EQ(Narrow(test::ReadProductVersion(samples::NotesJa0_9.productCode)), "0.9.0.0");
}

TEST_F(EndToEnd, ShowsNothingInQuietMode) {
    test::ScopedProduct notes;
    ASSERT_TRUE(notes.Install(samples::NotesJa0_9));
    const test::WatchedRun run = Launch(L"/q");
    EXPECT_TRUE(run.boxes.empty()) << Describe(run);
    EXPECT_TRUE(LeftInTmp().empty());
}

TEST_F(EndToEnd, ShowsWhatThePatchIsForInTheInfoBoxAlsoWhenQuiet) {
    const std::wstring expected = std::wstring(L"Products:\n") + samples::NotesEn.productCode +
                                  L"\n" + samples::NotesDe.productCode + L"\n" +
                                  samples::NotesJa.productCode +
                                  L"\nTarget:\n\t1.0.0.0,\nUpgrade:\n\t1.1.0.0";
    for (const wchar_t* arguments : {L"/i", L"/q /i"}) {
        const test::WatchedRun run = Launch(arguments);
        ASSERT_EQ(run.boxes.size(), 1u) << Narrow(arguments) << "\n" << Describe(run);
        EXPECT_EQ(Narrow(run.boxes[0].title), "Info");
        EXPECT_EQ(test::DescribeDifference(expected, run.boxes[0].text), "") << Narrow(arguments);
        EXPECT_STREQ(test::BoxIconName(run.boxes[0].icon), "exclamation");
        ASSERT_EQ(run.boxes[0].buttons.size(), 1u);
        EXPECT_EQ(run.boxes[0].buttons[0].id, IDOK);
    }
    EXPECT_TRUE(LeftInTmp().empty()) << "the info runs leave no patch file";
    const test::WatchedRun silent = Launch(L"/qn /i");
    EXPECT_TRUE(silent.boxes.empty()) << Describe(silent);
}

// Wine's MsiConfigureProductExW answers 0 even for a patch it did not apply,
// so the message alone proves nothing: the product itself must have changed.
TEST_F(EndToEnd, AppliesThePatchForRealAndOnlyOnce) {
    test::ScopedProduct notes;
    ASSERT_TRUE(notes.Install(samples::NotesEn));
    ASSERT_EQ(Narrow(test::ReadProductVersion(samples::NotesEn.productCode)), "1.0.0.0");

    const test::WatchedRun first = Launch();
    ASSERT_EQ(first.boxes.size(), 1u) << Describe(first);
    ExpectBox(first.boxes[0], {1033, messages::PatchApplied, messages::TitleSuccess,
                               L"Tessaro Notes", test::BoxIcon::Information});
    EXPECT_EQ(Narrow(test::ReadProductVersion(samples::NotesEn.productCode)), "1.1.0.0");
    const std::vector<std::wstring> patches =
        test::ListProductPatches(samples::NotesEn.productCode);
    ASSERT_EQ(patches.size(), 1u);
    EXPECT_EQ(Narrow(patches[0]), Narrow(SamplePatchCode));
    EXPECT_TRUE(LeftInTmp().empty()) << "the patch file is deleted at the normal end";

    const test::WatchedRun second = Launch();
    ASSERT_EQ(second.boxes.size(), 1u) << Describe(second);
    ExpectBox(second.boxes[0], {DefaultCatalogueLanguage(), messages::AlreadyUpToDate,
                                messages::TitleUnnecessary, L"Tessaro Notes", test::BoxIcon::Stop});
    EXPECT_EQ(test::ListProductPatches(samples::NotesEn.productCode).size(), 1u)
        << "nothing applied twice";
}

// Run with LC_ALL=de_DE.UTF-8 (a ctest entry of its own): under Wine each
// process takes its user locale and UI language from the locale variables of
// the Unix environment it starts with, which PatchLauncher inherits from this
// process; LC_ALL in the Windows environment block passed to CreateProcessW
// is not used.
class GermanUser : public EndToEnd {
  protected:
    void SetUp() override {
        ASSERT_EQ(GetUserDefaultLCID(), 1031u) << "run with LC_ALL=de_DE.UTF-8";
        ASSERT_EQ(GetUserDefaultUILanguage(), 1031u) << "run with LC_ALL=de_DE.UTF-8";
    }
};

TEST_F(GermanUser, GetsNoProductInGerman) {
    const test::WatchedRun run = Launch();
    ASSERT_EQ(run.boxes.size(), 1u) << Describe(run);
    ExpectBox(run.boxes[0],
              {1031, messages::NoProductFound, messages::TitleError, nullptr, test::BoxIcon::Stop});
}

TEST_F(GermanUser, GetsTheJapaneseProductsVersionMessageInJapanese) {
    test::ScopedProduct notes;
    ASSERT_TRUE(notes.Install(samples::NotesJa0_9));
    const test::WatchedRun run = Launch();
    ASSERT_EQ(run.boxes.size(), 1u) << Describe(run);
    ExpectBox(run.boxes[0], {1041, messages::VersionNotTargeted, messages::TitleError,
                             L"Tessaro Notes JA", test::BoxIcon::Stop});
}

TEST_F(GermanUser, GetsTheClosingUpToDateInGerman) {
    test::ScopedProduct notes;
    ASSERT_TRUE(notes.Install(samples::NotesEn1_1));
    const test::WatchedRun run = Launch();
    ASSERT_EQ(run.boxes.size(), 1u) << Describe(run);
    ExpectBox(run.boxes[0], {1031, messages::AlreadyUpToDate, messages::TitleUnnecessary,
                             L"Tessaro Notes", test::BoxIcon::Stop});
}

// The installer reads PATCH as a ";"-separated list: from a temporary folder
// whose name has ";", the patch must still reach the product for real.
TEST_F(EndToEnd, AppliesThePatchFromATemporaryFolderWhoseNameHasASemicolon) {
    const std::wstring folder = scratch_.file(L"tmp;dir");
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    test::ScopedProduct notes;
    ASSERT_TRUE(notes.Install(samples::NotesEn));

    const test::WatchedRun run = LaunchProgram(PATCH_LAUNCHER_EXE, L"", folder);
    ASSERT_EQ(run.boxes.size(), 1u) << Describe(run);
    if (run.boxes[0].text.find(L"123") != std::wstring::npos) {
        // The volume gives no short name without ";": nothing was applied.
        ExpectBox(run.boxes[0], {1033, messages::InstallFailed, messages::TitleError, L"123",
                                 test::BoxIcon::Stop});
        EXPECT_EQ(Narrow(test::ReadProductVersion(samples::NotesEn.productCode)), "1.0.0.0");
        return;
    }
    ExpectBox(run.boxes[0], {1033, messages::PatchApplied, messages::TitleSuccess, L"Tessaro Notes",
                             test::BoxIcon::Information});
    EXPECT_EQ(Narrow(test::ReadProductVersion(samples::NotesEn.productCode)), "1.1.0.0");
    EXPECT_TRUE(test::ListDirectory(folder).empty()) << "the patch file is deleted at the end";
}

// Real products write their versions in three parts (major.minor.build); a
// patch from 2.1.30 to 2.1.31 reaches a product at 2.1.30, for real.
TEST_F(EndToEnd, AppliesAPatchBetweenThreePartVersionsAndThenFindsTheProductUpToDate) {
    test::ScopedProduct tally;
    ASSERT_TRUE(tally.Install(samples::TallyEn2_1_30));
    ASSERT_EQ(Narrow(test::ReadProductVersion(samples::TallyEn2_1_30.productCode)), "2.1.30");

    const test::WatchedRun first = LaunchProgram(TALLY_LAUNCHER_EXE);
    ASSERT_EQ(first.boxes.size(), 1u) << Describe(first);
    ExpectBox(first.boxes[0], {1033, messages::PatchApplied, messages::TitleSuccess,
                               L"Tessaro Tally", test::BoxIcon::Information});
    EXPECT_EQ(Narrow(test::ReadProductVersion(samples::TallyEn2_1_30.productCode)), "2.1.31")
        << "the service must have applied the patch, not only answered 0";
    EXPECT_TRUE(LeftInTmp().empty()) << "the patch file is deleted at the normal end";

    const test::WatchedRun second = LaunchProgram(TALLY_LAUNCHER_EXE);
    ASSERT_EQ(second.boxes.size(), 1u) << Describe(second);
    ExpectBox(second.boxes[0], {DefaultCatalogueLanguage(), messages::AlreadyUpToDate,
                                messages::TitleUnnecessary, L"Tessaro Tally", test::BoxIcon::Stop});
}

// 2.1.99 is not 2.1.30: the patch is not for it, and the product stays as it was.
TEST_F(EndToEnd, ReportsAThreePartVersionThatDiffersOnlyInItsLastPartAsNotServed) {
    test::ScopedProduct tally;
    ASSERT_TRUE(tally.Install(samples::TallyEn2_1_99));
    const test::WatchedRun run = LaunchProgram(TALLY_LAUNCHER_EXE);
    ASSERT_EQ(run.boxes.size(), 1u) << Describe(run);
    ExpectBox(run.boxes[0], {1033, messages::VersionNotTargeted, messages::TitleError,
                             L"Tessaro Tally", test::BoxIcon::Stop});
    EXPECT_EQ(Narrow(test::ReadProductVersion(samples::TallyEn2_1_99.productCode)), "2.1.99");
    EXPECT_TRUE(test::ListProductPatches(samples::TallyEn2_1_99.productCode).empty());
}

// A small update ("1.0.0.0;1.0.0.0,") for Tessaro Draw 1.0.0.0, written at
// test time: its transforms leave the version as it is, so only the service's
// record of the patch, asked in the product's own installation (per-machine,
// or per-user with the user's SID), tells a patched product from one that is
// not.
TEST_F(EndToEnd, AppliesASmallUpdateOnceAndThenFindsTheProductUpToDate) {
    const wchar_t hotfixCode[] = L"{6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8B07}";
    patchwriter::PatchDefinition hotfix;
    hotfix.targets = {{samples::DrawEn.productCode, samples::DrawEn.upgradeCode, L"1033", L""}};
    hotfix.patchCode = hotfixCode;
    hotfix.fromVersion = samples::DrawEn.version;
    hotfix.toVersion = samples::DrawEn.version;
    test::ScratchDirectory work;
    std::wstring error;
    ASSERT_TRUE(patchwriter::WritePatchPackage(work.file(L"hotfix.msp"), hotfix, error))
        << Narrow(error);
    const std::wstring launcher = LauncherAround(work, L"hotfix.msp");
    for (const wchar_t* properties : {L"", L"ALLUSERS=\"\""}) {
        SCOPED_TRACE(properties[0] == L'\0' ? "per-machine" : "per-user");
        test::ScopedProduct draw;
        ASSERT_TRUE(draw.Install(samples::DrawEn, properties));
        const std::wstring log = work.file(L"hotfix.log");
        DeleteFileW(log.c_str());

        const test::WatchedRun first = LaunchProgram(launcher.c_str(), L"/log " + test::Quote(log));
        ASSERT_EQ(first.boxes.size(), 1u) << Describe(first);
        ExpectBox(first.boxes[0], {1033, messages::PatchApplied, messages::TitleSuccess,
                                   L"Tessaro Draw", test::BoxIcon::Information});
        const std::vector<std::wstring> patches =
            test::ListProductPatches(samples::DrawEn.productCode);
        ASSERT_EQ(patches.size(), 1u) << "the service must have applied it, not only answered 0";
        EXPECT_EQ(Narrow(patches[0]), Narrow(hotfixCode));
        EXPECT_EQ(Narrow(test::ReadProductVersion(samples::DrawEn.productCode)), "1.0.0.0");

        const test::WatchedRun second =
            LaunchProgram(launcher.c_str(), L"/log " + test::Quote(log));
        ASSERT_EQ(second.boxes.size(), 1u) << Describe(second);
        ExpectBox(second.boxes[0],
                  {DefaultCatalogueLanguage(), messages::AlreadyUpToDate,
                   messages::TitleUnnecessary, L"Tessaro Draw", test::BoxIcon::Stop});
        EXPECT_EQ(test::ListProductPatches(samples::DrawEn.productCode).size(), 1u);
        const std::vector<std::uint8_t> bytes = test::ReadFileBytes(log);
        const std::string text(bytes.begin(), bytes.end());
        const std::string asked = properties[0] == L'\0' ? ", asked per-machine: applied"
                                                         : ", asked per-user unmanaged for S-1-";
        EXPECT_NE(text.find(asked), std::string::npos) << text;
    }
}

// Without a patch code in PID_REVNUMBER the launcher cannot ask about the
// patch, and the version decides, as for any other patch: "up to date".
TEST_F(EndToEnd, DecidesASmallUpdateWithoutAPatchCodeByTheVersion) {
    test::ScratchDirectory work;
    patchwriter::SummaryInformation summary;
    summary.SetText(kit::PropertyTemplate, samples::DrawEn.productCode);
    summary.SetText(kit::PropertyKeywords, L"1.0.0.0;1.0.0.0,");
    summary.SetText(kit::PropertyRevNumber, L"Hotfix 7");
    ASSERT_TRUE(patchwriter::WriteSummaryPackage(work.file(L"hotfix.msp"), summary));
    const std::wstring launcher = LauncherAround(work, L"hotfix.msp");
    test::ScopedProduct draw;
    ASSERT_TRUE(draw.Install(samples::DrawEn));

    const test::WatchedRun run = LaunchProgram(launcher.c_str());
    ASSERT_EQ(run.boxes.size(), 1u) << Describe(run);
    ExpectBox(run.boxes[0], {DefaultCatalogueLanguage(), messages::AlreadyUpToDate,
                             messages::TitleUnnecessary, L"Tessaro Draw", test::BoxIcon::Stop});
    EXPECT_TRUE(test::ListProductPatches(samples::DrawEn.productCode).empty());
}

std::string ReadText(const std::wstring& path) {
    const std::vector<std::uint8_t> bytes = test::ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

// The typical silent deployment: no box, exit code 0, a log that says what
// was done, in a folder the run makes, and the installer service's own log of
// the apply beside it.
TEST_F(EndToEnd, ReportsASilentApplyThroughExitCodeAndLogs) {
    test::ScopedProduct notes;
    ASSERT_TRUE(notes.Install(samples::NotesEn));
    test::ScratchDirectory logs;
    const std::wstring log = logs.file(L"new\\folder\\sp.log");

    const test::WatchedRun run = Launch(L"/qn /norestart /exitcode /log " + test::Quote(log), 0);
    EXPECT_TRUE(run.boxes.empty()) << Describe(run);
    EXPECT_EQ(Narrow(test::ReadProductVersion(samples::NotesEn.productCode)), "1.1.0.0");

    const std::string text = ReadText(log);
    const std::string product = Narrow(samples::NotesEn.productCode);
    for (const std::string& event : std::vector<std::string>{
             "product " + product + " \"Tessaro Notes\", language 1033, installed version " +
                 "1.0.0.0: applying the patch",
             "installer: MsiConfigureProductExW(" + product + ", 0, 5, PATCH=",
             "REBOOTPROMPT=S REBOOT=ReallySuppress) returned 0\r\n",
             "installer: patch " + Narrow(SamplePatchCode) + " on " + product +
                 ", asked per-machine: applied (MsiGetPatchInfoExW returned 0)\r\n",
             "message 301 in language 1033 not shown: silent mode\r\n",
             "installer log: " + Narrow(log) + ".msi.log (MsiEnableLogW returned 0)\r\n",
             std::string(" exit code 0\r\n")})
        EXPECT_NE(text.find(event), std::string::npos) << "missing: " << event << "\n" << text;
    EXPECT_FALSE(ReadText(log + L".msi.log").empty()) << "the installer service's own log";
}

// "Uninstallable" of the applied patch on the per-machine product, as the
// service decided it when it applied the patch; empty when it says nothing.
std::wstring ReadUninstallable(const std::wstring& productCode, const std::wstring& patchCode) {
    wchar_t value[16] = {}; // "0" or "1", terminator included
    DWORD length = 16;
    if (MsiGetPatchInfoExW(patchCode.c_str(), productCode.c_str(), nullptr,
                           MSIINSTALLCONTEXT_MACHINE, INSTALLPROPERTY_UNINSTALLABLE, value,
                           &length) != ERROR_SUCCESS)
        return std::wstring();
    return value;
}

// The sample patch is removable. Windows takes it out and repairs the product
// back to 1.0.0.0; Wine's service answers 0 and removes nothing, which the
// launcher must report as the failure it is. Either way the box, the exit
// code and the product must tell the same story, and the patch file goes.
TEST_F(EndToEnd, RemovesTheSamplePatchOrSaysTruthfullyThatItIsStillApplied) {
    test::ScopedProduct notes;
    ASSERT_TRUE(notes.Install(samples::NotesEn));
    Launch();
    ASSERT_EQ(test::ListProductPatches(samples::NotesEn.productCode).size(), 1u);
    EXPECT_EQ(Narrow(ReadUninstallable(samples::NotesEn.productCode, SamplePatchCode)), "1");
    test::ScratchDirectory logs;
    const std::wstring log = logs.file(L"uninstall.log");

    const test::WatchedRun run = Launch(L"/uninstall /log " + test::Quote(log));
    ASSERT_EQ(run.boxes.size(), 1u) << Describe(run);
    const bool removed = test::ListProductPatches(samples::NotesEn.productCode).empty();
    const std::string text = ReadText(log);
    const std::string product = Narrow(samples::NotesEn.productCode);
    EXPECT_NE(text.find("installer: MsiRemovePatchesW(" + Narrow(SamplePatchCode) + ", " + product +
                        ", INSTALLTYPE_SINGLE_INSTANCE, REBOOTPROMPT=S "
                        "REBOOT=ReallySuppress) returned "),
              std::string::npos)
        << text;
    if (removed) {
        ExpectBox(run.boxes[0], {1033, messages::PatchRemoved, messages::TitleRemoval,
                                 L"Tessaro Notes", test::BoxIcon::Information});
        EXPECT_EQ(Narrow(test::ReadProductVersion(samples::NotesEn.productCode)), "1.0.0.0");
    } else {
        ExpectBox(run.boxes[0], {1033, messages::InstallFailed, messages::TitleError, L"1603",
                                 test::BoxIcon::Stop});
        EXPECT_EQ(Narrow(test::ReadProductVersion(samples::NotesEn.productCode)), "1.1.0.0");
        EXPECT_NE(text.find("but the patch is still applied"), std::string::npos) << text;
    }
    EXPECT_TRUE(LeftInTmp().empty()) << "the patch file is deleted at the end";

    // Silent, as a management tool runs it: the exit code says the same.
    const test::WatchedRun silent =
        Launch(L"/uninstall /qn /norestart /exitcode", removed ? 0 : ERROR_INSTALL_FAILURE);
    EXPECT_TRUE(silent.boxes.empty()) << Describe(silent);
    EXPECT_EQ(test::ListProductPatches(samples::NotesEn.productCode).empty(), removed);
    EXPECT_TRUE(LeftInTmp().empty());
}

// A patch without MsiPatchMetadata AllowRemoval 1: the service marks it not
// removable when it applies it, and "/uninstall" does not ask for a removal
// that the service would refuse only after starting a repair.
TEST_F(EndToEnd, DoesNotAskToRemoveAPatchTheServiceMarkedNotRemovable) {
    const wchar_t fixedCode[] = L"{6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8B0A}";
    for (const wchar_t* allowRemoval : {L"0", L""}) {
        SCOPED_TRACE(allowRemoval[0] == L'\0' ? "no MsiPatchMetadata" : "AllowRemoval 0");
        patchwriter::PatchDefinition definition;
        definition.targets = {{samples::NotesEn.productCode, samples::NotesEn.upgradeCode,
                               samples::NotesEn.language, L""}};
        definition.patchCode = fixedCode;
        definition.fromVersion = L"1.0.0.0";
        definition.toVersion = L"1.1.0.0";
        definition.allowRemoval = allowRemoval;
        test::ScratchDirectory work;
        std::wstring error;
        ASSERT_TRUE(patchwriter::WritePatchPackage(work.file(L"fixed.msp"), definition, error))
            << Narrow(error);
        const std::wstring launcher = LauncherAround(work, L"fixed.msp");
        test::ScopedProduct notes;
        ASSERT_TRUE(notes.Install(samples::NotesEn));
        LaunchProgram(launcher.c_str());
        ASSERT_EQ(test::ListProductPatches(samples::NotesEn.productCode).size(), 1u);
        EXPECT_EQ(Narrow(ReadUninstallable(samples::NotesEn.productCode, fixedCode)), "0");
        const std::wstring log = work.file(L"uninstall.log");

        const test::WatchedRun run =
            LaunchProgram(launcher.c_str(), L"/uninstall /exitcode /log " + test::Quote(log),
                          std::wstring(), ERROR_PATCH_REMOVAL_UNSUPPORTED);
        ASSERT_EQ(run.boxes.size(), 1u) << Describe(run);
        ExpectBox(run.boxes[0], {1033, messages::InstallFailed, messages::TitleError, L"1646",
                                 test::BoxIcon::Stop});
        const std::string text = ReadText(log);
        EXPECT_NE(text.find("the patch is not marked removable (MsiPatchMetadata AllowRemoval)"),
                  std::string::npos)
            << text;
        EXPECT_EQ(text.find("MsiRemovePatchesW"), std::string::npos) << text;
        EXPECT_EQ(Narrow(test::ReadProductVersion(samples::NotesEn.productCode)), "1.1.0.0");
        EXPECT_EQ(test::ListProductPatches(samples::NotesEn.productCode).size(), 1u);
        EXPECT_TRUE(LeftInTmp().empty());
    }
}

// No product has the patch: one box that says there is nothing to remove,
// exit code 0, and no removal asked for.
TEST_F(EndToEnd, SaysThereIsNothingToRemoveWhereNoProductHasThePatch) {
    test::ScopedProduct notes;
    ASSERT_TRUE(notes.Install(samples::NotesEn));
    const test::WatchedRun run = Launch(L"/uninstall /exitcode");
    ASSERT_EQ(run.boxes.size(), 1u) << Describe(run);
    ExpectBox(run.boxes[0], {DefaultCatalogueLanguage(), messages::NotInstalledOn,
                             messages::TitleRemoval, L"Tessaro Notes", test::BoxIcon::Information});
    EXPECT_EQ(Narrow(test::ReadProductVersion(samples::NotesEn.productCode)), "1.0.0.0");
    EXPECT_TRUE(LeftInTmp().empty());
    notes.Uninstall();

    const test::WatchedRun none = Launch(L"/uninstall /exitcode");
    ASSERT_EQ(none.boxes.size(), 1u) << Describe(none);
    ExpectBox(none.boxes[0], {DefaultCatalogueLanguage(), messages::NothingToRemove,
                              messages::TitleRemoval, nullptr, test::BoxIcon::Information});
    EXPECT_TRUE(LeftInTmp().empty());
}

TEST_F(EndToEnd, ExitsWithPatchTargetNotFoundWhenNothingIsInstalled) {
    const test::WatchedRun run = Launch(L"/q /exitcode", ERROR_PATCH_TARGET_NOT_FOUND);
    EXPECT_TRUE(run.boxes.empty()) << Describe(run);
    Launch(L"/q", 0);
}

// A launcher around a patch whose keywords have no ";".
TEST_F(EndToEnd, ExitsWith4316ForUnusableKeywords) {
    test::ScratchDirectory work;
    patchwriter::SummaryInformation summary;
    summary.SetText(kit::PropertyTemplate, samples::NotesEn.productCode);
    summary.SetText(kit::PropertyKeywords, L"1.1.0.0");
    ASSERT_TRUE(patchwriter::WriteSummaryPackage(work.file(L"bad.msp"), summary));
    const std::wstring launcher = LauncherAround(work, L"bad.msp");

    const std::wstring log = work.file(L"sp.log");
    const test::WatchedRun run =
        LaunchProgram(launcher.c_str(), L"/q /exitcode /log " + test::Quote(log), L"", 4316);
    EXPECT_TRUE(run.boxes.empty()) << Describe(run);
    const std::string text = ReadText(log);
    EXPECT_NE(text.find("could not be read, error 4316\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find(" exit code 4316\r\n"), std::string::npos) << text;

    const test::WatchedRun loud = LaunchProgram(launcher.c_str());
    ASSERT_EQ(loud.boxes.size(), 1u) << Describe(loud);
    EXPECT_NE(loud.boxes[0].text.find(L"4316"), std::wstring::npos) << Describe(loud);
}

// A window station and desktop that no one sees, as a service or a management
// agent has; removed when the value goes.
class HiddenDesktop {
  public:
    HiddenDesktop() {
        station_ = CreateWindowStationW(L"PatchLauncherTests", 0, WINSTA_ALL_ACCESS, nullptr);
        if (station_ == nullptr)
            return;
        // A desktop is made in the calling process's window station.
        const HWINSTA own = GetProcessWindowStation();
        if (SetProcessWindowStation(station_)) {
            desktop_ = CreateDesktopW(L"Hidden", nullptr, nullptr, 0, GENERIC_ALL, nullptr);
            SetProcessWindowStation(own);
        }
    }
    ~HiddenDesktop() {
        if (desktop_ != nullptr)
            CloseDesktop(desktop_);
        if (station_ != nullptr)
            CloseWindowStation(station_);
    }
    HiddenDesktop(const HiddenDesktop&) = delete;
    HiddenDesktop& operator=(const HiddenDesktop&) = delete;

    HDESK desktop() const { return desktop_; }
    std::wstring name() const { return L"PatchLauncherTests\\Hidden"; }

  private:
    HWINSTA station_ = nullptr;
    HDESK desktop_ = nullptr;
};

// The message-box windows (class #32770) of process `processId` on `desktop`.
std::size_t CountBoxes(HDESK desktop, DWORD processId) {
    struct Search {
        DWORD processId;
        std::size_t boxes;
    } search = {processId, 0};
    EnumDesktopWindows(
        desktop,
        [](HWND window, LPARAM parameter) -> BOOL {
            auto* found = reinterpret_cast<Search*>(parameter);
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            wchar_t className[16] = {}; // 16 characters, terminator included
            GetClassNameW(window, className, 16);
            if (owner == found->processId && std::wstring(className) == L"#32770")
                ++found->boxes;
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.boxes;
}

// Started by a service or a management agent, without "/q": no one could close
// a box there, so the run asks for none, applies the patch and ends by itself.
TEST_F(EndToEnd, AppliesWithoutAskingForABoxOnADesktopNoOneSees) {
    test::ScopedProduct notes;
    ASSERT_TRUE(notes.Install(samples::NotesEn));
    HiddenDesktop hidden;
    ASSERT_NE(hidden.desktop(), nullptr) << GetLastError();
    test::ScratchDirectory logs;
    const std::wstring log = logs.file(L"sp.log");

    std::atomic<bool> ended{false};
    std::atomic<std::size_t> boxes{0};
    std::thread watcher;
    const test::ProcessResult run = test::RunProcess(
        test::Quote(test::FullPath(PATCH_LAUNCHER_EXE)) + L" /exitcode /log " + test::Quote(log),
        scratch_.path(), 60000, {L"TMP=" + scratch_.path()},
        [&](DWORD processId) {
            watcher = std::thread([&, processId] {
                while (!ended) {
                    boxes = std::max<std::size_t>(boxes, CountBoxes(hidden.desktop(), processId));
                    Sleep(20);
                }
            });
        },
        hidden.name());
    ended = true;
    if (watcher.joinable())
        watcher.join();
    const std::string text = ReadText(log);
    ASSERT_TRUE(run.started);
    EXPECT_FALSE(run.timedOut) << "it waited for a box no one can close\n" << text;
    EXPECT_EQ(run.exitCode, 0u) << text;
    EXPECT_EQ(boxes, 0u) << "boxes asked for on the hidden desktop";
    EXPECT_EQ(Narrow(test::ReadProductVersion(samples::NotesEn.productCode)), "1.1.0.0");
    for (const char* event : {"no interactive desktop", "message 301 in language 1033 not shown: "
                                                        "no desktop\r\n"})
        EXPECT_NE(text.find(event), std::string::npos) << "missing: " << event << "\n" << text;
    EXPECT_TRUE(LeftInTmp().empty());
}

// Wine's installer answers 3010 for a product whose patch schedules a restart.
// The pass is run in this process, so that the restart call meets a stand-in:
// both products are patched and both boxes seen, then the restart is asked
// for once. The products stay behind (see below), in a prefix of its own.
TEST_F(EndToEnd, ThrowawayRestartsOnceAfterEveryProductAndBox) {
    ASSERT_TRUE(test::InstallProduct(samples::NotesEn));
    ASSERT_TRUE(test::InstallProduct(samples::DrawEn));
    test::ScratchDirectory work;
    patchwriter::PatchDefinition definition;
    for (const samples::SampleProduct& product : {samples::NotesEn, samples::DrawEn}) {
        patchwriter::PatchTarget target;
        target.productCode = product.productCode;
        target.upgradeCode = product.upgradeCode;
        target.language = product.language;
        definition.targets.push_back(target);
    }
    definition.targets[0].scheduleReboot = true;
    definition.patchCode = L"{6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8B09}";
    definition.fromVersion = L"1.0.0.0";
    definition.toVersion = L"1.1.0.0";
    std::wstring error;
    ASSERT_TRUE(patchwriter::WritePatchPackage(work.file(L"restart.msp"), definition, error))
        << Narrow(error);
    const std::wstring launcher = work.file(L"RestartLauncher.exe");
    ASSERT_TRUE(test::CopyLauncherWithPatch(test::FullPath(PATCH_LAUNCHER_EXE),
                                            work.file(L"restart.msp"), launcher));

    const LoadedModule module(LoadLibraryExW(
        launcher.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    ASSERT_TRUE(module) << GetLastError();
    const HINSTANCE own = ModuleInstance;
    ModuleInstance = module.get();
    const test::ScopedEnvironment tmp(L"TMP", scratch_.path().c_str());
    test::MessageBoxRecorder boxes;
    std::size_t boxesAtRestart = 0;
    std::size_t filesAtRestart = 0;
    test::RestartRecorder restarts([&] {
        boxesAtRestart = boxes.boxes().size();
        filesAtRestart = LeftInTmp().size();
    });
    const int exitCode = RunLauncher(L"RestartLauncher.exe /exitcode");
    ModuleInstance = own;

    EXPECT_EQ(exitCode, ERROR_SUCCESS_REBOOT_INITIATED);
    ASSERT_EQ(boxes.boxes().size(), 2u);
    EXPECT_EQ(Narrow(boxes.boxes()[0].text),
              Narrow(test::Substitute(test::ExpectedText(1033, messages::PatchApplied),
                                      L"Tessaro Notes")));
    EXPECT_EQ(Narrow(boxes.boxes()[1].text),
              Narrow(test::Substitute(test::ExpectedText(1033, messages::PatchApplied),
                                      L"Tessaro Draw")));
    EXPECT_EQ(Narrow(test::ReadProductVersion(samples::NotesEn.productCode)), "1.1.0.0");
    EXPECT_EQ(Narrow(test::ReadProductVersion(samples::DrawEn.productCode)), "1.1.0.0");
    ASSERT_EQ(restarts.requests().size(), 1u);
    EXPECT_TRUE(restarts.requests()[0].reboot);
    EXPECT_EQ(boxesAtRestart, 2u) << "the restart comes after the last box";
    EXPECT_EQ(filesAtRestart, 0u) << "and after the patch file is gone";
}

// Wine's installer service drops a patch's registration when the first of the
// products it was applied to is removed, so the second can then no longer be
// removed (1647). This test leaves both behind, in a prefix of its own.
TEST_F(EndToEnd, ThrowawayReportsEachProductInItsOwnLanguage) {
    ASSERT_TRUE(test::InstallProduct(samples::NotesDe));
    ASSERT_TRUE(test::InstallProduct(samples::NotesJa));

    const test::WatchedRun run = Launch();
    ASSERT_EQ(run.boxes.size(), 2u) << Describe(run);
    ExpectBox(run.boxes[0], {1031, messages::PatchApplied, messages::TitleSuccess,
                             L"Tessaro Notizen", test::BoxIcon::Information});
    ExpectBox(run.boxes[1], {1041, messages::PatchApplied, messages::TitleSuccess,
                             L"Tessaro Notes JA", test::BoxIcon::Information});
    EXPECT_EQ(Narrow(test::ReadProductVersion(samples::NotesDe.productCode)), "1.1.0.0");
    EXPECT_EQ(Narrow(test::ReadProductVersion(samples::NotesJa.productCode)), "1.1.0.0");
}

} // namespace
