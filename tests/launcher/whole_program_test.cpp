// PatchLauncher.exe started as a user starts it, under the platform.
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

namespace {

test::ProcessResult RunLauncher(const std::wstring& arguments, const std::wstring& directory) {
    return test::RunProcess(test::Quote(test::FullPath(PATCH_LAUNCHER_EXE)) + L" " + arguments,
                            directory);
}

const std::vector<std::uint8_t>& EmbeddedPatch() {
    static const std::vector<std::uint8_t> bytes = test::ReadFileBytes(EMBEDDED_PATCH_FILE);
    return bytes;
}

TEST(WholeProgram, ExtractWritesThePatchToTheGivenPathAndExitsZero) {
    test::ScratchDirectory scratch;
    const test::ProcessResult run = RunLauncher(L"/e out.msp", scratch.path());
    ASSERT_TRUE(run.started);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_TRUE(test::ReadFileBytes(scratch.file(L"out.msp")) == EmbeddedPatch());
}

// The first temporary name of a process is MSP2, whether or not TMP ends in a
// backslash.
class FirstTemporaryName : public testing::TestWithParam<const wchar_t*> {};

TEST_P(FirstTemporaryName, ExtractWithoutPathWritesMsp2IntoTmp) {
    test::ScratchDirectory scratch;
    test::ScopedEnvironment tmp(L"TMP", (scratch.path() + GetParam()).c_str());
    const test::ProcessResult run = RunLauncher(L"/e", scratch.path());
    EXPECT_EQ(run.exitCode, 0u);
    const std::vector<std::wstring> files = test::ListDirectory(scratch.path());
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(test::Narrow(files[0]), "MSP2");
    EXPECT_TRUE(test::ReadFileBytes(scratch.file(L"MSP2")) == EmbeddedPatch());
}

INSTANTIATE_TEST_SUITE_P(TmpEndings, FirstTemporaryName, testing::Values(L"", L"\\"),
                         [](const testing::TestParamInfo<const wchar_t*>& info) {
                             return info.param[0] == L'\0' ? "WithoutBackslash" : "WithBackslash";
                         });

TEST(WholeProgram, StopsAtPiAndWritesNothing) {
    test::ScratchDirectory scratch;
    test::ScopedEnvironment tmp(L"TMP", scratch.path().c_str());
    const test::ProcessResult run = RunLauncher(L"/pi /e x", scratch.path());
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_TRUE(test::ListDirectory(scratch.path()).empty());
}

TEST(WholeProgram, TakesTheLastExtractPath) {
    test::ScratchDirectory scratch;
    const test::ProcessResult run = RunLauncher(L"/e a.msp /e b.msp", scratch.path());
    EXPECT_EQ(run.exitCode, 0u);
    const std::vector<std::wstring> files = test::ListDirectory(scratch.path());
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(test::Narrow(files[0]), "b.msp");
}

} // namespace
