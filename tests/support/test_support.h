// Helpers shared by the test binaries.
#pragma once

#include "tools/process/process.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace test {

// A fresh, empty directory under the system temporary directory, removed with
// its content when the value goes.
class ScratchDirectory {
  public:
    ScratchDirectory();
    ~ScratchDirectory();
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;

    const std::wstring& path() const { return path_; }
    // path() + "\\" + name
    std::wstring file(const std::wstring& name) const;

  private:
    std::wstring path_;
};

// Sets an environment variable (or removes it, for nullptr) and puts the old
// value back when the value goes.
class ScopedEnvironment {
  public:
    ScopedEnvironment(const wchar_t* name, const wchar_t* value);
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

  private:
    std::wstring name_;
    std::wstring oldValue_;
    bool hadValue_ = false;
};

bool FileExists(const std::wstring& path);
std::vector<std::uint8_t> ReadFileBytes(const std::wstring& path);
void WriteFileBytes(const std::wstring& path, const std::vector<std::uint8_t>& bytes);
void WriteFileText(const std::wstring& path, const std::string& text);

// Writes to `copy` the launcher `launcher` with the file `patch` in place of
// its patch (resource "MSP"/"IDR_MSP", language 1033): packed, as the build
// packs `launcher`, from the stub beside it, without branding or check.
bool CopyLauncherWithPatch(const std::wstring& launcher, const std::wstring& patch,
                           const std::wstring& copy);

// The names of the entries in `directory` (no "." or "..").
std::vector<std::wstring> ListDirectory(const std::wstring& directory);

// The system temporary directory, with its trailing backslash.
std::wstring TemporaryDirectory();

// `path` made absolute (a build path "/x/y" becomes "Z:\x\y" under Wine).
std::wstring FullPath(const std::wstring& path);

// The directory of the running test binary, with no trailing backslash.
std::wstring ModuleDirectory();

} // namespace test
