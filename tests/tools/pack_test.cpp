// The image that packing writes, read back as the loader and the platform's
// image tools read it: the build's PatchLauncher.exe and a launcher packed
// around a payload of odd length that is not a patch.
#include "common/holder.h"
#include "kit/launcher_image.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <imagehlp.h>

#include <cstddef>
#include <cstring>

namespace {

using test::Narrow;

struct Image {
    IMAGE_NT_HEADERS64 headers = {};
    std::vector<IMAGE_SECTION_HEADER> sections;
    IMAGE_RESOURCE_DATA_ENTRY payload = {}; // the MSP/IDR_MSP entry
    std::uint64_t payloadOffset = 0;        // in the file
};

template <typename T> T At(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
    T value = {};
    if (offset + sizeof value <= bytes.size())
        std::memcpy(&value, bytes.data() + offset, sizeof value);
    return value;
}

// The headers, and the payload's entry found by walking the resource
// directory down its first entry (the named type "MSP" sorts first).
Image ReadImage(const std::vector<std::uint8_t>& bytes) {
    Image image;
    const std::size_t nt = std::size_t(At<IMAGE_DOS_HEADER>(bytes, 0).e_lfanew);
    image.headers = At<IMAGE_NT_HEADERS64>(bytes, nt);
    const std::size_t table = nt + offsetof(IMAGE_NT_HEADERS64, OptionalHeader) +
                              image.headers.FileHeader.SizeOfOptionalHeader;
    for (WORD i = 0; i < image.headers.FileHeader.NumberOfSections; ++i)
        image.sections.push_back(
            At<IMAGE_SECTION_HEADER>(bytes, table + i * sizeof(IMAGE_SECTION_HEADER)));
    const DWORD rva =
        image.headers.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_RESOURCE].VirtualAddress;
    for (const IMAGE_SECTION_HEADER& section : image.sections) {
        if (section.VirtualAddress != rva)
            continue;
        std::size_t entry = 0;
        for (int level = 0; level < 3; ++level) {
            const DWORD target = At<DWORD>(bytes, section.PointerToRawData + entry +
                                                      sizeof(IMAGE_RESOURCE_DIRECTORY) + 4);
            entry = target & 0x7FFFFFFF;
        }
        image.payload = At<IMAGE_RESOURCE_DATA_ENTRY>(bytes, section.PointerToRawData + entry);
        image.payloadOffset = section.PointerToRawData + image.payload.OffsetToData - rva;
    }
    return image;
}

class PackedImage : public testing::TestWithParam<bool> {
  protected:
    // The build's launcher, or one packed here around 6 MB and one byte.
    void SetUp() override {
        launcher_ = test::FullPath(PATCH_LAUNCHER_EXE);
        patch_ = EMBEDDED_PATCH_FILE;
        if (GetParam()) {
            std::vector<std::uint8_t> odd(6 * 1024 * 1024 + 1);
            for (std::size_t i = 0; i < odd.size(); ++i)
                odd[i] = std::uint8_t((i * 2654435761u) >> 13);
            patch_ = scratch_.file(L"odd.bin");
            test::WriteFileBytes(patch_, odd);
            launcher_ = scratch_.file(L"Odd.exe");
            ASSERT_TRUE(
                test::CopyLauncherWithPatch(test::FullPath(PATCH_LAUNCHER_EXE), patch_, launcher_));
        }
        bytes_ = test::ReadFileBytes(launcher_);
        image_ = ReadImage(bytes_);
        const std::wstring stub = test::FullPath(PATCH_LAUNCHER_EXE);
        stub_ = ReadImage(
            test::ReadFileBytes(stub.substr(0, stub.find_last_of(L'\\') + 1) + kit::StubFileName));
    }

    test::ScratchDirectory scratch_;
    std::wstring launcher_, patch_;
    std::vector<std::uint8_t> bytes_;
    Image image_, stub_;
};

TEST_P(PackedImage, CarriesThePayloadOnPagesOfItsOwnInTheFileAndTheImage) {
    const std::vector<std::uint8_t> patch = test::ReadFileBytes(patch_);
    ASSERT_EQ(image_.payload.Size, patch.size());
    EXPECT_EQ(image_.payloadOffset % kit::PageSize, 0u);
    EXPECT_EQ(image_.payload.OffsetToData % kit::PageSize, 0u);
    ASSERT_LE(image_.payloadOffset + patch.size(), bytes_.size());
    EXPECT_TRUE(std::equal(patch.begin(), patch.end(), bytes_.begin() + image_.payloadOffset));

    // Where the loader finds it, mapped as an image.
    const LoadedModule module(
        LoadLibraryExW(launcher_.c_str(), nullptr, LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    ASSERT_TRUE(module) << GetLastError();
    const HRSRC resource = FindResourceW(module.get(), L"IDR_MSP", L"MSP");
    ASSERT_NE(resource, nullptr);
    const auto base = reinterpret_cast<ULONG_PTR>(module.get()) & ~ULONG_PTR(3);
    const auto data =
        reinterpret_cast<ULONG_PTR>(LockResource(LoadResource(module.get(), resource)));
    EXPECT_EQ(data - base, image_.payload.OffsetToData);
    EXPECT_EQ(SizeofResource(module.get(), resource), patch.size());
}

TEST_P(PackedImage, HeadersDescribeTheImageAndItsChecksum) {
    const IMAGE_OPTIONAL_HEADER64& optional = image_.headers.OptionalHeader;
    ASSERT_FALSE(image_.sections.empty());
    const IMAGE_SECTION_HEADER& last = image_.sections.back();
    EXPECT_EQ(optional.SizeOfImage,
              last.VirtualAddress +
                  (last.Misc.VirtualSize + kit::PageSize - 1) / kit::PageSize * kit::PageSize);
    // The sections are the stub's; only the resources grew, and what
    // follows them moved.
    ASSERT_EQ(image_.sections.size(), stub_.sections.size());
    std::int64_t grown = 0;
    for (std::size_t i = 0; i < image_.sections.size(); ++i) {
        const IMAGE_SECTION_HEADER& section = image_.sections[i];
        if (section.VirtualAddress ==
            optional.DataDirectory[IMAGE_DIRECTORY_ENTRY_RESOURCE].VirtualAddress) {
            EXPECT_EQ(optional.DataDirectory[IMAGE_DIRECTORY_ENTRY_RESOURCE].Size,
                      section.Misc.VirtualSize);
            grown = std::int64_t(section.SizeOfRawData) - stub_.sections[i].SizeOfRawData;
        }
        EXPECT_EQ(section.PointerToRawData - stub_.sections[i].PointerToRawData,
                  section.VirtualAddress - stub_.sections[i].VirtualAddress)
            << "file and image move alike: " << i;
    }
    EXPECT_GT(grown, 0);
    EXPECT_EQ(std::int64_t(optional.SizeOfInitializedData) -
                  stub_.headers.OptionalHeader.SizeOfInitializedData,
              grown);
    EXPECT_EQ(optional.DataDirectory[IMAGE_DIRECTORY_ENTRY_BASERELOC].VirtualAddress,
              image_.sections.back().VirtualAddress)
        << "the relocations moved with their section";
    DWORD stored = 0, computed = 0;
    ASSERT_EQ(MapFileAndCheckSumW(launcher_.c_str(), &stored, &computed), DWORD(CHECKSUM_SUCCESS));
    EXPECT_EQ(stored, computed);
    EXPECT_EQ(stored, optional.CheckSum);
}

TEST_P(PackedImage, KeepsTheResourceSectionReadOnly) {
    const DWORD rva =
        image_.headers.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_RESOURCE].VirtualAddress;
    for (std::size_t i = 0; i < image_.sections.size(); ++i) {
        if (image_.sections[i].VirtualAddress != rva)
            continue;
        const DWORD flags = image_.sections[i].Characteristics;
        EXPECT_EQ(flags & IMAGE_SCN_MEM_WRITE, 0u) << std::hex << flags;
        EXPECT_EQ(flags, stub_.sections[i].Characteristics & ~DWORD(IMAGE_SCN_MEM_WRITE))
            << std::hex << flags << ": the stub's other flags";
        return;
    }
    FAIL() << "no resource section";
}

TEST_P(PackedImage, IsTheSameBytesWhenPackedAgainElsewhere) {
    test::ScratchDirectory elsewhere;
    const std::wstring again = elsewhere.file(L"Again.exe");
    ASSERT_TRUE(test::CopyLauncherWithPatch(test::FullPath(PATCH_LAUNCHER_EXE), patch_, again));
    EXPECT_TRUE(test::ReadFileBytes(again) == bytes_);
}

INSTANTIATE_TEST_SUITE_P(BuildsLauncherAndAnOddPayload, PackedImage, testing::Bool());

// Packing the sample patch over an earlier launcher in a folder of its own,
// in this process.
class PackOver : public testing::Test {
  protected:
    void SetUp() override {
        const std::wstring launcher = test::FullPath(PATCH_LAUNCHER_EXE);
        stub_ = launcher.substr(0, launcher.find_last_of(L'\\') + 1) + kit::StubFileName;
        output_ = scratch_.file(L"Launcher.exe");
        test::WriteFileText(output_, "an earlier launcher");
    }

    bool Pack(const kit::PatchCheck& check = nullptr,
              const kit::Branding& branding = kit::Branding()) {
        kit::PackedLauncher packed;
        return kit::PackLauncher(stub_, EMBEDDED_PATCH_FILE, branding, output_, check, packed,
                                 error_);
    }

    test::ScratchDirectory scratch_;
    std::wstring stub_, output_, error_;
};

// Opens the earlier launcher as a virus scanner does, without letting it be
// renamed or deleted, for `holdMs` (or until the test ends).
class Scanner {
  public:
    Scanner(const std::wstring& path, DWORD holdMs)
        : holdMs_(holdMs),
          file_(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)),
          release_(CreateThread(nullptr, 0, Release, this, 0, nullptr)) {}
    ~Scanner() {
        WaitForSingleObject(release_.get(), INFINITE);
        file_.reset();
    }
    bool holding() const { return file_ && release_; }

  private:
    static DWORD WINAPI Release(void* self) {
        Scanner& scanner = *static_cast<Scanner*>(self);
        if (scanner.holdMs_ != INFINITE) {
            Sleep(scanner.holdMs_);
            scanner.file_.reset();
        }
        return 0;
    }
    // In this order: the thread that release_ starts reads the others.
    DWORD holdMs_;
    FileHandle file_;
    KernelHandle release_;
};

TEST_F(PackOver, WaitsForAScannerThatHoldsTheEarlierLauncherForAMoment) {
    Scanner scanner(output_, 1000);
    ASSERT_TRUE(scanner.holding()) << GetLastError();
    EXPECT_TRUE(Pack()) << test::Narrow(error_);
    EXPECT_TRUE(test::ReadFileBytes(output_) ==
                test::ReadFileBytes(test::FullPath(PATCH_LAUNCHER_EXE)));
    EXPECT_EQ(test::ListDirectory(scratch_.path()), std::vector<std::wstring>{L"Launcher.exe"});
}

TEST_F(PackOver, CountsItsTriesWhenTheEarlierLauncherStaysHeld) {
    {
        Scanner scanner(output_, kit::FileStepRetryMs + 2000);
        ASSERT_TRUE(scanner.holding()) << GetLastError();
        EXPECT_FALSE(Pack());
    }
    const std::string error = test::Narrow(error_);
    EXPECT_NE(error.find("Launcher.exe: the earlier launcher cannot be replaced: it is in use by "
                         "another program (error 32), "),
              std::string::npos)
        << error;
    EXPECT_NE(error.find(" tries in 5 s; it is as it was."), std::string::npos) << error;
    EXPECT_EQ(test::ReadFileBytes(output_),
              (std::vector<std::uint8_t>{'a', 'n', ' ', 'e', 'a', 'r', 'l', 'i', 'e', 'r', ' ', 'l',
                                         'a', 'u', 'n', 'c', 'h', 'e', 'r'}));
    EXPECT_EQ(test::ListDirectory(scratch_.path()), std::vector<std::wstring>{L"Launcher.exe"});
}

// Names that are no well-formed text, passed as a build passes them (through
// CreateProcessW), are refused with the earlier launcher left as it was; a
// refusal quotes at most a short part of a long name.
TEST_F(PackOver, RefusesNamesThatAreNoWellFormedTextAndQuotesLongNamesShortened) {
    const std::wstring pack =
        test::Quote(stub_.substr(0, stub_.find_last_of(L'\\') + 1) + L"patchkit.exe") +
        L" pack --patch " + test::Quote(test::FullPath(EMBEDDED_PATCH_FILE)) + L" --stub " +
        test::Quote(stub_) + L" --out " + test::Quote(output_);
    for (const std::wstring& names :
         {std::wstring(L"--maker Acme\xD800Widgets"), std::wstring(L"--maker Acme\xD83D"),
          std::wstring(L"--maker Acme --maker-ja \xDC00\x30A2")}) {
        const test::ProcessResult run = test::RunProcess(pack + L" " + names);
        EXPECT_TRUE(run.started && run.exitCode == 1) << run.exitCode;
        EXPECT_EQ(test::ReadFileBytes(output_).size(), 19u) << "the earlier launcher stays";
        EXPECT_EQ(test::ListDirectory(scratch_.path()), std::vector<std::wstring>{L"Launcher.exe"});
    }
    kit::Branding branding;
    branding.maker = L"Acme\xD800";
    EXPECT_FALSE(Pack(nullptr, branding));
    EXPECT_EQ(error_.rfind(L"--maker 'Acme\\uD800' is not well-formed text", 0), 0u)
        << Narrow(error_);
    // One too long for message 307, one refused by the name's rules.
    for (const std::wstring& name : {std::wstring(2000, L'x'), std::wstring(1999, L'x') + L"%"}) {
        branding.maker = name;
        EXPECT_FALSE(Pack(nullptr, branding));
        EXPECT_NE(error_.find(L"(2000 characters)"), std::wstring::npos) << Narrow(error_);
        EXPECT_LT(error_.size(), 400u) << Narrow(error_);
    }
}

TEST_F(PackOver, RefusesAPatchThatChangedWhileItWasPacked) {
    // Another program writes to the patch past the pack's share modes, as a
    // Linux pipeline step can: here only its time of writing moves on.
    const std::wstring patch = scratch_.file(L"patch.msp");
    ASSERT_TRUE(CopyFileW(EMBEDDED_PATCH_FILE, patch.c_str(), FALSE));
    kit::PackedLauncher packed;
    const bool written = kit::PackLauncher(
        stub_, patch, kit::Branding(), output_,
        [](const std::wstring& path) {
            const FileHandle file(CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
            FILETIME later = {};
            GetSystemTimeAsFileTime(&later);
            later.dwHighDateTime += 1;
            return file && SetFileTime(file.get(), nullptr, nullptr, &later)
                       ? std::wstring()
                       : L"the test could not touch the patch";
        },
        packed, error_);
    EXPECT_FALSE(written);
    EXPECT_NE(test::Narrow(error_).find("patch.msp: the patch changed while it was packed"),
              std::string::npos)
        << test::Narrow(error_);
    EXPECT_EQ(test::ReadFileBytes(output_).size(), 19u) << "the earlier launcher stays";
    EXPECT_EQ(test::ListDirectory(scratch_.path()),
              (std::vector<std::wstring>{L"Launcher.exe", L"patch.msp"}));
}

} // namespace
