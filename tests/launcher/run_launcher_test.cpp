// The entry point's run of each mode, with the installer service and the
// result messages replaced by stand-ins.
#include "common/program_state.h"
#include "deployment/installer_wait.h"
#include "deployment/session.h"
#include "launcher/launcher.h"
#include "products/products.h"
#include "tests/support/import_redirect.h"
#include "tests/support/installer_double.h"
#include "tests/support/message_box_recorder.h"
#include "tests/support/messages_double.h"
#include "tests/support/scripted_flow.h"
#include "tests/support/test_support.h"

#include <wtsapi32.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

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

// A window station such as a service's or a scheduled task's: not visible.
BOOL WINAPI InvisibleStation(HANDLE, int index, PVOID information, DWORD length, LPDWORD needed) {
    if (index != UOI_FLAGS || length < sizeof(USEROBJECTFLAGS)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    USEROBJECTFLAGS flags = {}; // no WSF_VISIBLE
    std::memcpy(information, &flags, sizeof flags);
    if (needed != nullptr)
        *needed = sizeof flags;
    return TRUE;
}

// The connection state that the session reports (WTS_CONNECTSTATE_CLASS);
// -1: the query fails, as Wine's does.
int SessionConnectState = -1;

BOOL WINAPI ScriptedSessionQuery(HANDLE, DWORD, WTS_INFO_CLASS info, LPWSTR* buffer, DWORD* bytes) {
    static int state = 0;
    if (SessionConnectState < 0 || info != WTSConnectState) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    state = SessionConnectState;
    *buffer = reinterpret_cast<LPWSTR>(&state);
    *bytes = sizeof state;
    return TRUE;
}

void WINAPI KeepScriptedMemory(PVOID) {}

// The run's boxes and the installer's interface, decided once from the
// switches and from whether anyone can see the session's desktop.
TEST_F(RunLauncherTest, ShowsNoBoxAndNoInstallerInterfaceWhenSilentOrWithoutADesktop) {
    struct Case {
        const wchar_t* arguments;
        bool desktop;    // the window station is visible
        int session;     // connection state of the session; -1: cannot be had
        int uiLevel;     // around the configure call
        bool quiet;      // result boxes kept back
        bool infoBoxes;  // "/i" and "/?" shown
        const char* why; // why no one sees the desktop; nullptr: someone does
    };
    const char* const invisible = "the window station is not visible";
    const char* const unconnected = "the session is not connected to a screen";
    const Case cases[] = {
        {L"", true, -1, 35, false, true, nullptr},
        {L"/q", true, -1, 35, true, true, nullptr},
        {L"/qn", true, -1, 514, true, false, nullptr},
        {L"/QUIET", true, -1, 514, true, false, nullptr},
        {L"", false, -1, 2, true, false, invisible},
        {L"/q", false, -1, 2, true, false, invisible},
        {L"", true, WTSActive, 35, false, true, nullptr}, // a locked console too
        {L"", true, WTSDisconnected, 2, true, false, unconnected},
        {L"/qn", true, WTSDisconnected, 2, true, false, unconnected},
        {L"", true, WTSConnected, 2, true, false, unconnected},
        {L"", false, WTSActive, 2, true, false, invisible},
    };
    test::ImportRedirect query(L"wtsapi32.dll", "WTSQuerySessionInformationW",
                               reinterpret_cast<void*>(&ScriptedSessionQuery));
    test::ImportRedirect free(L"wtsapi32.dll", "WTSFreeMemory",
                              reinterpret_cast<void*>(&KeepScriptedMemory));
    for (const Case& c : cases) {
        const std::string name = Narrow(c.arguments) + (c.desktop ? "" : " without a desktop") +
                                 ", session state " + std::to_string(c.session);
        TearDown();
        SetUp();
        AddProduct(L"{6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8A10}", L"1.0.0.0", L"Notes", L"1033");
        SessionConnectState = c.session;
        std::unique_ptr<test::ImportRedirect> station;
        if (!c.desktop)
            station =
                std::make_unique<test::ImportRedirect>(L"user32.dll", "GetUserObjectInformationW",
                                                       reinterpret_cast<void*>(&InvisibleStation));
        const wchar_t* const why = WhyNoOneSeesTheDesktop();
        EXPECT_EQ(why == nullptr ? std::string("(none)") : Narrow(why),
                  c.why == nullptr ? "(none)" : c.why)
            << name;
        test::MessageBoxRecorder recorder;
        Run(c.arguments);
        const std::vector<std::wstring> levels = test::Installer().CallsNamed(L"MsiSetInternalUI");
        ASSERT_EQ(levels.size(), 2u) << name;
        EXPECT_EQ(Narrow(levels[0]), "MsiSetInternalUI(" + std::to_string(c.uiLevel) + ", null)")
            << name;
        EXPECT_EQ(Narrow(levels[1]), "MsiSetInternalUI(5, null)") << name << ": put back";
        ASSERT_EQ(test::Reports().size(), 1u) << name;
        EXPECT_EQ(test::Reports()[0].quiet, c.quiet) << name;
        // Where no one sees the result, a busy installer is waited for.
        EXPECT_EQ(TheRunSettings.installerWaitBudgetMs, c.quiet ? BusyInstallerWaitBudgetMs : 0u)
            << name;

        Run(std::wstring(c.arguments) + L" /i");
        Run(std::wstring(c.arguments) + L" /?");
        EXPECT_EQ(recorder.boxes().size(), c.infoBoxes ? 2u : 0u) << name;
    }
}

TEST_F(RunLauncherTest, HelpListsTheSwitchesAndDoesNothingElse) {
    AddProduct(L"{6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8A10}", L"1.0.0.0", L"Notes", L"1033");
    const std::wstring out = scratch_.file(L"out.msp");
    test::MessageBoxRecorder recorder;
    for (const std::wstring& arguments :
         {std::wstring(L"/?"), std::wstring(L"/exitcode /H"),
          L"/q /e " + test::Quote(out) + L" /help /i", std::wstring(L"/Help /e x")}) {
        EXPECT_EQ(Run(arguments), 0) << Narrow(arguments);
        EXPECT_TRUE(test::Installer().calls.empty()) << Narrow(arguments);
        EXPECT_TRUE(test::ListDirectory(scratch_.path()).empty()) << Narrow(arguments);
        EXPECT_TRUE(test::Reports().empty()) << Narrow(arguments);
    }
    ASSERT_EQ(recorder.boxes().size(), 4u);
    EXPECT_EQ(recorder.boxes()[0].style,
              UINT(MB_OK | MB_ICONINFORMATION | MB_SETFOREGROUND | MB_TOPMOST));
}

} // namespace
