// The info box, with the installer service replaced by a scripted double and
// the box read and closed by a watcher thread.
#include "common/program_state.h"
#include "launcher/launcher.h"
#include "messages/messages.h"
#include "tests/support/installer_double.h"
#include "tests/support/message_box_recorder.h"
#include "tests/support/test_support.h"
#include "tools/box_driver/box_watcher.h"

#include <gtest/gtest.h>

namespace {

using test::Installer;
using test::Narrow;

class ShowPatchInfoTest : public testing::Test {
  protected:
    void SetUp() override {
        test::ResetInstaller();
        Installer().anyPathIsPackage = true;
        TheRunSettings = RunSettings();
    }
    void TearDown() override { TheRunSettings = RunSettings(); }

    test::ObservedBox ShowInfo() {
        test::BoxWatcher watcher;
        ShowPatchInfo();
        std::vector<test::ObservedBox> boxes = watcher.Finish();
        EXPECT_EQ(boxes.size(), 1u);
        return boxes.empty() ? test::ObservedBox() : boxes[0];
    }

    std::string InfoTextFor(const std::wstring& products, const std::wstring& keywords) {
        Installer().anyPackage.properties[7] = products;
        Installer().anyPackage.properties[5] = keywords;
        return Narrow(ShowInfo().text);
    }

    test::ScratchDirectory scratch_;
    test::ScopedEnvironment tmp_{L"TMP", scratch_.path().c_str()};
};

struct InfoCase {
    const wchar_t* products;
    const wchar_t* keywords;
    const char* text;
};

class InfoTextTest : public ShowPatchInfoTest, public testing::WithParamInterface<InfoCase> {};

TEST_P(InfoTextTest, PutsEachProductOnALineAndShowsTheVersionsAsStored) {
    EXPECT_EQ(InfoTextFor(GetParam().products, GetParam().keywords), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, InfoTextTest,
    testing::Values(InfoCase{L"A;B;C", L"2.0;1.0,1.5,",
                             "Products:\nA\nB\nC\nTarget:\n\t1.0,1.5,\nUpgrade:\n\t2.0"},
                    InfoCase{L"A", L"2.0;1.0,", "Products:\nA\nTarget:\n\t1.0,\nUpgrade:\n\t2.0"},
                    // A lone ";" at the very start stays; with more, every one becomes a line feed.
                    InfoCase{L";A", L"2.0;", "Products:\n;A\nTarget:\n\t\nUpgrade:\n\t2.0"},
                    InfoCase{L";A;B", L"2.0;", "Products:\n\nA\nB\nTarget:\n\t\nUpgrade:\n\t2.0"},
                    InfoCase{L"A;", L"2.0;1.0;x,",
                             "Products:\nA\n\nTarget:\n\t1.0;x,\nUpgrade:\n\t2.0"},
                    // Keywords without a usable ";" read as nothing.
                    InfoCase{L"A", L"2.0", "Products:\nA\nTarget:\n\t\nUpgrade:\n\t"}));

TEST_F(ShowPatchInfoTest, ShowsTheCaptionsAloneWhenThePatchCannotBeRead) {
    Installer().anyPathIsPackage = false;
    EXPECT_EQ(Narrow(ShowInfo().text), "Products:\n\nTarget:\n\t\nUpgrade:\n\t");
}

TEST_F(ShowPatchInfoTest, ShowsAnExclamationBoxTitledInfoEvenInQuietMode) {
    QuietMode = true;
    Installer().anyPackage.properties[7] = L"A";
    Installer().anyPackage.properties[5] = L"2.0;1.0,";
    const test::ObservedBox box = ShowInfo();
    QuietMode = false;
    EXPECT_EQ(Narrow(box.title), "Info");
    EXPECT_STREQ(test::BoxIconName(box.icon), "exclamation");
    ASSERT_EQ(box.buttons.size(), 1u);
    EXPECT_EQ(box.buttons[0].id, IDOK);
    EXPECT_FALSE(box.owned);
}

TEST_F(ShowPatchInfoTest, AsksForAnExclamationOkBoxTopmostAndForegroundWithoutOwner) {
    Installer().anyPackage.properties[7] = L"A";
    Installer().anyPackage.properties[5] = L"2.0;1.0,";
    test::MessageBoxRecorder recorder;
    ShowPatchInfo();
    ASSERT_EQ(recorder.boxes().size(), 1u);
    EXPECT_EQ(recorder.boxes()[0].style, messages::StyleInfoBox)
        << "style 0x" << std::hex << recorder.boxes()[0].style;
    EXPECT_EQ(recorder.boxes()[0].owner, nullptr);
    EXPECT_EQ(Narrow(recorder.boxes()[0].title), "Info");
}

TEST_F(ShowPatchInfoTest, ReadsEachPropertyOnceClosesItsHandlesAndDeletesThePatchFile) {
    InfoTextFor(L"A", L"2.0;1.0,");
    const std::vector<std::wstring> reads = Installer().CallsNamed(L"MsiSummaryInfoGetPropertyW");
    ASSERT_EQ(reads.size(), 2u);
    EXPECT_EQ(Narrow(reads[0]), "MsiSummaryInfoGetPropertyW(7, 2048)");
    EXPECT_EQ(Narrow(reads[1]), "MsiSummaryInfoGetPropertyW(5, 2048)");
    EXPECT_TRUE(test::ListDirectory(scratch_.path()).empty()) << "nothing left in TMP";
    EXPECT_EQ(Installer().handlesOpened, Installer().handlesClosed);
}

// Silent runs and sessions without a desktop: no one could close the box.
TEST_F(ShowPatchInfoTest, AsksForNoBoxWithoutInfoBoxes) {
    Installer().anyPackage.properties[7] = L"A";
    Installer().anyPackage.properties[5] = L"2.0;1.0,";
    TheRunSettings.infoBoxes = false;
    test::MessageBoxRecorder recorder;
    ShowPatchInfo();
    ShowHelp();
    EXPECT_TRUE(recorder.boxes().empty()) << recorder.boxes().size() << " boxes";
    EXPECT_TRUE(test::ListDirectory(scratch_.path()).empty());
}

TEST_F(ShowPatchInfoTest, ListsEverySwitchInAnInformationBoxTitledWithTheProgramsName) {
    test::MessageBoxRecorder recorder;
    ShowHelp();
    ASSERT_EQ(recorder.boxes().size(), 1u);
    EXPECT_EQ(recorder.boxes()[0].style, messages::StyleHelpBox);
    EXPECT_EQ(recorder.boxes()[0].owner, nullptr);
    EXPECT_EQ(Narrow(recorder.boxes()[0].title), "flow_tests");
    const std::string text = Narrow(recorder.boxes()[0].text);
    for (const char* item :
         {"flow_tests.exe", "/q\t", "/qn, /quiet\t", "/norestart\t", "/log PATH\t", "/exitcode\t",
          "/e [PATH]\t", "/i\t", "/pi\t", "/?, /h, /help\t"})
        EXPECT_NE(text.find(item), std::string::npos) << item << " missing from\n" << text;
}

} // namespace
