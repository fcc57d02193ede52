// The style each result box is asked for, recorded at the program's one
// MessageBoxW call: what a display driver makes of MB_TOPMOST or
// MB_SETFOREGROUND differs, the request does not.
#include "common/program_state.h"
#include "messages/messages.h"
#include "tests/support/message_box_recorder.h"

#include <gtest/gtest.h>

namespace {

TEST(BoxStyles, AreOkWithTheirIconTopmostAndForeground) {
    EXPECT_EQ(messages::StyleStop, 0x50010u);
    EXPECT_EQ(messages::StyleInformation, 0x50040u);
    EXPECT_EQ(messages::StyleNoIcon, 0x50000u);
    EXPECT_EQ(messages::StyleInfoBox, 0x50030u);
}

struct StyleCase {
    UINT id;
    UINT style;
};

void PrintTo(const StyleCase& value, std::ostream* out) {
    *out << "ID " << value.id << ", style 0x" << std::hex << value.style << std::dec;
}

class ReportMessageStyleTest : public testing::TestWithParam<StyleCase> {
  protected:
    void SetUp() override {
        QuietMode = false;
        CurrentProductName = L"Tessaro Sample Product";
    }
    void TearDown() override { CurrentProductName.clear(); }
};

TEST_P(ReportMessageStyleTest, AsksForTheMessagesStyleWithoutOwner) {
    const StyleCase& expected = GetParam();
    test::MessageBoxRecorder recorder;
    ReportMessage(expected.id);
    ASSERT_EQ(recorder.boxes().size(), 1u);
    const test::RecordedBox& box = recorder.boxes()[0];
    EXPECT_EQ(box.style, expected.style)
        << "ID " << expected.id << ": style 0x" << std::hex << box.style;
    EXPECT_EQ(box.style & (MB_TOPMOST | MB_SETFOREGROUND), UINT(MB_TOPMOST | MB_SETFOREGROUND));
    EXPECT_EQ(box.owner, nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    EveryId, ReportMessageStyleTest,
    testing::Values(StyleCase{messages::InstallFailed, messages::StyleStop},
                    StyleCase{messages::PatchApplied, messages::StyleInformation},
                    StyleCase{messages::AlreadyUpToDate, messages::StyleStop},
                    StyleCase{messages::NoProductFound, messages::StyleStop},
                    StyleCase{messages::VersionNotTargeted, messages::StyleStop},
                    StyleCase{messages::CommandLineIncorrect, messages::StyleStop},
                    StyleCase{messages::PatchListMissing, messages::StyleStop},
                    StyleCase{999, messages::StyleNoIcon}),
    [](const testing::TestParamInfo<StyleCase>& info) {
        return "Id" + std::to_string(info.param.id);
    });

TEST(ReportMessageStyle, CallsNoMessageBoxInQuietMode) {
    QuietMode = true;
    test::MessageBoxRecorder recorder;
    ReportMessage(messages::PatchApplied);
    QuietMode = false;
    EXPECT_TRUE(recorder.boxes().empty());
}

} // namespace
