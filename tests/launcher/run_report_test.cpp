// What a run reports beside its boxes, with the installer service and the
// result messages replaced by recording doubles: the exit code that
// "/exitcode" gives, and the lines of the "/log" file.
#include "common/holder.h"
#include "common/program_state.h"
#include "deployment/run_log.h"
#include "launcher/launcher.h"
#include "products/products.h"
#include "tests/support/installer_double.h"
#include "tests/support/messages_double.h"
#include "tests/support/scripted_flow.h"
#include "tests/support/test_support.h"
#include "tools/box_driver/box_watcher.h"

#include <msi.h>
#include <reason.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <regex>
#include <thread>

namespace {

using test::Installer;
using test::Narrow;

const wchar_t ProductA[] = L"{6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8A10}";
const wchar_t ProductB[] = L"{6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8A20}";

class RunReportTest : public test::ScriptedFlowTest {
  protected:
    void SetUp() override {
        ScriptedFlowTest::SetUp();
        SetPatch(L"1.1.0.0;1.0.0.0,", std::wstring(ProductA) + L";" + ProductB);
    }

    // RunLauncher with these arguments after the program path.
    int Run(const std::wstring& arguments) {
        return RunLauncher((L"\"C:\\dir\\PatchLauncher.exe\" " + arguments).c_str());
    }

    std::wstring LogFile() const { return logs_.file(L"run.log"); }
    std::wstring LogArgument() const { return L"/log " + test::Quote(LogFile()); }
    std::string LogText() const {
        const std::vector<std::uint8_t> bytes = test::ReadFileBytes(LogFile());
        return std::string(bytes.begin(), bytes.end());
    }
    // The log's lines without their timestamps.
    std::vector<std::string> LogEvents() const {
        std::vector<std::string> events;
        const std::string text = LogText();
        for (std::size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos;
             start = end + 2)
            events.push_back(text.substr(start + 24, end - start - 24));
        return events;
    }
    bool Logged(const std::string& event) const {
        const std::vector<std::string> events = LogEvents();
        return std::find(events.begin(), events.end(), event) != events.end();
    }
    std::string AllEvents() const {
        std::string text;
        for (const std::string& event : LogEvents())
            text += event + "\n";
        return text;
    }

    std::vector<std::wstring> LeftInTmp() const { return test::ListDirectory(scratch_.path()); }

    test::ScratchDirectory logs_; // made before TMP points into scratch_
    test::ScratchDirectory scratch_;
    test::ScopedEnvironment tmp_{L"TMP", scratch_.path().c_str()};
};

std::wstring ProgramPath() {
    wchar_t path[MAX_PATH] = {}; // terminator included
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    return std::wstring(path, length);
}

// One line per report: "<id>" (and " error=<n>" for 300).
std::string Describe(const std::vector<test::Report>& reports) {
    std::string text;
    for (const test::Report& report : reports)
        text += std::to_string(report.id) +
                (report.id == 300 ? " error=" + std::to_string(report.lastError) : "") + "\n";
    return text;
}

// --- The exit code -------------------------------------------------------

struct ExitCase {
    const char* name;
    const wchar_t* keywords;
    const wchar_t* versionA; // nullptr: not installed
    UINT resultA;
    const wchar_t* versionB; // nullptr: not installed
    UINT resultB;
    DWORD exitCode;       // with "/norestart": what the service's answers say
    bool restart = false; // the run restarts at its end without "/norestart": then 1641
    int stateA = 5;       // INSTALLSTATE of product A when it has a version
};

void PrintTo(const ExitCase& c, std::ostream* out) {
    *out << c.name;
}

class ExitCodeTest : public RunReportTest, public testing::WithParamInterface<ExitCase> {
  protected:
    void Arrange() {
        const ExitCase& c = GetParam();
        SetPatch(c.keywords, std::wstring(ProductA) + L";" + ProductB);
        if (c.versionA != nullptr)
            AddProduct(ProductA, c.versionA, L"Notes", L"1033", c.stateA);
        if (c.versionB != nullptr)
            AddProduct(ProductB, c.versionB, L"Notizen", L"1031");
        Installer().configureResults[ProductA] = c.resultA;
        Installer().configureResults[ProductB] = c.resultB;
    }
};

TEST_P(ExitCodeTest, GivesTheOutcomeWithExitcodeOnly) {
    const ExitCase& c = GetParam();
    Arrange();
    EXPECT_EQ(Run(L"/q /norestart /exitcode"), static_cast<int>(c.exitCode))
        << c.name << "\n"
        << Describe(test::Reports());
    EXPECT_TRUE(restarts_.requests().empty()) << c.name;
    const std::string reports = Describe(test::Reports());

    TearDown();
    SetUp();
    Arrange();
    const DWORD restarted = c.restart && c.exitCode == ERROR_SUCCESS_REBOOT_REQUIRED
                                ? DWORD(ERROR_SUCCESS_REBOOT_INITIATED)
                                : c.exitCode;
    EXPECT_EQ(Run(L"/q /exitcode"), static_cast<int>(restarted)) << c.name;
    EXPECT_EQ(restarts_.requests().size(), c.restart ? 1u : 0u) << c.name;
    EXPECT_EQ(Describe(test::Reports()), reports) << "the same boxes either way";

    TearDown();
    SetUp();
    Arrange();
    EXPECT_EQ(Run(L"/q"), 0) << c.name;
    EXPECT_EQ(Describe(test::Reports()), reports) << "the same boxes either way";
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, ExitCodeTest,
    testing::Values(
        ExitCase{"nothing installed (307)", L"1.1.0.0;1.0.0.0,", nullptr, 0, nullptr, 0, 1642},
        ExitCase{"only 308s", L"1.1.0.0;1.0.0.0,", L"0.9.0.0", 0, L"0.8.0.0", 0, 1642},
        ExitCase{"applied", L"1.1.0.0;1.0.0.0,", L"1.0.0.0", 0, nullptr, 0, 0},
        ExitCase{"up to date, closing 306", L"1.1.0.0;1.0.0.0,", L"1.1.0.0", 0, nullptr, 0, 0},
        ExitCase{"one up to date, one 308", L"1.1.0.0;1.0.0.0,", L"1.1.0.0", 0, L"0.9.0.0", 0, 0},
        ExitCase{"one applied, one 308", L"1.1.0.0;1.0.0.0,", L"0.9.0.0", 0, L"1.0.0.0", 0, 0},
        ExitCase{"306 ending the pass", L"1.1.0.0;1.1.0.0,1.0.0.0,", L"0.9.0.0", 0, L"1.0.0.0", 0,
                 0},
        ExitCase{"reboot required", L"1.1.0.0;1.0.0.0,", L"1.0.0.0", 3010, nullptr, 0, 3010, true},
        ExitCase{"reboot initiated", L"1.1.0.0;1.0.0.0,", L"1.0.0.0", 1641, nullptr, 0, 1641, true},
        ExitCase{"1641 wins over an earlier 3010", L"1.1.0.0;1.0.0.0,", L"1.0.0.0", 3010,
                 L"1.0.0.0", 1641, 1641, true},
        ExitCase{"1641 wins over a later 3010", L"1.1.0.0;1.0.0.0,", L"1.0.0.0", 1641, L"1.0.0.0",
                 3010, 1641, true},
        ExitCase{"failed apply", L"1.1.0.0;1.0.0.0,", L"1.0.0.0", 1603, nullptr, 0, 1603},
        ExitCase{"the first 300 counts", L"1.1.0.0;1.0.0.0,", L"1.0.0.0", 1603, L"1.0.0.0", 1605,
                 1603},
        ExitCase{"a 300 wins over a later reboot", L"1.1.0.0;1.0.0.0,", L"1.0.0.0", 1603,
                 L"1.0.0.0", 1641, 1603, true},
        ExitCase{"restart required (3011)", L"1.1.0.0;1.0.0.0,", L"1.0.0.0", 3011, nullptr, 0, 3010,
                 true},
        ExitCase{"suspended until the restart (1604) ends the pass", L"1.1.0.0;1.0.0.0,",
                 L"1.0.0.0", 1604, L"1.0.0.0", 1603, 3010, true},
        ExitCase{"advertised only", L"1.1.0.0;1.0.0.0,", L"1.0.0.0", 0, nullptr, 0, 1642, false, 1},
        ExitCase{"installed for another user only", L"1.1.0.0;1.0.0.0,", L"1.0.0.0", 0, nullptr, 0,
                 1642, false, 2},
        ExitCase{"a 300 wins over an earlier apply", L"1.1.0.0;1.0.0.0,", L"1.0.0.0", 0, L"1.0.0.0",
                 1603, 1603},
        ExitCase{"keywords without a usable ';'", L"1.1.0.0", L"1.0.0.0", 0, nullptr, 0, 4316},
        ExitCase{"3010 before a 306 that ends the pass", L"1.1.0.0;1.0.0.0,1.1.0.0,", L"1.0.0.0",
                 3010, L"0.9.0.0", 0, 3010, true}));

// "/uninstall" gives its outcome as an install does: with "/exitcode" only,
// 0 when the patch went or no product had it, the restart answers, else the
// first failure's code; the restart at the end of the pass unless "/norestart".
TEST_F(RunReportTest, GivesTheRemovalsOutcomeWithExitcodeOnly) {
    struct Case {
        const char* name;
        const wchar_t* uninstallable; // of the patch on product A; nullptr: not applied
        UINT result;                  // of its removal
        bool removes;                 // the service takes the patch off on success
        DWORD exitCode;               // with "/norestart"
        bool restart;                 // the run restarts at its end without "/norestart"
    };
    const Case cases[] = {
        {"removed", L"1", 0, true, 0, false},
        {"applied nowhere", nullptr, 0, true, 0, false},
        {"removed, a restart needed", L"1", 3010, true, 3010, true},
        {"removed, restart required (3011)", L"1", 3011, true, 3010, true},
        {"removed, restart initiated", L"1", 1641, true, 1641, true},
        {"not removable", L"0", 0, true, 1646, false},
        {"answered 0, still applied", L"1", 0, false, 1603, false},
        {"disallowed by policy", L"1", 1649, false, 1649, false},
    };
    for (const Case& c : cases) {
        const auto arrange = [&] {
            TearDown();
            SetUp();
            test::DoubleProduct& a = AddProduct(ProductA, L"1.1.0.0", L"Notes", L"1033");
            if (c.uninstallable != nullptr) {
                a.patchStates[SamplePatchCode] = L"1";
                a.patchUninstallable[SamplePatchCode] = c.uninstallable;
            }
            AddProduct(ProductB, L"1.1.0.0", L"Notizen", L"1031"); // not patched: passed over
            Installer().removeResults[ProductA] = c.result;
            Installer().successRemovesPatch = c.removes;
        };
        arrange();
        EXPECT_EQ(Run(L"/uninstall /q /norestart /exitcode"), static_cast<int>(c.exitCode))
            << c.name << "\n"
            << Describe(test::Reports());
        EXPECT_TRUE(restarts_.requests().empty()) << c.name;
        const std::string reports = Describe(test::Reports());

        arrange();
        const DWORD restarted =
            c.restart && c.exitCode == ERROR_SUCCESS_REBOOT_REQUIRED ? 1641 : c.exitCode;
        EXPECT_EQ(Run(L"/uninstall /q /exitcode"), static_cast<int>(restarted)) << c.name;
        EXPECT_EQ(restarts_.requests().size(), c.restart ? 1u : 0u) << c.name;
        EXPECT_EQ(Describe(test::Reports()), reports) << c.name << ": the same boxes either way";

        arrange();
        EXPECT_EQ(Run(L"/uninstall /q"), 0) << c.name;
        EXPECT_TRUE(Installer().CallsNamed(L"MsiConfigureProductExW").empty()) << c.name;
        EXPECT_TRUE(LeftInTmp().empty()) << c.name;
    }
}

// Two products that each ask for a restart: both are handled and every box is
// seen, then the patch file goes, and only then is Windows asked to restart
// the computer, as a planned restart for an installation, after a notice to
// signed-in users, with the shutdown privilege enabled for that call alone;
// never with "/norestart". 1641 only when Windows accepted it.
TEST_F(RunReportTest, RestartsOnceAtTheEndOfThePassUnlessNorestart) {
    struct Case {
        const wchar_t* switches;
        std::vector<DWORD> answers; // of the restart calls (0: accepted)
        std::size_t restarts;
        int exitCode;
        std::string event;
    };
    const std::string locked = std::to_string(ERROR_MACHINE_LOCKED);
    const std::string notReady = std::to_string(ERROR_NOT_READY);
    const Case cases[] = {
        {L"/exitcode", {0}, 1, 1641, "restart started: Windows restarts the computer in 60 s"},
        {L"/norestart /exitcode", {0}, 0, 3010, "restart needed; not started (/norestart)"},
        {L"/exitcode",
         {ERROR_MACHINE_LOCKED},
         1,
         3010,
         "restart needed but could not be started, error " + locked},
        {L"/exitcode",
         {ERROR_ACCESS_DENIED},
         1,
         3010,
         "restart needed but could not be started, error 5"},
        {L"/exitcode",
         {ERROR_NOT_READY, ERROR_NOT_READY, 0},
         3,
         1641,
         "restart: the system is not ready (error " + notReady + "), asking again in 1000 ms"},
        {L"/exitcode",
         {ERROR_NOT_READY},
         5,
         3010,
         "restart needed but could not be started, error " + notReady},
        {L"", {0}, 1, 0, "restart started: Windows restarts the computer in 60 s"},
    };
    const bool enabledBefore = test::ShutdownPrivilegeEnabled();
    for (const Case& c : cases) {
        TearDown();
        SetUp();
        DeleteFileW(LogFile().c_str());
        AddProduct(ProductA, L"1.0.0.0", L"Notes", L"1033");
        AddProduct(ProductB, L"1.0.0.0", L"Notizen", L"1031");
        Installer().configureResults[ProductA] = 3010;
        Installer().configureResults[ProductB] = 3010;
        restarts_.Answer(c.answers);
        std::size_t filesAtRestart = 99;
        std::size_t boxesAtRestart = 99;
        restarts_.OnRestart([&] {
            filesAtRestart = LeftInTmp().size();
            boxesAtRestart = test::Reports().size();
        });
        const std::string name = Narrow(c.switches) + ", answers " + std::to_string(c.answers[0]) +
                                 " (" + std::to_string(c.answers.size()) + ")";

        EXPECT_EQ(Run(std::wstring(c.switches) + L" " + LogArgument()), c.exitCode) << name;
        EXPECT_EQ(Describe(test::Reports()), "301\n301\n") << name;
        EXPECT_TRUE(Logged(c.event)) << name << "\n" << AllEvents();
        ASSERT_EQ(restarts_.requests().size(), c.restarts) << name;
        EXPECT_EQ(test::ShutdownPrivilegeEnabled(), enabledBefore) << name << ": as it was";
        for (const test::RestartRequest& restart : restarts_.requests()) {
            EXPECT_EQ(Narrow(restart.machine), "(null)") << "this computer";
            EXPECT_EQ(restart.timeout, 60u) << "signed-in users are warned first";
            EXPECT_FALSE(restart.forceAppsClosed) << "unsaved work is asked for, not lost";
            EXPECT_TRUE(restart.reboot);
            EXPECT_EQ(restart.reason,
                      DWORD(SHTDN_REASON_MAJOR_APPLICATION | SHTDN_REASON_MINOR_INSTALLATION |
                            SHTDN_REASON_FLAG_PLANNED));
            EXPECT_TRUE(restart.privilegeEnabled) << name;
        }
        if (c.restarts == 0)
            continue;
        EXPECT_EQ(boxesAtRestart, 2u) << name << ": after the last box";
        EXPECT_EQ(filesAtRestart, 0u) << name << ": the patch file is gone first";
    }
}

TEST_F(RunReportTest, ExitsWithTheCodeOfAFailedRead) {
    AddProduct(ProductA, L"1.0.0.0", L"Notes", L"1033");
    Installer().anyPackage.failures[7] = ERROR_UNKNOWN_PROPERTY;
    const int exitCode = Run(L"/q /exitcode");
    ASSERT_EQ(test::Reports().size(), 1u);
    ASSERT_EQ(test::Reports()[0].id, 300u);
    const DWORD shown = test::Reports()[0].lastError;
    // A 300 that shows 0 says nothing; the exit code still says "failed".
    EXPECT_EQ(exitCode, static_cast<int>(shown != 0 ? shown : DWORD(ERROR_INSTALL_FAILURE)))
        << "shown: " << shown;
}

TEST_F(RunReportTest, ExitsWithTheErrorOfAFailedExtraction) {
    const HINSTANCE own = ModuleInstance;
    ModuleInstance = GetModuleHandleW(L"kernel32.dll"); // no payload there
    const int exitCode = Run(L"/q /exitcode " + LogArgument());
    ModuleInstance = own;
    EXPECT_EQ(exitCode, ERROR_RESOURCE_TYPE_NOT_FOUND);
    const std::string events = AllEvents();
    EXPECT_NE(events.find("failed, error " + std::to_string(ERROR_RESOURCE_TYPE_NOT_FOUND)),
              std::string::npos)
        << events;
    EXPECT_EQ(events.find("deleted"), std::string::npos) << "no file was made\n" << events;
}

TEST_F(RunReportTest, ExitsWithZeroOrTheWriteErrorInExtractMode) {
    EXPECT_EQ(Run(L"/exitcode /e " + test::Quote(scratch_.file(L"out.msp"))), 0);
    EXPECT_TRUE(test::FileExists(scratch_.file(L"out.msp")));
    EXPECT_EQ(Run(L"/exitcode /e " + test::Quote(scratch_.file(L"missing\\out.msp"))),
              ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(Run(L"/e " + test::Quote(scratch_.file(L"missing\\out.msp"))), 0);
    EXPECT_TRUE(test::Reports().empty());
}

TEST_F(RunReportTest, ExitsWithZeroInInfoAndPiRuns) {
    EXPECT_EQ(Run(L"/exitcode /pi"), 0);
    test::BoxWatcher watcher;
    const int exitCode = Run(L"/exitcode /q /i");
    EXPECT_EQ(watcher.Finish().size(), 1u);
    EXPECT_EQ(exitCode, 0);
}

// --- The log ---------------------------------------------------------------

TEST_F(RunReportTest, WritesTimestampedUtf8LinesEndingInCrLf) {
    AddProduct(ProductA, L"1.0.0.0", L"Notes \u00e4\u65e5\u672c", L"1041");
    Run(L"/q " + LogArgument());
    const std::string text = LogText();
    ASSERT_FALSE(text.empty());
    const std::regex line("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} [^\\r\\n]+\\r\\n");
    std::string rebuilt;
    std::size_t lines = 0;
    for (std::sregex_iterator it(text.begin(), text.end(), line), end; it != end; ++it, ++lines)
        rebuilt += it->str();
    EXPECT_EQ(rebuilt, text) << "every line has the form";
    EXPECT_GE(lines, 5u);
    EXPECT_NE(text.find("\"Notes \xc3\xa4\xe6\x97\xa5\xe6\x9c\xac\""), std::string::npos) << text;
}

// Message 300 shows the last-error code that the flow set just before it
// reports; logging in between must leave it alone, written or not.
TEST_F(RunReportTest, KeepsTheLastErrorCodeWhetherOrNotTheLogIsWritten) {
    for (const std::wstring& path : {LogFile(), logs_.file(L"missing\\run.log")}) {
        SetLastError(1234);
        OpenRunLog(path);
        EXPECT_EQ(GetLastError(), 1234u) << "open " << Narrow(path);
        SetLastError(1603);
        LogLine(L"event ", 1);
        EXPECT_EQ(GetLastError(), 1603u) << "line " << Narrow(path);
        SetLastError(5);
        LogMessageBox(300);
        EXPECT_EQ(GetLastError(), 5u) << "box " << Narrow(path);
        SetLastError(1618);
        CloseRunLog();
        EXPECT_EQ(GetLastError(), 1618u) << "close " << Narrow(path);
    }
    EXPECT_EQ(LogEvents().size(), 2u) << AllEvents();
}

TEST_F(RunReportTest, FormatsTheTimeToTheMillisecond) {
    SYSTEMTIME time = {};
    time.wYear = 2026;
    time.wMonth = 3;
    time.wDay = 9;
    time.wHour = 7;
    time.wMinute = 5;
    time.wSecond = 4;
    time.wMilliseconds = 7;
    EXPECT_EQ(Narrow(FormatLogTime(time)), "2026-03-09 07:05:04.007");
    time.wMilliseconds = 45;
    EXPECT_EQ(Narrow(FormatLogTime(time)), "2026-03-09 07:05:04.045");
}

TEST_F(RunReportTest, LogsAnApplyFromStartToExitCode) {
    AddProduct(ProductA, L"1.1.0.0", L"Notes", L"1033");
    AddProduct(ProductB, L"1.0.0.0", L"Notizen", L"1031");
    Installer().configureResults[ProductB] = 3010;
    std::wstring patchFile;
    Installer().onConfigure = [&](const std::wstring&, const std::wstring&) {
        ASSERT_EQ(LeftInTmp().size(), 1u);
        patchFile = scratch_.file(LeftInTmp()[0]);
    };
    const std::wstring arguments = L"/exitcode " + LogArgument();
    Run(arguments);
    const std::string file = Narrow(patchFile);
    const std::string a = Narrow(ProductA);
    const std::string b = Narrow(ProductB);
    const std::vector<std::string> expected = {
        "start: " + Narrow(ProgramPath()) + ", version " + Narrow(PATCHLAUNCHER_VERSION) +
            ", command line: \"C:\\dir\\PatchLauncher.exe\" " + Narrow(arguments),
        "interactive desktop: someone can see this session's desktop",
        "patch extracted to " + file,
        "patch upgrade version 1.1.0.0, target versions 1.0.0.0,",
        "patch products " + a + ";" + b,
        "installer log: " + Narrow(LogFile()) + ".msi.log (MsiEnableLogW returned 0)",
        "product " + a + " \"Notes\", language 1033, installed version 1.1.0.0: up to date",
        "product " + b +
            " \"Notizen\", language 1031, installed version 1.0.0.0: applying the patch",
        "installer: MsiConfigureProductExW(" + b + ", 0, 5, PATCH=\"" + file +
            "\" REBOOTPROMPT=S REBOOT=ReallySuppress) returned 3010",
        "installer: patch " + Narrow(SamplePatchCode) + " on " + b +
            ", asked per-machine: applied (MsiGetPatchInfoExW returned 0)",
        "message 301 shown in language 1031",
        "patch file " + file + " deleted",
        "restart started: Windows restarts the computer in 60 s",
        "exit code 1641",
    };
    const std::vector<std::string> events = LogEvents();
    ASSERT_EQ(events.size(), expected.size()) << AllEvents();
    for (std::size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(events[i], expected[i]);
}

TEST_F(RunReportTest, LogsEachDecisionAndBox) {
    struct Case {
        const char* name;
        const wchar_t* keywords;
        const wchar_t* version;
        const char* quiet;
        std::vector<std::string> events;
        std::function<void(test::DoubleProduct&)> arrange = nullptr; // after a 1603 is scripted
    };
    const std::string a = Narrow(ProductA);
    const std::string product = "product " + a + " \"Notes\", language 1041, installed version ";
    const std::string patch = "installer: patch " + Narrow(SamplePatchCode) + " on " + a;
    const std::string perUserHint =
        "; a per-user installation is patched by deploying the launcher in that user's context";
    const std::vector<Case> cases = {
        {"not a target",
         L"1.1.0.0;1.0.0.0,",
         L"0.9.0.0",
         "/q",
         {product + "0.9.0.0: not a target version",
          "message 308 in language 1041 not shown: quiet mode",
          "exit code 0 (with /exitcode it would be 1642)"}},
        {"306 ends the pass",
         L"1.1.0.0;1.1.0.0,1.0.0.0,",
         L"0.9.0.0",
         "",
         {product + "0.9.0.0: an entry equal to the upgrade version comes first; the pass ends",
          "message 306 shown in language 1041"}},
        {"failed apply",
         L"1.1.0.0;1.0.0.0,",
         L"1.0.0.0",
         "/q",
         {"installer: MsiConfigureProductExW(" + a + ", 0, 5, PATCH=", // cut below
          "message 300 in language 1041 not shown: quiet mode",
          "exit code 0 (with /exitcode it would be 1603)"}},
        {"closing 306",
         L"1.1.0.0;1.0.0.0,",
         L"1.1.0.0",
         "/q",
         {product + "1.1.0.0: up to date", "every installed product is up to date"}},
        {"small update not applied",
         L"1.1.0.0;1.1.0.0,",
         L"1.1.0.0",
         "/q",
         {patch + ", asked per-machine: not applied (MsiGetPatchInfoExW returned 1647)",
          product + "1.1.0.0: the small update is not known to be applied: applying the patch"}},
        {"small update, state not known per-user",
         L"1.1.0.0;1.1.0.0,",
         L"1.1.0.0",
         "/q",
         {patch + ", asked per-user unmanaged for " + Narrow(Installer().currentUserSid) +
              ": state not known (MsiGetPatchInfoExW returned 5)",
          product + "1.1.0.0: the small update is not known to be applied: applying the patch"},
         [](test::DoubleProduct& p) {
             p.context = 2;
             p.patchInfoResult = ERROR_ACCESS_DENIED;
         }},
        {"small update without a patch code",
         L"1.1.0.0;1.1.0.0,",
         L"1.1.0.0",
         "/q",
         {"patch code (PID_REVNUMBER) could not be read, error 13",
          "the small update has no patch code: the version decides",
          product + "1.1.0.0: up to date"},
         [](test::DoubleProduct&) { Installer().anyPackage.properties.erase(9); }},
        {"answered 0, not applied",
         L"1.1.0.0;1.0.0.0,",
         L"1.0.0.0",
         "/q",
         {patch + ", asked per-machine: not applied (MsiGetPatchInfoExW returned 1647)",
          "the installer answered 0 but the patch is not applied",
          "message 300 in language 1041 not shown: quiet mode",
          "exit code 0 (with /exitcode it would be 1642)"},
         [&](test::DoubleProduct&) {
             Installer().configureResults[ProductA] = 0;
             Installer().successRegistersPatch = false;
         }},
        {"suspended until the restart",
         L"1.1.0.0;1.0.0.0,",
         L"1.0.0.0",
         "/q /norestart",
         {"the installation is suspended until the restart, when the installer resumes it; no "
          "other product is patched before: the pass ends",
          "message 301 in language 1041 not shown: quiet mode",
          "exit code 0 (with /exitcode it would be 3010)"},
         [&](test::DoubleProduct&) { Installer().configureResults[ProductA] = 1604; }},
        {"advertised",
         L"1.1.0.0;1.0.0.0,",
         L"1.0.0.0",
         "/q",
         {"product " + a + ": advertised, not installed: not patched",
          "no product of the patch is installed"},
         [](test::DoubleProduct& p) { p.state = 1; }},
        {"installed for other users",
         L"1.1.0.0;1.0.0.0,",
         L"1.0.0.0",
         "/q",
         {"product " + a +
          " \"Notes\": installed for other users only, not patched: S-1-5-21-7-7-7-1002 "
          "(per-user unmanaged), S-1-5-21-7-7-7-1003 (per-user managed)" +
          perUserHint},
         [](test::DoubleProduct& p) {
             p.state = 2;
             p.otherUsers = {{2, L"S-1-5-21-7-7-7-1002"}, {1, L"S-1-5-21-7-7-7-1003"}};
         }},
        {"installed for other users who cannot be listed",
         L"1.1.0.0;1.0.0.0,",
         L"1.0.0.0",
         "/q",
         {"product " + a +
          ": installed for other users only, not patched; their accounts could not be listed, "
          "error 5" +
          perUserHint},
         [](test::DoubleProduct& p) {
             p.state = 2;
             Installer().everyoneEnumResult = ERROR_ACCESS_DENIED;
         }},
        {"no elevation prompt from this installer",
         L"1.1.0.0;1.0.0.0,",
         L"1.0.0.0",
         "/qn",
         {"installer: interface level 514 refused; level 2, without the elevation prompt"},
         [](test::DoubleProduct&) { Installer().refusesElevationLevel = true; }},
    };
    for (const Case& c : cases) {
        TearDown();
        SetUp();
        DeleteFileW(LogFile().c_str());
        SetPatch(c.keywords, ProductA);
        test::DoubleProduct& added = AddProduct(ProductA, c.version, L"Notes", L"1041");
        Installer().configureResults[ProductA] = 1603;
        if (c.arrange)
            c.arrange(added);
        if (std::string(c.quiet).empty())
            Run(LogArgument());
        else
            Run(test::Widen(c.quiet) + L" " + LogArgument());
        const std::string all = AllEvents();
        for (const std::string& event : c.events)
            EXPECT_NE(all.find(event), std::string::npos)
                << c.name << ": missing '" << event << "' in\n"
                << all;
    }
}

// Another installation, on a thread of its own: it holds the installer's
// execute mutex from construction for `holdMs`, or until the value goes.
class OtherInstallation {
  public:
    explicit OtherInstallation(DWORD holdMs) : stop_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
        const KernelHandle holding(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        thread_ = std::thread([this, holdMs, &holding] {
            const KernelHandle mutex(CreateMutexW(nullptr, TRUE, L"Global\\_MSIExecute"));
            SetEvent(holding.get());
            WaitForSingleObject(stop_.get(), holdMs);
            ReleaseMutex(mutex.get());
        });
        WaitForSingleObject(holding.get(), INFINITE);
    }
    ~OtherInstallation() {
        SetEvent(stop_.get());
        thread_.join();
    }
    OtherInstallation(const OtherInstallation&) = delete;
    OtherInstallation& operator=(const OtherInstallation&) = delete;

  private:
    KernelHandle stop_;
    std::thread thread_;
};

// Where no one sees a box, an apply waits while another installation holds
// the installer's mutex, and an apply that answers 1618 is tried again, all
// within one budget; someone at the desktop is told of the 1618 at once.
TEST_F(RunReportTest, WaitsForABusyInstallerOnlyWhereNoOneIsWatching) {
    constexpr DWORD Budget = 1500; // ms, for the whole pass
    struct Case {
        const char* name;
        bool boxes;    // result boxes shown
        DWORD holdMs;  // the other installation holds the mutex this long (0: not at all)
        int busyFirst; // configure answers 1618 this often before it looks at the mutex
        std::string reports;
        std::size_t configured;
        std::vector<std::string> events; // parts of log lines, each in one line
        bool removal = false;            // "/uninstall": the patch is taken off instead
    };
    const std::string busy = "the installer is busy (1618)";
    const Case cases[] = {
        {"held, then released",
         false,
         700,
         0,
         "301\n",
         1,
         {"another installation is running (Global\\_MSIExecute is held): waiting for it, at "
          "most 1500 ms",
          " ms for the other installation to end"}},
        {"held past the budget",
         false,
         10000,
         0,
         "300 error=1618\n",
         1,
         {"the other installation still runs and the 1500 ms for waiting are spent",
          busy + " and the 1500 ms for waiting are spent: not tried again"}},
        {"held, someone watching", true, 10000, 0, "300 error=1618\n", 1, {}},
        {"1618 once, mutex free", false, 0, 1, "301\n", 2, {busy + ": waited 1500 ms"}},
        {"1618 until the budget is spent",
         false,
         0,
         9,
         "300 error=1618\n",
         2,
         {busy + " and the 1500 ms for waiting are spent: not tried again"}},
        {"removal: held, then released",
         false,
         700,
         0,
         "320\n",
         1,
         {"another installation is running (Global\\_MSIExecute is held): waiting for it, at "
          "most 1500 ms"},
         true},
        {"removal: 1618 until the budget is spent",
         false,
         0,
         9,
         "300 error=1618\n",
         2,
         {busy + " and the 1500 ms for waiting are spent: not tried again"},
         true},
    };
    for (const Case& c : cases) {
        TearDown();
        SetUp();
        DeleteFileW(LogFile().c_str());
        test::DoubleProduct& a =
            AddProduct(ProductA, c.removal ? L"1.1.0.0" : L"1.0.0.0", L"Notes", L"1033");
        if (c.removal) {
            a.patchStates[SamplePatchCode] = L"1";
            a.patchUninstallable[SamplePatchCode] = L"1";
        }
        Installer().busyAnswers[ProductA] = c.busyFirst;
        TheRunSettings.resultBoxes = c.boxes;
        TheRunSettings.installerWaitBudgetMs = c.boxes ? 0 : Budget;
        std::unique_ptr<OtherInstallation> other;
        if (c.holdMs != 0)
            other = std::make_unique<OtherInstallation>(c.holdMs);
        OpenRunLog(LogFile());
        if (c.removal)
            RemoveServicePack();
        else
            InstallServicePack();
        CloseRunLog();
        other.reset();

        EXPECT_EQ(Describe(test::Reports()), c.reports) << c.name << "\n" << AllEvents();
        EXPECT_EQ(Installer()
                      .CallsNamed(c.removal ? L"MsiRemovePatchesW" : L"MsiConfigureProductExW")
                      .size(),
                  c.configured)
            << c.name;
        const std::string all = AllEvents();
        for (const std::string& event : c.events)
            EXPECT_NE(all.find(event), std::string::npos) << c.name << ": '" << event << "'\n"
                                                          << all;
        if (c.events.empty()) {
            EXPECT_EQ(all.find("wait"), std::string::npos) << c.name << "\n" << all;
        }
    }
}

// The pending operations that Windows carries out at the next restart.
constexpr wchar_t SessionManagerKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr wchar_t PendingRenames[] = L"PendingFileRenameOperations";

// The value's bytes, empty when there is none.
std::vector<BYTE> ReadPendingRenames() {
    DWORD size = 0;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, SessionManagerKey, PendingRenames, RRF_RT_REG_MULTI_SZ,
                     nullptr, nullptr, &size) != ERROR_SUCCESS)
        return {};
    std::vector<BYTE> bytes(size);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, SessionManagerKey, PendingRenames, RRF_RT_REG_MULTI_SZ,
                     nullptr, bytes.data(), &size) != ERROR_SUCCESS)
        return {};
    bytes.resize(size);
    return bytes;
}

// A scanner that holds the patch file for a while after the apply: the
// delete is tried again, and left to the next restart when it never works.
TEST_F(RunReportTest, DeletesThePatchFileOnceNoOneHoldsItOrAtTheNextRestart) {
    struct Case {
        const char* name;
        DWORD holdMs; // after the apply; INFINITE: until the run has ended
        std::vector<std::string> events;
    };
    const std::string scheduled = " will be deleted at the next restart";
    const Case cases[] = {
        {"held for a moment", 700, {" deleted"}},
        {"held throughout", INFINITE, {" could not be deleted for 5000 ms, error 32", scheduled}},
    };
    const std::vector<BYTE> pendingBefore = ReadPendingRenames();
    for (const Case& c : cases) {
        TearDown();
        SetUp();
        DeleteFileW(LogFile().c_str());
        AddProduct(ProductA, L"1.0.0.0", L"Notes", L"1033");
        std::wstring patchFile;
        FileHandle scanner;
        std::thread release;
        Installer().onConfigure = [&](const std::wstring&, const std::wstring&) {
            patchFile = scratch_.file(LeftInTmp().at(0));
            scanner.reset(CreateFileW(patchFile.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
            if (c.holdMs != INFINITE)
                release = std::thread([&] {
                    Sleep(c.holdMs);
                    scanner.reset();
                });
        };
        EXPECT_EQ(Run(L"/q " + LogArgument()), 0) << c.name;
        if (release.joinable())
            release.join();
        ASSERT_FALSE(patchFile.empty()) << c.name;
        const bool held = bool(scanner);
        scanner.reset();
        const std::string all = AllEvents();
        for (const std::string& event : c.events)
            EXPECT_NE(all.find("patch file " + Narrow(patchFile) + event), std::string::npos)
                << c.name << ": '" << event << "'\n"
                << all;
        const std::vector<BYTE> pending = ReadPendingRenames();
        const std::wstring names(reinterpret_cast<const wchar_t*>(pending.data()),
                                 pending.size() / sizeof(wchar_t));
        EXPECT_EQ(names.find(patchFile) != std::wstring::npos, held) << c.name;
        EXPECT_EQ(all.find(scheduled) != std::string::npos, held) << c.name;
        EXPECT_EQ(test::FileExists(patchFile), held) << c.name;
        DeleteFileW(patchFile.c_str());
    }
    // The test prefix's pending operations as they were.
    if (pendingBefore.empty())
        RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, SessionManagerKey, PendingRenames);
    else
        RegSetKeyValueW(HKEY_LOCAL_MACHINE, SessionManagerKey, PendingRenames, REG_MULTI_SZ,
                        pendingBefore.data(), DWORD(pendingBefore.size()));
}

TEST_F(RunReportTest, LogsARepeatedProductAsSkippedAndCountsItOnce) {
    SetPatch(L"1.1.0.0;1.0.0.0,", std::wstring(ProductA) + L";" + ProductA);
    AddProduct(ProductA, L"1.0.0.0", L"Notes", L"1033");
    Installer().configureResults[ProductA] = 3010;
    EXPECT_EQ(Run(L"/q /norestart /exitcode " + LogArgument()), 3010);
    EXPECT_EQ(Installer().CallsNamed(L"MsiConfigureProductExW").size(), 1u);
    const std::string product =
        "product " + Narrow(ProductA) + " \"Notes\", language 1033, installed version 1.0.0.0: ";
    EXPECT_TRUE(Logged(product + "applying the patch")) << AllEvents();
    EXPECT_TRUE(Logged(product + "skipped as a repeat")) << AllEvents();
}

// A temporary folder whose name has ";": the service gets the short path, or
// the run ends with 123 where the volume has no short name without ";".
TEST_F(RunReportTest, LogsThePathTheServiceGetsOrWhyThereIsNone) {
    const std::wstring folder = scratch_.file(L"tmp;dir");
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    test::ScopedEnvironment tmp(L"TMP", folder.c_str());
    AddProduct(ProductA, L"1.0.0.0", L"Notes", L"1033");
    const int exitCode = Run(L"/q /exitcode " + LogArgument());
    if (exitCode == ERROR_INVALID_NAME) {
        EXPECT_TRUE(Logged("the patch file's path has a \";\" and no short form without one, "
                           "error 123"))
            << AllEvents();
        EXPECT_TRUE(Installer().calls.empty());
        return;
    }
    EXPECT_EQ(exitCode, 0);
    const std::vector<std::wstring> opened = Installer().summaryPathsOpened;
    ASSERT_FALSE(opened.empty());
    EXPECT_TRUE(Logged("the installer gets the patch file's path as " + Narrow(opened[0])))
        << AllEvents();
}

TEST_F(RunReportTest, LogsTheCatalogueLanguageABoxIsShownInNotTheProductsLocale) {
    SetPatch(L"1.1.0.0;1.0.0.0,", ProductA);
    AddProduct(ProductA, L"0.9.0.0", L"Notes", L"3084"); // French (Canada)
    Run(L"/q " + LogArgument());
    EXPECT_TRUE(Logged("message 308 in language 1036 not shown: quiet mode")) << AllEvents();
}

TEST_F(RunReportTest, LogsTheEarlyEndsAndThatThePatchFileIsDeleted) {
    std::string extracted;
    test::OnReport([&](const test::Report&) {
        ASSERT_EQ(LeftInTmp().size(), 1u);
        extracted = Narrow(scratch_.file(LeftInTmp()[0]));
    });
    Run(L"/q " + LogArgument());
    EXPECT_TRUE(LeftInTmp().empty());
    EXPECT_TRUE(Logged("no product of the patch is installed")) << AllEvents();
    EXPECT_TRUE(Logged("message 307 in language 1033 not shown: quiet mode")) << AllEvents();
    EXPECT_TRUE(Logged("patch file " + extracted + " deleted")) << AllEvents();

    DeleteFileW(LogFile().c_str());
    SetPatch(L"1.1", ProductA);
    Run(L"/q " + LogArgument());
    EXPECT_TRUE(Logged("patch versions (PID_KEYWORDS) could not be read, error 4316"))
        << AllEvents();
    EXPECT_TRUE(Logged("exit code 0 (with /exitcode it would be 4316)")) << AllEvents();
}

TEST_F(RunReportTest, LogsWhatExtractAndInfoRunsDid) {
    const std::wstring out = scratch_.file(L"out.msp");
    Run(L"/e " + test::Quote(out) + L" " + LogArgument());
    EXPECT_TRUE(Logged("extract: patch written to " + Narrow(out))) << AllEvents();
    const std::wstring bad = scratch_.file(L"missing\\out.msp");
    Run(L"/e " + test::Quote(bad) + L" " + LogArgument());
    EXPECT_TRUE(Logged("extract: writing the patch to " + Narrow(bad) + " failed, error 3"))
        << AllEvents();

    SetPatch(L"2.0;1.0,", L"A;B");
    {
        test::BoxWatcher watcher;
        Run(LogArgument() + L" /i");
        EXPECT_EQ(watcher.Finish().size(), 1u);
    }
    EXPECT_TRUE(Logged("info: products A B, target versions 1.0,, upgrade version 2.0"))
        << AllEvents();
    EXPECT_TRUE(Logged("info: box shown")) << AllEvents();
    Run(LogArgument() + L" /pi");
    EXPECT_TRUE(Logged("nothing to do (/pi)")) << AllEvents();
}

// "/log" makes its folder; it never writes into the patch that "/e" writes,
// however the two paths are spelt.
TEST_F(RunReportTest, MakesTheLogsFolderButNeverLogsIntoTheExtractedPatch) {
    const std::wstring nested = logs_.file(L"new\\folder\\run.log");
    Run(L"/q junk " + test::Quote(L"two words") + L" /log " + test::Quote(nested));
    const std::vector<std::uint8_t> bytes = test::ReadFileBytes(nested);
    const std::string text(bytes.begin(), bytes.end());
    for (const char* event : {"argument ignored: junk\r\n", "argument ignored: two words\r\n",
                              " exit code 0 (with /exitcode it would be 1642)\r\n"})
        EXPECT_NE(text.find(event), std::string::npos) << event << " missing in\n" << text;

    const std::wstring alone = scratch_.file(L"alone.msp");
    Run(L"/e " + test::Quote(alone));
    const std::wstring out = scratch_.file(L"out.msp");
    const std::wstring current = test::ModuleDirectory();
    SetCurrentDirectoryW(scratch_.path().c_str());
    for (const std::wstring& log : {out, std::wstring(L"OUT.MSP"), std::wstring(L".\\out.msp")}) {
        EXPECT_EQ(Run(L"/e " + test::Quote(out) + L" /exitcode /log " + test::Quote(log)), 0);
        EXPECT_EQ(test::ReadFileBytes(out), test::ReadFileBytes(alone))
            << "log " << Narrow(log) << " went into the patch";
    }
    SetCurrentDirectoryW(current.c_str());
}

TEST_F(RunReportTest, AppendsToAnExistingLog) {
    test::WriteFileText(LogFile(), "earlier\r\n");
    Run(L"/q " + LogArgument());
    const std::string first = LogText();
    ASSERT_EQ(first.compare(0, 9, "earlier\r\n"), 0) << first;
    Run(L"/q " + LogArgument());
    const std::string second = LogText();
    EXPECT_EQ(second.compare(0, first.size(), first), 0);
    EXPECT_GT(second.size(), first.size());
}

TEST_F(RunReportTest, EnablesTheInstallerLogOnlyWithLogAndBeforeTheFirstConfigure) {
    AddProduct(ProductA, L"1.0.0.0", L"Notes", L"1033");
    Run(L"/q " + LogArgument());
    std::vector<std::wstring> calls;
    for (const std::wstring& call : Installer().calls)
        if (call.find(L"MsiEnableLogW") == 0 || call.find(L"MsiConfigureProductExW") == 0)
            calls.push_back(call.substr(0, call.find(L'(')));
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(Narrow(calls[0]), "MsiEnableLogW");
    const std::vector<std::wstring> enable = Installer().CallsNamed(L"MsiEnableLogW");
    // Every message kind, verbose and extra debugging included, but not the
    // mode that keeps the log only when the install fails; appending.
    const DWORD everyKind = INSTALLLOGMODE_FATALEXIT | INSTALLLOGMODE_ERROR |
                            INSTALLLOGMODE_WARNING | INSTALLLOGMODE_USER | INSTALLLOGMODE_INFO |
                            INSTALLLOGMODE_RESOLVESOURCE | INSTALLLOGMODE_OUTOFDISKSPACE |
                            INSTALLLOGMODE_ACTIONSTART | INSTALLLOGMODE_ACTIONDATA |
                            INSTALLLOGMODE_COMMONDATA | INSTALLLOGMODE_PROPERTYDUMP |
                            INSTALLLOGMODE_VERBOSE | INSTALLLOGMODE_EXTRADEBUG;
    const std::wstring prefix = L"MsiEnableLogW(";
    const std::wstring arguments = enable[0].substr(prefix.size());
    const DWORD mode = std::stoul(arguments);
    EXPECT_EQ(mode & everyKind, everyKind) << "mode " << mode;
    EXPECT_EQ(mode & INSTALLLOGMODE_LOGONLYONERROR, 0u) << "mode " << mode;
    EXPECT_EQ(Narrow(arguments.substr(arguments.find(L", "))),
              ", " + Narrow(LogFile()) + ".msi.log, " +
                  std::to_string(INSTALLLOGATTRIBUTES_APPEND | INSTALLLOGATTRIBUTES_FLUSHEACHLINE) +
                  ")")
        << "appending, and every line written through before a restart can cut it off";

    test::ResetInstaller();
    Installer().anyPathIsPackage = true;
    SetPatch(L"1.1.0.0;1.0.0.0,", ProductA);
    AddProduct(ProductA, L"1.0.0.0", L"Notes", L"1033");
    Run(L"/q /exitcode");
    EXPECT_TRUE(Installer().CallsNamed(L"MsiEnableLogW").empty());
    EXPECT_EQ(Installer().CallsNamed(L"MsiConfigureProductExW").size(), 1u);
}

TEST_F(RunReportTest, GivesTheInstallerAFullLogPath) {
    AddProduct(ProductA, L"1.0.0.0", L"Notes", L"1033");
    const std::wstring current = test::ModuleDirectory();
    SetCurrentDirectoryW(logs_.path().c_str());
    Run(L"/q /log relative.log");
    SetCurrentDirectoryW(current.c_str());
    const std::vector<std::wstring> enable = Installer().CallsNamed(L"MsiEnableLogW");
    ASSERT_EQ(enable.size(), 1u);
    EXPECT_NE(enable[0].find(L", " + logs_.file(L"relative.log.msi.log") + L", "),
              std::wstring::npos)
        << Narrow(enable[0]);
    EXPECT_TRUE(test::FileExists(logs_.file(L"relative.log")));
}

// With or without a log, and whether or not it can be written: the same
// calls, boxes (with their error codes) and exit code.
TEST_F(RunReportTest, ChangesNothingElseWhetherOrNotTheLogCanBeWritten) {
    auto runWith = [&](const std::wstring& logArguments) {
        TearDown();
        SetUp();
        AddProduct(ProductA, L"1.0.0.0", L"Notes", L"1033");
        AddProduct(ProductB, L"0.9.0.0", L"Notizen", L"1031");
        Installer().configureResults[ProductA] = 1603;
        const int exitCode = Run(L"/exitcode " + logArguments);
        std::string calls;
        for (const std::wstring& call : Installer().calls)
            if (call.find(L"MsiEnableLogW") != 0) // the temporary name differs
                calls += Narrow(call.substr(0, call.find(L"MsiGetSummaryInformationW") == 0
                                                   ? call.find(L'(')
                                                   : call.find(L"PATCH="))) +
                         "\n";
        return std::to_string(exitCode) + "\n" + Describe(test::Reports()) + calls;
    };
    const std::string without = runWith(L"");
    EXPECT_NE(without.find("300 error=1603\n308\n"), std::string::npos) << without;
    EXPECT_EQ(runWith(LogArgument()), without);
    EXPECT_FALSE(LogText().empty());
    // A folder that cannot be made: a file has its name.
    test::WriteFileText(logs_.file(L"file"), "");
    EXPECT_EQ(runWith(L"/log " + test::Quote(logs_.file(L"file\\run.log"))), without);
    EXPECT_FALSE(test::FileExists(logs_.file(L"file\\run.log")));
    // A log file that another process holds without sharing.
    HANDLE locked =
        CreateFileW(LogFile().c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
    ASSERT_NE(locked, INVALID_HANDLE_VALUE);
    EXPECT_EQ(runWith(LogArgument()), without);
    CloseHandle(locked);
}

TEST_F(RunReportTest, WritesNoFileWithoutLog) {
    AddProduct(ProductA, L"1.0.0.0", L"Notes", L"1033");
    const std::wstring current = test::ModuleDirectory();
    SetCurrentDirectoryW(logs_.path().c_str());
    EXPECT_EQ(Run(L""), 0);
    SetCurrentDirectoryW(current.c_str());
    EXPECT_TRUE(test::ListDirectory(logs_.path()).empty());
    EXPECT_TRUE(LeftInTmp().empty());
    EXPECT_TRUE(Installer().CallsNamed(L"MsiEnableLogW").empty());
}

} // namespace
