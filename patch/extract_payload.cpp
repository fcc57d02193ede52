#include "common/decimal.h"
#include "common/growing_text.h"
#include "common/holder.h"
#include "common/program_state.h"
#include "patch/patch.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

// Process-wide; the first name tried is therefore "MSP2".
std::uint32_t TemporaryNameCounter = 1;

constexpr std::uint32_t MaximumNameTries = 2147483647u;

bool EntryExists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A candidate is taken when something is there or the test is refused for
// lack of access. Any other failure counts as free, so that a directory no
// name can be made in fails at once at the create, with its own error,
// instead of after every number has been tried.
bool NameIsFree(const std::wstring& path) {
    if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES)
        return false;
    return GetLastError() != ERROR_ACCESS_DENIED;
}

bool ReadEnvironment(const wchar_t* name, std::wstring& value) {
    return ReadGrowingText(
        [name](wchar_t* buffer, DWORD capacity) {
            return GetEnvironmentVariableW(name, buffer, capacity);
        },
        value);
}

std::wstring ChooseTemporaryDirectory(const std::wstring& proposed) {
    std::wstring tmp;
    if (ReadEnvironment(L"TMP", tmp) && EntryExists(tmp))
        return tmp;
    if (EntryExists(proposed))
        return proposed;
    if (EntryExists(L"\\"))
        return L"\\";
    return L".";
}

// Picks the first free "<directory>\<prefix><n>"; only chooses, never creates.
bool ChooseTemporaryName(const std::wstring& proposedDirectory, const wchar_t* prefix,
                         std::wstring& name) {
    std::wstring stem = ChooseTemporaryDirectory(proposedDirectory);
    if (stem.back() != L'\\' && stem.back() != L'/')
        stem += L'\\';
    stem += prefix;
    for (std::uint32_t tries = 0; tries < MaximumNameTries; ++tries) {
        const std::wstring candidate = stem + DecimalText(++TemporaryNameCounter);
        if (NameIsFree(candidate)) {
            name = candidate;
            return true;
        }
    }
    return false;
}

// A name this operation chose is created exclusively, so that whatever
// appeared there since the name was chosen is neither truncated nor followed;
// on such a clash the next free number is taken and `path` follows it.
FileHandle CreateTemporaryFile(const std::wstring& directory, std::wstring& path) {
    for (;;) {
        FileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file)
            return file;
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
            return FileHandle();
        std::wstring next;
        if (!ChooseTemporaryName(directory, L"MSP", next))
            return FileHandle();
        path = next;
    }
}

// A path the caller gave is created, or truncated when it exists (the "wb"
// of the C runtime), with the same sharing as the runtime's streams.
FileHandle CreateOrTruncateFile(const std::wstring& path) {
    return FileHandle(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// Closes `file` and then sets `error`, so that the close cannot overwrite it.
bool FailAfterClosing(FileHandle& file, DWORD error) {
    file.reset();
    SetLastError(error);
    return false;
}

// What the write left behind: the payload, and which file received it.
struct WrittenPayload {
    const void* bytes = nullptr;
    DWORD size = 0;
    bool identifyFile = false; // fill `file` (only the install flow asks)
    BY_HANDLE_FILE_INFORMATION file = {};
};

bool WritePayload(std::wstring& path, WrittenPayload& payload) {
    std::wstring temporaryDirectory;
    const bool nameIsOurs = path.empty();
    if (nameIsOurs) {
        wchar_t directory[1024] = {}; // 1024 characters, terminator included
        const DWORD length = GetTempPathW(1024, directory);
        if (length == 0 || length > 1024)
            return false;
        temporaryDirectory.assign(directory, length);
        std::wstring name;
        if (!ChooseTemporaryName(temporaryDirectory, L"MSP", name))
            return false;
        path = name;
    }

    HRSRC resource = FindResourceW(ModuleInstance, PayloadResourceName, PayloadResourceType);
    if (resource == nullptr)
        return false;
    const DWORD size = SizeofResource(ModuleInstance, resource);
    if (size == 0)
        return false;
    HGLOBAL loaded = LoadResource(ModuleInstance, resource);
    if (loaded == nullptr)
        return false;
    const void* bytes = LockResource(loaded);
    if (bytes == nullptr)
        return false;

    FileHandle file =
        nameIsOurs ? CreateTemporaryFile(temporaryDirectory, path) : CreateOrTruncateFile(path);
    if (!file)
        return false;
    // One write straight from the mapped resource. A write that fails, falls
    // short or whose close fails leaves a real error code for the report.
    DWORD written = 0;
    if (!WriteFile(file.get(), bytes, size, &written, nullptr))
        return FailAfterClosing(file, GetLastError());
    if (written != size)
        return FailAfterClosing(file, ERROR_WRITE_FAULT);
    if (payload.identifyFile && !GetFileInformationByHandle(file.get(), &payload.file))
        return FailAfterClosing(file, GetLastError());
    payload.bytes = bytes;
    payload.size = size;
    return file.close();
}

bool IsSameFile(const BY_HANDLE_FILE_INFORMATION& left, const BY_HANDLE_FILE_INFORMATION& right) {
    return left.dwVolumeSerialNumber == right.dwVolumeSerialNumber &&
           left.nFileIndexHigh == right.nFileIndexHigh && left.nFileIndexLow == right.nFileIndexLow;
}

// True when `file`, read from its start, holds exactly the payload; a
// difference fails with ERROR_FILE_INVALID.
bool HoldsExactly(HANDLE file, const WrittenPayload& payload) {
    LARGE_INTEGER length = {};
    if (!GetFileSizeEx(file, &length))
        return false;
    if (length.QuadPart != LONGLONG(payload.size)) {
        SetLastError(ERROR_FILE_INVALID);
        return false;
    }
    constexpr DWORD ChunkSize = 64 * 1024; // bytes
    std::vector<std::uint8_t> chunk(ChunkSize);
    const std::uint8_t* expected = static_cast<const std::uint8_t*>(payload.bytes);
    for (DWORD offset = 0; offset < payload.size;) {
        const DWORD wanted = std::min(ChunkSize, payload.size - offset);
        DWORD read = 0;
        if (!ReadFile(file, chunk.data(), wanted, &read, nullptr))
            return false;
        if (read == 0 || std::memcmp(chunk.data(), expected + offset, read) != 0) {
            SetLastError(ERROR_FILE_INVALID);
            return false;
        }
        offset += read;
    }
    return true;
}

} // namespace

bool ExtractPatchPayload(std::wstring& path) {
    WrittenPayload payload;
    return WritePayload(path, payload);
}

bool ExtractPatchPayload(std::wstring& path, FileHandle& lock) {
    WrittenPayload payload;
    payload.identifyFile = true;
    if (!WritePayload(path, payload))
        return false;
    // The writing handle let no one else open the file, but the service must
    // read it, which no one can while a handle with write access is open. So
    // the file is opened again, for reading only, sharing with readers alone:
    // no one can write, delete or rename it while this handle is held. Between
    // the two opens the file was exposed; it must still be the file written
    // (a reparse point at the name is opened as itself, and so differs) and
    // hold exactly the payload.
    FileHandle reader(
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                    FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!reader)
        return false;
    BY_HANDLE_FILE_INFORMATION opened = {};
    if (!GetFileInformationByHandle(reader.get(), &opened))
        return FailAfterClosing(reader, GetLastError());
    if (!IsSameFile(opened, payload.file))
        return FailAfterClosing(reader, ERROR_FILE_INVALID);
    if (!HoldsExactly(reader.get(), payload))
        return FailAfterClosing(reader, GetLastError());
    lock = std::move(reader);
    return true;
}
