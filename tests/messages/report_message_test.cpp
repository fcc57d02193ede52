// ReportMessage seen from outside: the boxes it shows (read and closed by a
// box watcher), in which language, with which title, icon and value.
#include "common/program_state.h"
#include "messages/messages.h"
#include "tests/messages/catalogue_data.h"
#include "tests/support/test_support.h"
#include "tools/box_driver/box_watcher.h"

#include <gtest/gtest.h>

#include <malloc.h>

namespace {

using messages::StyleInformation;
using messages::StyleNoIcon;
using messages::StyleStop;

class ReportMessageTest : public testing::Test {
  protected:
    void SetUp() override {
        savedLocale_ = GetThreadLocale();
        savedUiLanguage_ = GetThreadUILanguage();
        QuietMode = false;
        CurrentProductName = L"Tessaro Sample Product";
        SetThreadLocale(1033);
    }
    void TearDown() override {
        QuietMode = false;
        CurrentProductName.clear();
        SetThreadLocale(savedLocale_);
        SetThreadUILanguage(savedUiLanguage_);
    }

    // The boxes that ReportMessage(id) shows, with `lastError` left as the
    // thread's last-error code just before the call.
    static std::vector<test::ObservedBox> Report(UINT id, DWORD lastError = 0) {
        test::BoxWatcher watcher;
        SetLastError(lastError);
        ReportMessage(id);
        return watcher.Finish();
    }

    // The one box that ReportMessage(id) shows; fails the test if it shows
    // another number of boxes.
    static test::ObservedBox ReportOne(UINT id, DWORD lastError = 0) {
        std::vector<test::ObservedBox> boxes = Report(id, lastError);
        EXPECT_EQ(boxes.size(), 1u) << "boxes shown for ID " << id;
        return boxes.empty() ? test::ObservedBox() : boxes.front();
    }

    // The box that MessageBoxW shows for these arguments, to compare with.
    static test::ObservedBox ReferenceBox(const std::wstring& text, const std::wstring& title,
                                          UINT style) {
        test::BoxWatcher watcher;
        MessageBoxW(nullptr, text.c_str(), title.c_str(), style);
        std::vector<test::ObservedBox> boxes = watcher.Finish();
        return boxes.empty() ? test::ObservedBox() : boxes.front();
    }

  private:
    LCID savedLocale_ = 0;
    LANGID savedUiLanguage_ = 0;
};

std::string Describe(const test::ObservedBox& box) {
    return test::DescribeBox(box);
}

// Everything about a box that the platform lets a watcher see, but its text.
void ExpectLooksLike(const test::ObservedBox& actual, const test::ObservedBox& reference) {
    EXPECT_EQ(test::Narrow(actual.title), test::Narrow(reference.title));
    EXPECT_EQ(test::BoxIconName(actual.icon), std::string(test::BoxIconName(reference.icon)));
    EXPECT_EQ(actual.style, reference.style);
    EXPECT_EQ(actual.exStyle, reference.exStyle);
    EXPECT_EQ(actual.topmost, reference.topmost);
    EXPECT_EQ(actual.foreground, reference.foreground);
    EXPECT_FALSE(actual.owned);
    ASSERT_EQ(actual.buttons.size(), 1u) << Describe(actual);
    EXPECT_EQ(actual.buttons[0].id, IDOK);
}

struct MessageCase {
    UINT id;
    UINT titleId;
    test::BoxIcon icon;
    UINT style;
    bool takesName;
};

constexpr MessageCase MessageCases[] = {
    {messages::InstallFailed, messages::TitleError, test::BoxIcon::Stop, StyleStop, false},
    {messages::PatchApplied, messages::TitleSuccess, test::BoxIcon::Information, StyleInformation,
     true},
    {messages::AlreadyUpToDate, messages::TitleUnnecessary, test::BoxIcon::Stop, StyleStop, true},
    {messages::NoProductFound, messages::TitleError, test::BoxIcon::Stop, StyleStop, false},
    {messages::VersionNotTargeted, messages::TitleError, test::BoxIcon::Stop, StyleStop, true},
    {messages::CommandLineIncorrect, messages::TitleError, test::BoxIcon::Stop, StyleStop, false},
    {messages::PatchListMissing, messages::TitleError, test::BoxIcon::Stop, StyleStop, false},
};

TEST_F(ReportMessageTest, ShowsEveryMessageInEveryLanguageWithItsTitleIconAndValue) {
    CurrentProductName = L"Produkt Ä 名前";
    for (LCID lcid : test::CatalogueLanguages()) {
        for (const MessageCase& message : MessageCases) {
            SCOPED_TRACE("LCID " + std::to_string(lcid) + ", ID " + std::to_string(message.id));
            SetThreadLocale(lcid);
            const test::ObservedBox box = ReportOne(message.id, 1603);
            const std::wstring format = test::ExpectedText(lcid, message.id);
            const std::wstring expected = message.id == 300 ? test::Substitute(format, L"1603")
                                          : message.takesName
                                              ? test::Substitute(format, CurrentProductName)
                                              : format;
            EXPECT_EQ(test::DescribeDifference(expected, box.text), "");
            EXPECT_EQ(test::Narrow(box.title),
                      test::Narrow(test::ExpectedText(lcid, message.titleId)));
            EXPECT_EQ(test::BoxIconName(box.icon), std::string(test::BoxIconName(message.icon)));
        }
    }
}

TEST_F(ReportMessageTest, ShowsBoxesLikeMessageBoxWithTheListedStyle) {
    for (const MessageCase& message : MessageCases) {
        SCOPED_TRACE("ID " + std::to_string(message.id));
        const test::ObservedBox box = ReportOne(message.id);
        ExpectLooksLike(box, ReferenceBox(box.text, box.title, message.style));
    }
}

TEST_F(ReportMessageTest, ShowsOnlyMessage301WithTheInformationIcon) {
    for (const MessageCase& message : MessageCases) {
        const test::ObservedBox box = ReportOne(message.id);
        EXPECT_EQ(box.icon == test::BoxIcon::Information, message.id == 301)
            << "ID " << message.id << ": " << Describe(box);
        EXPECT_NE(box.icon, test::BoxIcon::None) << "ID " << message.id;
    }
}

TEST_F(ReportMessageTest, ShowsTheCallersLastErrorAsASignedNumber) {
    const std::pair<DWORD, const wchar_t*> codes[] = {
        {0, L"0"},
        {1603, L"1603"},
        {4316, L"4316"},
        {2147483647u, L"2147483647"},
        {2147483648u, L"-2147483648"},
        {0xFFFFFFFFu, L"-1"},
    };
    const std::wstring format = test::ExpectedText(1033, messages::InstallFailed);
    for (const auto& code : codes) {
        const test::ObservedBox box = ReportOne(messages::InstallFailed, code.first);
        EXPECT_EQ(test::DescribeDifference(test::Substitute(format, code.second), box.text), "")
            << "last error " << code.first;
    }
}

TEST_F(ReportMessageTest, ShowsMessage307ExactlyAsStored) {
    CurrentProductName = L"%s %d";
    const test::ObservedBox box = ReportOne(messages::NoProductFound, 5);
    EXPECT_EQ(test::DescribeDifference(test::ExpectedText(1033, 307), box.text), "");
}

TEST_F(ReportMessageTest, ShowsPercentSignsInTheProductNameLiterally) {
    CurrentProductName = L"100% %s %d %n";
    const test::ObservedBox box = ReportOne(messages::PatchApplied);
    EXPECT_EQ(test::DescribeDifference(
                  test::Substitute(test::ExpectedText(1033, 301), CurrentProductName), box.text),
              "");
}

TEST_F(ReportMessageTest, ShowsAnIdOutsideTheTableWithTitleErrorNoTextAndNoIcon) {
    for (UINT id : {0u, 302u, 305u, 311u, 312u, 313u, 999u, 65535u}) {
        SCOPED_TRACE("ID " + std::to_string(id));
        const test::ObservedBox box = ReportOne(id, 1603);
        EXPECT_EQ(test::Narrow(box.title), "Error");
        EXPECT_EQ(test::Narrow(box.text), "");
        EXPECT_EQ(test::BoxIconName(box.icon), std::string("none"));
        ExpectLooksLike(box, ReferenceBox(L"", L"Error", StyleNoIcon));
    }
}

TEST_F(ReportMessageTest, ShowsNothingInQuietMode) {
    QuietMode = true;
    for (UINT id : {0u, 300u, 301u, 302u, 306u, 307u, 308u, 309u, 310u, 311u, 312u, 313u, 999u})
        EXPECT_EQ(Report(id, 1603).size(), 0u) << "ID " << id;
}

TEST_F(ReportMessageTest, LeavesTheLastErrorAloneInQuietMode) {
    QuietMode = true;
    SetLastError(1603);
    ReportMessage(messages::InstallFailed);
    EXPECT_EQ(GetLastError(), 1603u);
}

// The thread UI language is set to another catalogue language each time: the
// box follows the thread locale all the same, or the closest catalogue
// language to it.
TEST_F(ReportMessageTest, ChoosesTheLanguageFromTheThreadLocale) {
    CurrentProductName = L"Beispiel";
    struct LocaleCase {
        LCID locale;
        LANGID uiLanguage;
        LCID shown;
    };
    const LocaleCase cases[] = {{1031, 1041, 1031}, {1041, 1031, 1041}, {2052, 1041, 2052},
                                {1049, 1031, 1049}, {1033, 1041, 1033}, {2055, 1041, 1031},
                                {3084, 1031, 1036}, {4100, 1028, 2052}, {1053, 1041, 1033}};
    for (const LocaleCase& c : cases) {
        SetThreadUILanguage(c.uiLanguage);
        SetThreadLocale(c.locale);
        const test::ObservedBox box = ReportOne(messages::PatchApplied);
        EXPECT_EQ(test::DescribeDifference(
                      test::Substitute(test::ExpectedText(c.shown, 301), L"Beispiel"), box.text),
                  "")
            << "thread locale " << c.locale << ", thread UI language " << c.uiLanguage;
        EXPECT_EQ(test::Narrow(box.title), test::Narrow(test::ExpectedText(c.shown, 312)))
            << "thread locale " << c.locale << ", thread UI language " << c.uiLanguage;
    }
}

TEST_F(ReportMessageTest, UsesTheUsersDefaultLanguageForLocale1024) {
    ASSERT_TRUE(SetThreadLocale(LOCALE_USER_DEFAULT));
    const LCID user = GetUserDefaultLCID();
    const LCID expected = test::ExpectedCatalogue().count({user, 306}) ? user : 1033;
    const test::ObservedBox box = ReportOne(messages::AlreadyUpToDate);
    EXPECT_EQ(
        test::DescribeDifference(
            test::Substitute(test::ExpectedText(expected, 306), CurrentProductName), box.text),
        "")
        << "user default LCID " << user;
    EXPECT_EQ(test::Narrow(box.title), test::Narrow(test::ExpectedText(expected, 313)));
}

// Product names reach 1023 characters; wsprintfW writes at most 1024 with
// its terminator, so the text is cut there and nothing beyond is touched.
TEST_F(ReportMessageTest, CutsTheTextOfALongProductNameWithoutOverrunning) {
    for (std::size_t length : {1023u, 1024u, 1500u, 100000u}) {
        std::wstring name(length, L'n');
        name[0] = L'Ä';
        name[length - 1] = L'Z';
        for (UINT id : {301u, 306u, 308u}) {
            SCOPED_TRACE("name of " + std::to_string(length) + ", ID " + std::to_string(id));
            CurrentProductName = name;
            const test::ObservedBox box = ReportOne(id);
            const std::wstring full = test::Substitute(test::ExpectedText(1033, id), name);
            EXPECT_LE(box.text.size(), 1024u);
            EXPECT_GE(box.text.size(), 1023u);
            EXPECT_EQ(full.compare(0, box.text.size(), box.text), 0) << Describe(box);
            EXPECT_EQ(_heapchk(), _HEAPOK);
        }
    }
}

} // namespace
