// The entry point's run of each mode, with the installer service and the
// result messages replaced by stand-ins.
#include "common/program_state.h"
#include "launcher/launcher.h"
#include "products/products.h"
#include "tests/support/import_redirect.h"
#include "tests/support/installer_double.h"
#include "tests/support/message_box_recorder.h"
#include "tests/support/messages_double.h"
#include "tests/support/scripted_flow.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

namespace {

using test::Narrow;

class RunLauncherTest : public test::ScriptedFlowTest {
  protected:
    void SetUp() override {
        ScriptedFlowTest::SetUp();
        SetPatch(L"1.1.0.0;1.0.0.0,", L"{6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8A10}");
    }

    // RunLauncher as WinMain runs it, for "PatchLauncher.exe <arguments>".
    int Run(const std::wstring& arguments) {
        return RunLauncher((L"PatchLauncher.exe " + arguments).c_str());
    }

    test::ScratchDirectory scratch_;
    test::ScopedEnvironment tmp_{L"TMP", scratch_.path().c_str()};
};

TEST_F(RunLauncherTest, ExtractsBeforeItShowsTheInfoBox) {
    const std::wstring path = scratch_.file(L"out.msp");
    bool extractedBeforeBox = false;
    test::MessageBoxRecorder recorder(
        [&](const test::RecordedBox&) { extractedBeforeBox = test::FileExists(path); });
    EXPECT_EQ(Run(L"/e " + test::Quote(path) + L" /i"), 0);
    ASSERT_EQ(recorder.boxes().size(), 1u);
    EXPECT_EQ(Narrow(recorder.boxes()[0].title), "Info");
    EXPECT_TRUE(extractedBeforeBox) << Narrow(path) << " did not exist when the box was shown";
}

std::vector<std::wstring> CreatedPaths;

// Records the path and refuses, so that nothing reaches the disk.
HANDLE WINAPI RefuseCreate(LPCWSTR path, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD,
                           HANDLE) {
    CreatedPaths.push_back(path);
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
}

TEST_F(RunLauncherTest, ExtractTakesAFollowingSlashIAsItsPathAndShowsNoInfoBox) {
    test::MessageBoxRecorder recorder;
    CreatedPaths.clear();
    {
        test::ImportRedirect create(L"kernel32.dll", "CreateFileW",
                                    reinterpret_cast<void*>(&RefuseCreate));
        EXPECT_EQ(Run(L"/e /i"), 0);
    }
    ASSERT_EQ(CreatedPaths.size(), 1u);
    EXPECT_EQ(Narrow(CreatedPaths[0]), "/i") << "the path is used unchanged";
    EXPECT_TRUE(recorder.boxes().empty());
}

TEST_F(RunLauncherTest, EmptiesTheInventoryAndAnswersZeroInEveryMode) {
    test::MessageBoxRecorder recorder; // the info box
    const std::wstring out = test::Quote(scratch_.file(L"out.msp"));
    const std::wstring modes[] = {L"",   L"/q",  L"/e " + out,         L"/e",
                                  L"/i", L"/pi", L"/e " + out + L" /i"};
    for (const std::wstring& mode : modes) {
        SCOPED_TRACE("arguments '" + Narrow(mode) + "'");
        ProductRecord leftOver;
        leftOver.productCode = L"{6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8A40}";
        ProductInventory.push_back(leftOver);
        EXPECT_EQ(Run(mode), 0);
        EXPECT_TRUE(ProductInventory.empty()) << ProductInventory.size() << " records left";
    }
}

} // namespace
