// The box watcher on boxes of another process: show_message.exe reports one
// message, the watcher reads it from outside, as box_driver.exe does.
#include "tests/messages/catalogue_data.h"
#include "tools/box_driver/box_watcher.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

namespace {

std::wstring ShowMessageCommand(const std::wstring& arguments) {
    return test::Quote(test::FullPath(SHOW_MESSAGE_EXE)) + L" " + arguments;
}

TEST(BoxWatcherOfAnotherProcess, ReadsTitleTextAndIconOfEachBox) {
    struct Case {
        const wchar_t* arguments;
        LCID lcid;
        UINT id;
        UINT titleId;
        const wchar_t* value;
        test::BoxIcon icon;
    };
    const Case cases[] = {
        {L"1041 301 \"Name X\"", 1041, 301, 312, L"Name X", test::BoxIcon::Information},
        {L"1049 300 Name 2147483648", 1049, 300, 311, L"-2147483648", test::BoxIcon::Stop},
        {L"1033 306 Name", 1033, 306, 313, L"Name", test::BoxIcon::Stop},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(test::Narrow(c.arguments));
        const test::WatchedRun run = test::RunWatchingBoxes(ShowMessageCommand(c.arguments));
        ASSERT_TRUE(run.started);
        EXPECT_FALSE(run.timedOut);
        EXPECT_EQ(run.exitCode, 0u);
        ASSERT_EQ(run.boxes.size(), 1u);
        const test::ObservedBox& box = run.boxes[0];
        EXPECT_EQ(test::DescribeDifference(
                      test::Substitute(test::ExpectedText(c.lcid, c.id), c.value), box.text),
                  "");
        EXPECT_EQ(test::Narrow(box.title), test::Narrow(test::ExpectedText(c.lcid, c.titleId)));
        EXPECT_EQ(test::BoxIconName(box.icon), std::string(test::BoxIconName(c.icon)));
        ASSERT_EQ(box.buttons.size(), 1u);
        EXPECT_EQ(box.buttons[0].id, IDOK);
    }
}

TEST(BoxWatcherOfAnotherProcess, ReadsABoxWithoutIconAsNone) {
    const test::WatchedRun run = test::RunWatchingBoxes(ShowMessageCommand(L"1033 999 Name"));
    ASSERT_EQ(run.boxes.size(), 1u);
    EXPECT_EQ(test::Narrow(run.boxes[0].title), "Error");
    EXPECT_EQ(test::BoxIconName(run.boxes[0].icon), std::string("none"));
}

TEST(BoxWatcherOfAnotherProcess, StartsTheProgramInTheGivenDirectoryAndEnvironment) {
    test::ScratchDirectory scratch;
    test::WriteFileText(scratch.file(L"marker.txt"), "x");
    const test::WatchedRun run =
        test::RunWatchingBoxes(L"cmd.exe /c \"if exist marker.txt exit %BOX_TEST_CODE%\"",
                               scratch.path(), {L"BOX_TEST_CODE=7"});
    ASSERT_TRUE(run.started);
    EXPECT_EQ(run.exitCode, 7u);
    EXPECT_TRUE(run.boxes.empty());
}

TEST(BoxWatcherOfAnotherProcess, DescribesABoxOnePropertyALine) {
    test::ObservedBox box;
    box.title = L"T\u00e4";
    box.text = L"a\nb\\c";
    box.icon = test::BoxIcon::Stop;
    box.style = 0x94c801c4;
    box.exStyle = 0x10101;
    box.foreground = true;
    box.buttons = {{IDOK, L"OK"}};
    EXPECT_EQ(test::DescribeBox(box), "title: T\xC3\xA4\n"
                                      "text: a\\nb\\\\c\n"
                                      "icon: stop\n"
                                      "style: 0x94c801c4\n"
                                      "exstyle: 0x10101\n"
                                      "topmost: no\n"
                                      "foreground: yes\n"
                                      "buttons: 1=OK\n"
                                      "\n");
}

} // namespace
