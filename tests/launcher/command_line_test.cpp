#include "common/program_state.h"
#include "launcher/launcher.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <exception>
#include <new>
#include <stdexcept>

namespace {

// While nonzero, every allocation of more than this many bytes fails.
std::size_t FailAllocationsOver = 0;

} // namespace

// The test binary's allocator, so that a test can make storing a path fail.
// Not inlined: the compiler would otherwise take the free() inside for one
// that does not match the allocation.
[[gnu::noinline]] void* operator new(std::size_t size) {
    if (FailAllocationsOver != 0 && size > FailAllocationsOver)
        throw std::bad_alloc();
    if (void* memory = std::malloc(size != 0 ? size : 1))
        return memory;
    throw std::bad_alloc();
}

[[gnu::noinline]] void operator delete(void* memory) noexcept {
    std::free(memory);
}

[[gnu::noinline]] void operator delete(void* memory, std::size_t) noexcept {
    std::free(memory);
}

namespace {

struct ParseCase {
    const wchar_t* arguments; // after the program path
    bool installMode;
    bool extractMode;
    const wchar_t* extractPath;
    bool infoMode;
    bool quietMode;
    const wchar_t* logPath = L"";
    bool exitCodeMode = false;
    // The other switches that are set and the arguments noted as ignored:
    // " help", " uninstall", " silent", " norestart", " ignored=[a][b]".
    const char* more = "";
};

std::string Describe(const RunMode& mode, bool quiet) {
    std::string more;
    if (mode.helpMode)
        more += " help";
    if (mode.uninstallMode)
        more += " uninstall";
    if (mode.silentMode)
        more += " silent";
    if (mode.noRestart)
        more += " norestart";
    if (!mode.ignoredArguments.empty()) {
        more += " ignored=";
        for (const std::wstring& argument : mode.ignoredArguments)
            more += "[" + test::Narrow(argument) + "]";
    }
    return "install=" + std::to_string(mode.installMode) +
           " extract=" + std::to_string(mode.extractMode) + " path='" +
           test::Narrow(mode.extractPath) + "' info=" + std::to_string(mode.infoMode) +
           " quiet=" + std::to_string(quiet) + " log='" + test::Narrow(mode.logPath) +
           "' exitcode=" + std::to_string(mode.exitCodeMode) + more;
}

class ParseCommandLineTest : public testing::TestWithParam<ParseCase> {};

TEST_P(ParseCommandLineTest, SetsRunModeAndQuietMode) {
    const ParseCase& c = GetParam();
    const std::wstring commandLine =
        std::wstring(L"\"C:\\some dir\\PatchLauncher.exe\" ") + c.arguments;
    ParseCommandLine(commandLine.c_str());

    RunMode expected;
    expected.installMode = c.installMode;
    expected.extractMode = c.extractMode;
    expected.extractPath = c.extractPath;
    expected.infoMode = c.infoMode;
    expected.logPath = c.logPath;
    expected.exitCodeMode = c.exitCodeMode;
    const std::string wanted = Describe(expected, c.quietMode) + c.more;
    const std::string actual = Describe(TheRunMode, QuietMode);
    EXPECT_EQ(actual, wanted) << "arguments: " << test::Narrow(c.arguments);
}

// What each argument list does, including the rules for the argument after "/e".
const ParseCase ParseCases[] = {
    {L"", true, false, L"", false, false},
    {L"/q", true, false, L"", false, true},
    {L"/e out.msp", false, true, L"out.msp", false, false},
    {L"/e", false, true, L"", false, false},
    {L"/i", false, false, L"", true, false},
    {L"/e out.msp /i", false, true, L"out.msp", true, false},
    {L"/i /e out.msp", false, false, L"", true, false},
    {L"/pi", false, false, L"", false, false},
    {L"/e out.msp /pi", false, true, L"out.msp", false, false},
    {L"/q /i", false, false, L"", true, true},
    {L"foo", true, false, L"", false, false, L"", false, " ignored=[foo]"},
    // Switches match whole and case-insensitively.
    {L"/Q", true, false, L"", false, true},
    {L"/Pi", false, false, L"", false, false},
    {L"/I", false, false, L"", true, false},
    {L"/E x", false, true, L"x", false, false},
    {L"/qq", true, false, L"", false, false, L"", false, " ignored=[/qq]"},
    {L"-q", true, false, L"", false, false, L"", false, " ignored=[-q]"},
    {L"q", true, false, L"", false, false, L"", false, " ignored=[q]"},
    {L"/x", true, false, L"", false, false, L"", false, " ignored=[/x]"},
    // Only ASCII letters fold: a dotless capital I is not "/i".
    {L"/\x0130", true, false, L"", false, false, L"", false, " ignored=[/\xC4\xB0]"},
    // The argument after "/e" is the path, whatever it holds.
    {L"/e /q", false, true, L"/q", false, false},
    {L"/e /i", false, true, L"/i", false, false},
    {L"/e a /e b", false, true, L"b", false, false},
    {L"/e a /e", false, true, L"a", false, false},
    {L"/e \"C:\\with space\\p.msp\"", false, true, L"C:\\with space\\p.msp", false, false},
    // "/i" and "/pi" end parsing.
    {L"/i /q", false, false, L"", true, false},
    {L"/pi /e x", false, false, L"", false, false},
    {L"/pi /i", false, false, L"", false, false},
    {L"/q /e x /i", false, true, L"x", true, true},
    // "/log" takes the next argument as the log path, whatever it holds.
    {L"/log C:\\x\\sp.log", true, false, L"", false, false, L"C:\\x\\sp.log"},
    {L"/log /q", true, false, L"", false, false, L"/q"},
    {L"/log /i", true, false, L"", false, false, L"/i"},
    {L"/log /exitcode", true, false, L"", false, false, L"/exitcode"},
    {L"/log a /log b", true, false, L"", false, false, L"b"},
    {L"/log", true, false, L"", false, false, L""},
    {L"/log a /log", true, false, L"", false, false, L""},
    {L"/log \"C:\\with space\\sp.log\"", true, false, L"", false, false, L"C:\\with space\\sp.log"},
    {L"/LOG x /Log y", true, false, L"", false, false, L"y"},
    {L"/logx a", true, false, L"", false, false, L"", false, " ignored=[/logx][a]"},
    // "/exitcode" sets the exit-code mode and parsing goes on.
    {L"/exitcode", true, false, L"", false, false, L"", true},
    {L"/EXITCODE /q", true, false, L"", false, true, L"", true},
    {L"/exitcodes", true, false, L"", false, false, L"", false, " ignored=[/exitcodes]"},
    {L"-exitcode", true, false, L"", false, false, L"", false, " ignored=[-exitcode]"},
    // They combine with the other switches.
    {L"/q /exitcode /log C:\\x\\sp.log", true, false, L"", false, true, L"C:\\x\\sp.log", true},
    {L"/log l.txt /e out.msp /exitcode", false, true, L"out.msp", false, false, L"l.txt", true},
    {L"/e /log", false, true, L"/log", false, false, L""},
    {L"/exitcode /log l.txt /i", false, false, L"", true, false, L"l.txt", true},
    {L"/e out.msp /log l.txt /pi /exitcode", false, true, L"out.msp", false, false, L"l.txt"},
    // "/i" and "/pi" end parsing before them.
    {L"/i /log x", false, false, L"", true, false, L""},
    {L"/i /exitcode", false, false, L"", true, false, L"", false},
    {L"/pi /log x /exitcode", false, false, L"", false, false, L"", false},
    // "/qn" and "/quiet" are "/q" without the installer's interface too.
    {L"/qn", true, false, L"", false, true, L"", false, " silent"},
    {L"/QUIET /e x", false, true, L"x", false, true, L"", false, " silent"},
    {L"/qn /i", false, false, L"", true, true, L"", false, " silent"},
    {L"/qnx /quiets", true, false, L"", false, false, L"", false, " ignored=[/qnx][/quiets]"},
    {L"/norestart", true, false, L"", false, false, L"", false, " norestart"},
    {L"/q /NoRestart /exitcode", true, false, L"", false, true, L"", true, " norestart"},
    {L"/e /norestart", false, true, L"/norestart", false, false},
    // Help ends parsing and clears every other mode.
    {L"/?", false, false, L"", false, false, L"", false, " help"},
    {L"/h", false, false, L"", false, false, L"", false, " help"},
    {L"/HELP /q", false, false, L"", false, false, L"", false, " help"},
    {L"/q /e x /i /?", false, true, L"x", true, true},
    {L"/e x /? /i", false, false, L"x", false, false, L"", false, " help"},
    {L"/exitcode /log l /?", false, false, L"", false, false, L"l", true, " help"},
    {L"/e /?", false, true, L"/?", false, false},
    {L"-? /help2", true, false, L"", false, false, L"", false, " ignored=[-?][/help2]"},
    // "/uninstall" makes the install mode remove the patch; with the other
    // switches as an install takes them, and nothing else changes.
    {L"/uninstall", true, false, L"", false, false, L"", false, " uninstall"},
    {L"/UnInstall", true, false, L"", false, false, L"", false, " uninstall"},
    {L"/uninstall /qn /norestart /exitcode /log C:\\x\\u.log", true, false, L"", false, true,
     L"C:\\x\\u.log", true, " uninstall silent norestart"},
    {L"/q /log u.log /uninstall", true, false, L"", false, true, L"u.log", false, " uninstall"},
    {L"/uninstall /e x", false, true, L"x", false, false, L"", false, " uninstall"},
    {L"/uninstall /i", false, false, L"", true, false, L"", false, " uninstall"},
    {L"/e /uninstall", false, true, L"/uninstall", false, false},
    {L"/log /uninstall", true, false, L"", false, false, L"/uninstall"},
    {L"/i /uninstall", false, false, L"", true, false},
    {L"/uninstall /?", false, false, L"", false, false, L"", false, " help"},
    {L"/uninstalls -uninstall uninstall /x", true, false, L"", false, false, L"", false,
     " ignored=[/uninstalls][-uninstall][uninstall][/x]"},
};

INSTANTIATE_TEST_SUITE_P(Arguments, ParseCommandLineTest, testing::ValuesIn(ParseCases));

TEST(ParseCommandLine, ResetsStateOfAnEarlierParse) {
    for (const wchar_t* earlier :
         {L"p.exe /qn /norestart junk /e x /exitcode /log l.txt /?", L"p.exe /uninstall /q /i"}) {
        ParseCommandLine(earlier);
        ParseCommandLine(L"p.exe");
        EXPECT_EQ(Describe(TheRunMode, QuietMode),
                  "install=1 extract=0 path='' info=0 quiet=0 log='' exitcode=0")
            << test::Narrow(earlier);
    }
}

// A path that cannot be stored ends parsing there, with the path as it was.
// The throw and the catch run through the exception runtime that
// PatchLauncher.exe carries (launcher/exception_globals.cpp).
TEST(ParseCommandLine, EndsWhereAPathCannotBeStored) {
    const std::wstring longPath(4000, L'x'); // 8000 bytes and more to store
    const struct {
        std::wstring arguments;
        const char* expected;
    } cases[] = {
        {L"/e a /e " + longPath + L" /q",
         "install=0 extract=1 path='a' info=0 quiet=0 log='' exitcode=0"},
        {L"/exitcode /log " + longPath + L" /i",
         "install=1 extract=0 path='' info=0 quiet=0 log='' exitcode=1"},
    };
    for (const auto& c : cases) {
        const std::wstring commandLine = L"p.exe " + c.arguments;
        FailAllocationsOver = 4096;
        ParseCommandLine(commandLine.c_str());
        FailAllocationsOver = 0;
        EXPECT_EQ(Describe(TheRunMode, QuietMode), c.expected)
            << test::Narrow(c.arguments.substr(0, 16));
    }
}

// That runtime keeps what is in flight: a destructor run by the unwinding
// counts one exception uncaught, and a rethrow finds the one being handled.
TEST(LauncherExceptionRuntime, KeepsTheExceptionsInFlight) {
    struct Witness {
        int& uncaught;
        ~Witness() { uncaught = std::uncaught_exceptions(); }
    };
    int uncaughtWhileUnwinding = -1;
    int uncaughtInHandler = -1;
    std::string caught;
    try {
        try {
            const Witness witness{uncaughtWhileUnwinding};
            throw std::length_error("first");
        } catch (const std::length_error&) {
            uncaughtInHandler = std::uncaught_exceptions();
            throw;
        }
    } catch (const std::exception& error) {
        caught = error.what();
    }
    EXPECT_EQ(uncaughtWhileUnwinding, 1);
    EXPECT_EQ(uncaughtInHandler, 0);
    EXPECT_EQ(caught, "first");
    EXPECT_FALSE(std::current_exception()) << "an exception is still being handled";
}

TEST(ParseCommandLine, NeverExaminesTheProgramPath) {
    ParseCommandLine(L"/q /e");
    EXPECT_EQ(Describe(TheRunMode, QuietMode),
              "install=0 extract=1 path='' info=0 quiet=0 log='' exitcode=0");
    ParseCommandLine(L"/exitcode");
    EXPECT_EQ(Describe(TheRunMode, QuietMode),
              "install=1 extract=0 path='' info=0 quiet=0 log='' exitcode=0");
}

} // namespace
