// The built PatchLauncher.exe carries exactly its manifest, the patch and the
// message catalogue.
#include "common/holder.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <set>

namespace {

std::wstring ResourceName(LPCWSTR name) {
    return IS_INTRESOURCE(name) ? L"#" + std::to_wstring(reinterpret_cast<ULONG_PTR>(name))
                                : std::wstring(name);
}

BOOL CALLBACK AddLanguage(HMODULE, LPCWSTR type, LPCWSTR name, WORD language, LONG_PTR found) {
    reinterpret_cast<std::set<std::wstring>*>(found)->insert(
        ResourceName(type) + L"/" + ResourceName(name) + L"/" + std::to_wstring(language));
    return TRUE;
}

BOOL CALLBACK AddName(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR found) {
    EnumResourceLanguagesW(module, type, name, AddLanguage, found);
    return TRUE;
}

BOOL CALLBACK AddType(HMODULE module, LPWSTR type, LONG_PTR found) {
    EnumResourceNamesW(module, type, AddName, found);
    return TRUE;
}

class LauncherResources : public testing::Test {
  protected:
    void SetUp() override {
        launcher_.reset(LoadLibraryExW(PATCH_LAUNCHER_EXE, nullptr,
                                       LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
        ASSERT_TRUE(launcher_) << "cannot load " << test::Narrow(PATCH_LAUNCHER_EXE);
        module_ = launcher_.get();
    }

    std::string ResourceText(LPCWSTR type, LPCWSTR name) const {
        HRSRC resource = FindResourceW(module_, name, type);
        if (resource == nullptr)
            return std::string();
        const char* bytes = static_cast<const char*>(LockResource(LoadResource(module_, resource)));
        return std::string(bytes, SizeofResource(module_, resource));
    }

    LoadedModule launcher_;
    HMODULE module_ = nullptr;
};

TEST_F(LauncherResources, AreExactlyManifestPatchAndStringTables) {
    std::set<std::wstring> found;
    EnumResourceTypesW(module_, AddType, reinterpret_cast<LONG_PTR>(&found));

    std::set<std::wstring> expected = {L"#24/#1/1033", L"MSP/IDR_MSP/1033"};
    for (int language :
         {1028, 1029, 1031, 1033, 1036, 1038, 1040, 1041, 1042, 1045, 1046, 1049, 2052, 3082}) {
        expected.insert(L"#6/#19/" + std::to_wstring(language));
        expected.insert(L"#6/#20/" + std::to_wstring(language));
        expected.insert(L"#6/#21/" + std::to_wstring(language));
    }
    std::wstring unexpected, missing;
    for (const std::wstring& entry : found)
        if (!expected.count(entry))
            unexpected += entry + L" ";
    for (const std::wstring& entry : expected)
        if (!found.count(entry))
            missing += entry + L" ";
    EXPECT_EQ(test::Narrow(unexpected), "") << "resources that should not be there";
    EXPECT_EQ(test::Narrow(missing), "") << "resources that are missing";
}

TEST_F(LauncherResources, ManifestIsOnlyAnEmptyAssemblyElement) {
    std::string manifest = ResourceText(MAKEINTRESOURCEW(24), MAKEINTRESOURCEW(1));
    EXPECT_NE(manifest.find(
                  "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\"/>"),
              std::string::npos)
        << manifest;
    EXPECT_EQ(std::count(manifest.begin(), manifest.end(), '<'), 2) << manifest;
}

TEST_F(LauncherResources, PatchIsTheConfiguredFileByteForByte) {
    const std::string payload = ResourceText(L"MSP", L"IDR_MSP");
    const std::vector<std::uint8_t> file = test::ReadFileBytes(EMBEDDED_PATCH_FILE);
    ASSERT_FALSE(file.empty());
    EXPECT_TRUE(std::string(file.begin(), file.end()) == payload)
        << "embedded " << payload.size() << " bytes, file has " << file.size();
    EXPECT_EQ(payload.substr(0, 8), std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8));
}

} // namespace

namespace {

// The launcher's image headers, read from the file.
struct ImageLayout {
    IMAGE_FILE_HEADER file = {};
    DWORD fileAlignment = 0;
    std::vector<IMAGE_SECTION_HEADER> sections;
};

ImageLayout ReadImageLayout(const std::vector<std::uint8_t>& bytes) {
    ImageLayout layout;
    IMAGE_DOS_HEADER dos = {};
    if (bytes.size() < sizeof dos)
        return layout;
    std::memcpy(&dos, bytes.data(), sizeof dos);
    IMAGE_NT_HEADERS64 nt = {};
    if (dos.e_lfanew <= 0 || bytes.size() < std::size_t(dos.e_lfanew) + sizeof nt)
        return layout;
    std::memcpy(&nt, bytes.data() + dos.e_lfanew, sizeof nt);
    layout.file = nt.FileHeader;
    layout.fileAlignment = nt.OptionalHeader.FileAlignment;
    std::size_t at = std::size_t(dos.e_lfanew) + offsetof(IMAGE_NT_HEADERS64, OptionalHeader) +
                     nt.FileHeader.SizeOfOptionalHeader;
    for (WORD i = 0;
         i < nt.FileHeader.NumberOfSections && at + sizeof(IMAGE_SECTION_HEADER) <= bytes.size();
         ++i, at += sizeof(IMAGE_SECTION_HEADER)) {
        IMAGE_SECTION_HEADER section = {};
        std::memcpy(&section, bytes.data() + at, sizeof section);
        layout.sections.push_back(section);
    }
    return layout;
}

TEST(LauncherImage, SectionsStartOnPageBoundariesInTheFile) {
    const ImageLayout layout = ReadImageLayout(test::ReadFileBytes(PATCH_LAUNCHER_EXE));
    ASSERT_FALSE(layout.sections.empty());
    EXPECT_EQ(layout.fileAlignment, 4096u);
    bool resources = false;
    for (const IMAGE_SECTION_HEADER& section : layout.sections) {
        const std::string name(reinterpret_cast<const char*>(section.Name),
                               strnlen(reinterpret_cast<const char*>(section.Name), 8));
        resources = resources || name == ".rsrc";
        EXPECT_EQ(section.PointerToRawData % 4096, 0u)
            << name << " at " << section.PointerToRawData;
        EXPECT_EQ(section.VirtualAddress % 4096, 0u) << name;
    }
    EXPECT_TRUE(resources) << "no .rsrc section";
}

#ifdef NDEBUG
TEST(LauncherImage, ReleaseBuildCarriesNoSymbols) {
    const ImageLayout layout = ReadImageLayout(test::ReadFileBytes(PATCH_LAUNCHER_EXE));
    ASSERT_FALSE(layout.sections.empty());
    EXPECT_EQ(layout.file.PointerToSymbolTable, 0u);
    EXPECT_EQ(layout.file.NumberOfSymbols, 0u);
}
#endif

} // namespace
