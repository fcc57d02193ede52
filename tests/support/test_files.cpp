#include "tests/support/test_support.h"

#include "common/holder.h"
#include "kit/launcher_image.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <stdexcept>

namespace test {

namespace {

void RemoveTree(const std::wstring& directory) {
    for (const std::wstring& name : ListDirectory(directory)) {
        const std::wstring path = directory + L"\\" + name;
        const DWORD attributes = GetFileAttributesW(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            RemoveTree(path);
        } else {
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileW(path.c_str());
        }
    }
    RemoveDirectoryW(directory.c_str());
}

} // namespace

ScratchDirectory::ScratchDirectory() {
    static unsigned sequence = 0;
    for (;;) {
        path_ = TemporaryDirectory() + L"pltest-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                std::to_wstring(++sequence);
        if (CreateDirectoryW(path_.c_str(), nullptr))
            return;
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            throw std::runtime_error("cannot create a scratch directory");
    }
}

ScratchDirectory::~ScratchDirectory() {
    RemoveTree(path_);
}

std::wstring ScratchDirectory::file(const std::wstring& name) const {
    return path_ + L"\\" + name;
}

ScopedEnvironment::ScopedEnvironment(const wchar_t* name, const wchar_t* value) : name_(name) {
    wchar_t buffer[32768] = {}; // the largest environment value, terminator included
    const DWORD length = GetEnvironmentVariableW(name, buffer, 32768);
    hadValue_ = length > 0 && length < 32768;
    if (hadValue_)
        oldValue_.assign(buffer, length);
    SetEnvironmentVariableW(name, value);
}

ScopedEnvironment::~ScopedEnvironment() {
    SetEnvironmentVariableW(name_.c_str(), hadValue_ ? oldValue_.c_str() : nullptr);
}

bool FileExists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<std::uint8_t> ReadFileBytes(const std::wstring& path) {
    std::vector<std::uint8_t> bytes;
    const CrtStream file(_wfopen(path.c_str(), L"rb"));
    if (!file)
        return bytes;
    std::uint8_t chunk[65536]; // bytes per read
    std::size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file.get())) > 0)
        bytes.insert(bytes.end(), chunk, chunk + got);
    return bytes;
}

void WriteFileBytes(const std::wstring& path, const std::vector<std::uint8_t>& bytes) {
    CrtStream file(_wfopen(path.c_str(), L"wb"));
    ASSERT_TRUE(file) << Narrow(path);
    if (!bytes.empty()) {
        ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), file.get()), bytes.size())
            << Narrow(path);
    }
    ASSERT_TRUE(file.close()) << Narrow(path);
}

void WriteFileText(const std::wstring& path, const std::string& text) {
    WriteFileBytes(path, std::vector<std::uint8_t>(text.begin(), text.end()));
}

bool CopyLauncherWithPatch(const std::wstring& launcher, const std::wstring& patch,
                           const std::wstring& copy) {
    const std::wstring stub =
        launcher.substr(0, launcher.find_last_of(L"\\/") + 1) + kit::StubFileName;
    kit::PackedLauncher packed;
    std::wstring error;
    const bool written =
        kit::PackLauncher(stub, patch, kit::Branding(), copy, nullptr, packed, error);
    EXPECT_TRUE(written) << Narrow(error);
    return written;
}

std::vector<std::wstring> ListDirectory(const std::wstring& directory) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data = {};
    HANDLE find = FindFirstFileW((directory + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do {
        const std::wstring name = data.cFileName;
        if (name != L"." && name != L"..")
            names.push_back(name);
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return names;
}

std::wstring TemporaryDirectory() {
    wchar_t buffer[MAX_PATH + 1] = {}; // terminator included
    const DWORD length = GetTempPathW(MAX_PATH + 1, buffer);
    return std::wstring(buffer, length);
}

std::wstring FullPath(const std::wstring& path) {
    wchar_t full[MAX_PATH] = {}; // terminator included
    const DWORD length = GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr);
    return length > 0 && length < MAX_PATH ? std::wstring(full, length) : path;
}

std::wstring ModuleDirectory() {
    wchar_t buffer[32768] = {}; // terminator included
    const DWORD length = GetModuleFileNameW(nullptr, buffer, 32768);
    std::wstring path(buffer, length);
    return path.substr(0, path.find_last_of(L"\\/"));
}

} // namespace test
