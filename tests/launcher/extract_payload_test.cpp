#include "common/holder.h"
#include "common/program_state.h"
#include "patch/patch.h"
#include "tests/support/import_redirect.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using test::FileExists;
using test::Narrow;
using test::ReadFileBytes;

const std::vector<std::uint8_t>& EmbeddedPayload() {
    static const std::vector<std::uint8_t> bytes = ReadFileBytes(TEST_PAYLOAD_FILE);
    return bytes;
}

// The number at the end of a temporary name "...MSP<n>".
unsigned long NameNumber(const std::wstring& path) {
    const std::wstring::size_type stem = path.rfind(L"MSP");
    return stem == std::wstring::npos ? 0 : std::wcstoul(path.c_str() + stem + 3, nullptr, 10);
}

class ExtractPayloadTest : public testing::Test {
  protected:
    void SetUp() override { ASSERT_GT(EmbeddedPayload().size(), 4u * 1024 * 1024); }

    // Extracts to a fresh temporary name in scratch_ (TMP points there).
    std::wstring ExtractToTemporary() {
        std::wstring path;
        EXPECT_TRUE(ExtractPatchPayload(path));
        return path;
    }

    test::ScratchDirectory scratch_;
};

TEST_F(ExtractPayloadTest, WritesTheEmbeddedBytesUnchangedToTheGivenPath) {
    std::wstring path = scratch_.file(L"out.msp");
    ASSERT_TRUE(ExtractPatchPayload(path));
    EXPECT_EQ(Narrow(path), Narrow(scratch_.file(L"out.msp"))) << "a given path is not changed";
    EXPECT_TRUE(ReadFileBytes(path) == EmbeddedPayload());
}

TEST_F(ExtractPayloadTest, TruncatesAnExistingFileToExactlyThePayload) {
    std::wstring path = scratch_.file(L"existing.msp");
    std::vector<std::uint8_t> longer(EmbeddedPayload().size() + 4096, 0x5A);
    test::WriteFileBytes(path, longer);
    ASSERT_TRUE(ExtractPatchPayload(path));
    const std::vector<std::uint8_t> written = ReadFileBytes(path);
    EXPECT_EQ(written.size(), EmbeddedPayload().size());
    EXPECT_TRUE(written == EmbeddedPayload());
}

TEST_F(ExtractPayloadTest, FailsInAMissingDirectoryAndCreatesNothing) {
    std::wstring path = scratch_.file(L"missing\\out.msp");
    EXPECT_FALSE(ExtractPatchPayload(path));
    EXPECT_FALSE(FileExists(scratch_.file(L"missing")));
    EXPECT_TRUE(test::ListDirectory(scratch_.path()).empty());
}

// Under Wine, drive Z: is the host's root, and the host's /dev/full refuses
// every write for lack of space: the write's own error is what remains.
TEST_F(ExtractPayloadTest, FailsWithTheWritesErrorWhenTheWriteFails) {
    std::wstring path = L"Z:\\dev\\full";
    {
        const FileHandle device(CreateFileW(path.c_str(), GENERIC_WRITE,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                            OPEN_EXISTING, 0, nullptr));
        if (!device)
            GTEST_SKIP() << "no device that refuses writes on this platform: " << GetLastError();
    }
    SetLastError(777);
    EXPECT_FALSE(ExtractPatchPayload(path));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_DISK_FULL));
}

TEST_F(ExtractPayloadTest, NamesTheFileAfterTmpWhenItEndsInABackslash) {
    test::ScopedEnvironment tmp(L"TMP", (scratch_.path() + L"\\").c_str());
    const std::wstring path = ExtractToTemporary();
    const std::wstring expectedStem = scratch_.path() + L"\\MSP";
    EXPECT_EQ(Narrow(path.substr(0, expectedStem.size())), Narrow(expectedStem));
    EXPECT_GE(NameNumber(path), 2ul) << Narrow(path);
    EXPECT_EQ(path.find(L'.', scratch_.path().size()), std::wstring::npos)
        << "no extension: " << Narrow(path);
    EXPECT_TRUE(ReadFileBytes(path) == EmbeddedPayload());
}

TEST_F(ExtractPayloadTest, AddsABackslashAfterTmpWithoutOne) {
    test::ScopedEnvironment tmp(L"TMP", scratch_.path().c_str());
    const std::wstring path = ExtractToTemporary();
    EXPECT_EQ(Narrow(path), Narrow(scratch_.path() + L"\\MSP" + std::to_wstring(NameNumber(path))));
}

TEST_F(ExtractPayloadTest, UsesTheSystemTemporaryDirectoryWhenTmpIsUnset) {
    test::ScopedEnvironment tmp(L"TMP", nullptr);
    test::ScopedEnvironment temp(L"TEMP", scratch_.path().c_str());
    const std::wstring path = ExtractToTemporary();
    EXPECT_EQ(Narrow(path), Narrow(scratch_.path() + L"\\MSP" + std::to_wstring(NameNumber(path))));
    EXPECT_TRUE(FileExists(path));
}

TEST_F(ExtractPayloadTest, GivesConsecutiveNumbersToTwoExtractions) {
    test::ScopedEnvironment tmp(L"TMP", scratch_.path().c_str());
    const unsigned long first = NameNumber(ExtractToTemporary());
    const unsigned long second = NameNumber(ExtractToTemporary());
    EXPECT_EQ(second, first + 1);
}

TEST_F(ExtractPayloadTest, SkipsNamesThatAreTaken) {
    test::ScopedEnvironment tmp(L"TMP", scratch_.path().c_str());
    const unsigned long last = NameNumber(ExtractToTemporary());
    const std::wstring taken = scratch_.file(L"MSP" + std::to_wstring(last + 1));
    test::WriteFileText(taken, "someone else's");
    CreateDirectoryW(scratch_.file(L"MSP" + std::to_wstring(last + 2)).c_str(), nullptr);

    const std::wstring path = ExtractToTemporary();
    EXPECT_EQ(NameNumber(path), last + 3) << Narrow(path);
    EXPECT_TRUE(ReadFileBytes(taken) ==
                std::vector<std::uint8_t>(
                    {'s', 'o', 'm', 'e', 'o', 'n', 'e', ' ', 'e', 'l', 's', 'e', '\'', 's'}))
        << "a taken name is never written";
}

// A directory that the name test finds but in which no name can be made: the
// first candidate counts as free, and the create fails at once with the
// platform's own error instead of after probing every number.
struct UnusableDirectoryCase {
    const char* name;
    std::wstring (*make)(const test::ScratchDirectory& scratch); // returns the TMP value
};

// A file where the directory should be: a name in it is not found (3).
std::wstring MakeFileAsDirectory(const test::ScratchDirectory& scratch) {
    const std::wstring file = scratch.file(L"a-file");
    test::WriteFileText(file, "not a directory");
    return file;
}

// A directory of 256 characters: it fits the 260-character path limit,
// "\MSP<n>" after it does not (206 on Windows; Wine has no such limit).
std::wstring MakeDirectoryAtThePathLimit(const test::ScratchDirectory& scratch) {
    constexpr std::size_t Length = 256;
    std::wstring directory = scratch.path();
    while (directory.size() < Length) {
        const std::size_t room = Length - directory.size() - 1; // after the backslash
        directory += L"\\" + std::wstring(std::min<std::size_t>(room, 60), L'd');
        CreateDirectoryW((L"\\\\?\\" + directory).c_str(), nullptr);
    }
    return directory;
}

class UnusableDirectoryTest : public ExtractPayloadTest,
                              public testing::WithParamInterface<UnusableDirectoryCase> {};

TEST_P(UnusableDirectoryTest, FailsAtOnceWithTheCreatesOwnError) {
    const std::wstring directory = GetParam().make(scratch_);
    ASSERT_TRUE(FileExists(directory)) << "the name test must find it";
    // What the platform answers to a create there.
    const std::wstring probe = directory + L"\\MSP1";
    DWORD expected = 0;
    {
        const FileHandle file(CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
        expected = file ? 0 : GetLastError();
    }
    if (expected == 0) {
        DeleteFileW(probe.c_str());
        GTEST_SKIP() << "the platform makes a name there";
    }
    test::ScopedEnvironment tmp(L"TMP", directory.c_str());
    std::wstring path;
    SetLastError(777);
    EXPECT_FALSE(ExtractPatchPayload(path));
    EXPECT_EQ(GetLastError(), expected);
    EXPECT_EQ(Narrow(path.substr(0, directory.size() + 4)), Narrow(directory + L"\\MSP"));
}

INSTANTIATE_TEST_SUITE_P(
    Directories, UnusableDirectoryTest,
    testing::Values(UnusableDirectoryCase{"FileAsDirectory", MakeFileAsDirectory},
                    UnusableDirectoryCase{"DirectoryAtThePathLimit", MakeDirectoryAtThePathLimit}),
    [](const testing::TestParamInfo<UnusableDirectoryCase>& info) {
        return std::string(info.param.name);
    });

// The install flow's extraction: the file holds the payload, and while the
// handle it hands back is held, readers are admitted and writers, deleting
// and renaming are refused; once it is closed, the file is free again.
TEST_F(ExtractPayloadTest, HandsBackALockThatAdmitsOnlyReaders) {
    test::ScopedEnvironment tmp(L"TMP", scratch_.path().c_str());
    std::wstring path;
    FileHandle lock;
    ASSERT_TRUE(ExtractPatchPayload(path, lock)) << GetLastError();
    ASSERT_TRUE(lock);
    EXPECT_EQ(Narrow(path.substr(0, scratch_.path().size() + 4)), Narrow(scratch_.file(L"MSP")));
    EXPECT_TRUE(ReadFileBytes(path) == EmbeddedPayload()) << "readers are admitted";

    {
        const FileHandle writer(CreateFileW(
            path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        EXPECT_FALSE(writer);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_SHARING_VIOLATION));
    }
    EXPECT_FALSE(DeleteFileW(path.c_str()));
    EXPECT_FALSE(MoveFileW(path.c_str(), (path + L".moved").c_str()));
    EXPECT_TRUE(FileExists(path));

    lock.reset();
    EXPECT_TRUE(DeleteFileW(path.c_str())) << GetLastError();
}

TEST_F(ExtractPayloadTest, KeepsTheChosenNameButCreatesNothingWhenTheResourceIsMissing) {
    test::ScopedEnvironment tmp(L"TMP", scratch_.path().c_str());
    const HINSTANCE own = ModuleInstance;
    ModuleInstance = GetModuleHandleW(L"kernel32.dll"); // a module without the payload
    std::wstring path;
    const bool extracted = ExtractPatchPayload(path);
    ModuleInstance = own;
    EXPECT_FALSE(extracted);
    EXPECT_NE(NameNumber(path), 0ul) << Narrow(path);
    EXPECT_FALSE(FileExists(path)) << Narrow(path);
}

// The name that an extraction with an empty path chooses, observed without
// creating anything: with a module that carries no payload the extraction
// stops after choosing.
std::wstring ChosenNameWithoutPayload() {
    const HINSTANCE own = ModuleInstance;
    ModuleInstance = GetModuleHandleW(L"kernel32.dll");
    std::wstring path;
    EXPECT_FALSE(ExtractPatchPayload(path));
    ModuleInstance = own;
    return path;
}

TEST_F(ExtractPayloadTest, FallsBackToTheRootOfTheCurrentDriveWhenTmpDoesNotExist) {
    // The system's temporary path follows TMP whether or not it exists, so
    // neither TMP nor the proposed directory exists, and "\" comes next.
    test::ScopedEnvironment tmp(L"TMP", scratch_.file(L"missing").c_str());
    const std::wstring path = ChosenNameWithoutPayload();
    EXPECT_EQ(Narrow(path), "\\MSP" + std::to_string(NameNumber(path)));
    EXPECT_FALSE(FileExists(path));
}

TEST_F(ExtractPayloadTest, TakesATmpThatNamesAFileAndFailsAtTheCreate) {
    // Only existence is tested: a file in TMP's place is taken as the
    // directory, and the create below it fails, leaving the file alone.
    const std::wstring file = scratch_.file(L"not-a-directory");
    test::WriteFileText(file, "a file");
    test::ScopedEnvironment tmp(L"TMP", file.c_str());
    std::wstring path;
    EXPECT_FALSE(ExtractPatchPayload(path));
    EXPECT_EQ(Narrow(path), Narrow(file + L"\\MSP" + std::to_wstring(NameNumber(path))));
    EXPECT_EQ(test::ReadFileBytes(file).size(), 6u);
    EXPECT_EQ(test::ListDirectory(scratch_.path()).size(), 1u);
}

using GetFileAttributesFunction = DWORD(WINAPI*)(LPCWSTR);
GetFileAttributesFunction RealGetFileAttributes = nullptr;

// Every probe of a temporary name answers "nothing there", as when the name
// is taken between the probe and the create; directories are seen as they are.
DWORD WINAPI NoTemporaryNameIsTaken(LPCWSTR path) {
    const std::wstring name(path);
    if (name.find(L"\\MSP") != std::wstring::npos) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_FILE_ATTRIBUTES;
    }
    return RealGetFileAttributes(path);
}

TEST_F(ExtractPayloadTest, TakesTheNextNameWhenTheChosenOneAppearsBeforeTheCreate) {
    test::ScopedEnvironment tmp(L"TMP", scratch_.path().c_str());
    const unsigned long last = NameNumber(ExtractToTemporary());
    const std::wstring taken = scratch_.file(L"MSP" + std::to_wstring(last + 1));
    test::WriteFileText(taken, "appeared");

    std::wstring path;
    bool extracted = false;
    {
        test::ImportRedirect probe(L"kernel32.dll", "GetFileAttributesW",
                                   reinterpret_cast<void*>(&NoTemporaryNameIsTaken));
        RealGetFileAttributes = reinterpret_cast<GetFileAttributesFunction>(probe.original());
        extracted = ExtractPatchPayload(path);
    }
    ASSERT_TRUE(extracted);
    EXPECT_EQ(NameNumber(path), last + 2) << Narrow(path);
    EXPECT_EQ(test::ReadFileBytes(taken).size(), 8u) << "the file that appeared is not touched";
    EXPECT_TRUE(ReadFileBytes(path) == EmbeddedPayload());
}

} // namespace
