#include "kit/launcher_image.h"

#include "common/growing_text.h"
#include "common/holder.h"
#include "kit/files/file_errors.h"
#include "kit/files/long_path.h"
#include "kit/package/bytes.h"
#include "patch/patch.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <map>
#include <vector>

namespace kit {

namespace {

using kit::AppendUint16;
using kit::AppendUint32;
using kit::PutUint32;

constexpr std::size_t CopyChunk = 1 << 20;    // bytes read and written at a time
constexpr std::size_t DirectorySize = 16;     // IMAGE_RESOURCE_DIRECTORY
constexpr std::size_t DirectoryEntrySize = 8; // IMAGE_RESOURCE_DIRECTORY_ENTRY
constexpr std::size_t DataEntrySize = 16;     // IMAGE_RESOURCE_DATA_ENTRY
constexpr std::size_t ResourceDataAlignment = 8;
constexpr DWORD HighBit = 0x80000000; // a subdirectory, or a name that is a string
constexpr WORD LauncherLanguage = 1033;

// A view of a file mapped for reading (the mapping itself is a KernelHandle).
struct ViewTraits {
    using Type = const void*;
    static Type None() { return nullptr; }
    static bool Close(Type value) { return UnmapViewOfFile(value) != FALSE; }
};

std::uint64_t AlignUp(std::uint64_t value, std::uint64_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

// A resource type or name: a number, or a string when `name` is not empty.
struct ResourceId {
    WORD id = 0;
    std::wstring name;
};

// Named entries first, in the order of their code units, then numbers.
bool operator<(const ResourceId& a, const ResourceId& b) {
    if (a.name.empty() != b.name.empty())
        return !a.name.empty();
    return a.name.empty() ? a.id < b.id : a.name < b.name;
}
bool operator==(const ResourceId& a, const ResourceId& b) {
    return a.id == b.id && a.name == b.name;
}

struct Resource {
    ResourceId type, name;
    WORD language = 0;
    DWORD codePage = 0;
    std::vector<std::uint8_t> data;
    std::uint64_t size = 0;
    bool streamed = false; // the payload: its bytes are written from the patch file
};

bool operator<(const Resource& a, const Resource& b) {
    if (!(a.type == b.type))
        return a.type < b.type;
    if (!(a.name == b.name))
        return a.name < b.name;
    return a.language < b.language;
}

// The stub as mapped, with what packing reads and changes of its headers.
class Stub {
  public:
    bool Open(const std::wstring& path, std::wstring& error);
    bool ReadResources(std::vector<Resource>& resources, std::wstring& error) const;

    const std::uint8_t* bytes() const { return static_cast<const std::uint8_t*>(view_.get()); }
    std::uint64_t size() const { return size_; }

    std::size_t ntOffset = 0;
    std::size_t sectionTableOffset = 0;
    IMAGE_NT_HEADERS64 headers = {};
    std::vector<IMAGE_SECTION_HEADER> sections;
    std::size_t resources = 0; // the index of the resource section

  private:
    bool Refuse(const std::wstring& why, std::wstring& error) const {
        error = path_ + L": not a launcher stub: " + why;
        return false;
    }
    bool CheckLayout(std::wstring& error);
    bool ReadDirectory(std::size_t offset, int level, Resource& resource,
                       std::vector<Resource>& resources, std::wstring& error) const;
    bool ReadId(DWORD name, ResourceId& id) const;

    std::wstring path_;
    FileHandle file_;
    KernelHandle mapping_;
    Holder<ViewTraits> view_;
    std::uint64_t size_ = 0;
};

bool Stub::Open(const std::wstring& path, std::wstring& error) {
    path_ = path;
    file_.reset(CreateFileW(LongPathForm(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size = {};
    if (!file_ || !GetFileSizeEx(file_.get(), &size)) {
        error =
            path + L": cannot open the launcher stub: " + ErrorWords(GetLastError(), path) + L".";
        return false;
    }
    size_ = std::uint64_t(size.QuadPart);
    if (size_ < sizeof(IMAGE_DOS_HEADER))
        return Refuse(L"it is too short to be a program.", error);
    mapping_.reset(CreateFileMappingW(file_.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
    if (mapping_)
        view_.reset(MapViewOfFile(mapping_.get(), FILE_MAP_READ, 0, 0, 0));
    if (!view_) {
        error =
            path + L": cannot read the launcher stub: " + ErrorWords(GetLastError(), path) + L".";
        return false;
    }
    IMAGE_DOS_HEADER dos = {};
    std::memcpy(&dos, bytes(), sizeof dos);
    if (dos.e_magic != IMAGE_DOS_SIGNATURE || dos.e_lfanew <= 0 ||
        std::uint64_t(dos.e_lfanew) + sizeof headers > size_)
        return Refuse(L"it is not a Windows program.", error);
    ntOffset = std::size_t(dos.e_lfanew);
    std::memcpy(&headers, bytes() + ntOffset, sizeof headers);
    if (headers.Signature != IMAGE_NT_SIGNATURE ||
        headers.FileHeader.Machine != IMAGE_FILE_MACHINE_AMD64 ||
        headers.OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR64_MAGIC)
        return Refuse(L"it is not a 64-bit Windows program.", error);
    return CheckLayout(error);
}

bool Stub::CheckLayout(std::wstring& error) {
    const IMAGE_OPTIONAL_HEADER64& optional = headers.OptionalHeader;
    if (optional.NumberOfRvaAndSizes <= IMAGE_DIRECTORY_ENTRY_BASERELOC)
        return Refuse(L"its headers have no room for the resource directory.", error);
    const IMAGE_DATA_DIRECTORY& security = optional.DataDirectory[IMAGE_DIRECTORY_ENTRY_SECURITY];
    if (security.VirtualAddress != 0 || security.Size != 0) {
        error = path_ + L": the stub is signed: pack the unsigned stub, then sign the launcher "
                        L"after packing.";
        return false;
    }
    if (optional.FileAlignment != PageSize || optional.SectionAlignment != PageSize)
        return Refuse(L"its sections are not aligned to pages of " + std::to_wstring(PageSize) +
                          L" bytes in the file and the image, which the patch needs to be "
                          L"mapped from the file.",
                      error);
    sectionTableOffset = ntOffset + offsetof(IMAGE_NT_HEADERS64, OptionalHeader) +
                         headers.FileHeader.SizeOfOptionalHeader;
    const std::size_t count = headers.FileHeader.NumberOfSections;
    if (sectionTableOffset + count * sizeof(IMAGE_SECTION_HEADER) > optional.SizeOfHeaders ||
        optional.SizeOfHeaders > size_)
        return Refuse(L"its section table does not fit its headers.", error);
    sections.resize(count);
    std::memcpy(sections.data(), bytes() + sectionTableOffset,
                count * sizeof(IMAGE_SECTION_HEADER));

    const DWORD resourceRva = optional.DataDirectory[IMAGE_DIRECTORY_ENTRY_RESOURCE].VirtualAddress;
    resources = count;
    for (std::size_t i = 0; i < count; ++i) {
        if (sections[i].VirtualAddress == resourceRva && resourceRva != 0)
            resources = i;
    }
    if (resources == count)
        return Refuse(L"it has no section of resources.", error);
    // The resource section grows: what follows it moves. Only the relocations
    // may follow, and nothing else may point at or after the resources.
    std::uint64_t fileEnd = optional.SizeOfHeaders;
    DWORD imageEnd = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const IMAGE_SECTION_HEADER& section = sections[i];
        if (section.VirtualAddress < imageEnd)
            return Refuse(L"its sections are not in the order of their addresses.", error);
        imageEnd = section.VirtualAddress + DWORD(AlignUp(section.Misc.VirtualSize, PageSize));
        if (section.SizeOfRawData != 0) {
            if (section.PointerToRawData < fileEnd ||
                std::uint64_t(section.PointerToRawData) + section.SizeOfRawData > size_)
                return Refuse(L"its sections are not in the order of their places in the file.",
                              error);
            fileEnd = std::uint64_t(section.PointerToRawData) + section.SizeOfRawData;
        }
        const DWORD relocations =
            optional.DataDirectory[IMAGE_DIRECTORY_ENTRY_BASERELOC].VirtualAddress;
        if (i > resources && !(relocations >= section.VirtualAddress &&
                               relocations < section.VirtualAddress + section.Misc.VirtualSize))
            return Refuse(L"a section other than the relocations follows its resources.", error);
    }
    if (sections[resources].SizeOfRawData == 0)
        return Refuse(L"its section of resources is empty.", error);
    for (DWORD i = 0; i < optional.NumberOfRvaAndSizes && i < IMAGE_NUMBEROF_DIRECTORY_ENTRIES;
         ++i) {
        const bool moved = optional.DataDirectory[i].VirtualAddress >= resourceRva;
        if (i != IMAGE_DIRECTORY_ENTRY_RESOURCE && i != IMAGE_DIRECTORY_ENTRY_BASERELOC &&
            (i == IMAGE_DIRECTORY_ENTRY_DEBUG ? optional.DataDirectory[i].Size != 0 : moved))
            return Refuse(L"its data directory " + std::to_wstring(i) +
                              L" would move with its resources.",
                          error);
    }
    if (headers.FileHeader.PointerToSymbolTable != 0 &&
        headers.FileHeader.PointerToSymbolTable < fileEnd)
        return Refuse(L"its symbol table lies among its sections.", error);
    return true;
}

bool Stub::ReadId(DWORD name, ResourceId& id) const {
    if ((name & HighBit) == 0) {
        id.id = WORD(name);
        return true;
    }
    const IMAGE_SECTION_HEADER& section = sections[resources];
    const std::size_t at = section.PointerToRawData + (name & ~HighBit);
    if ((name & ~HighBit) + 2 > section.SizeOfRawData)
        return false;
    const std::size_t length = bytes()[at] | std::size_t(bytes()[at + 1]) << 8;
    if ((name & ~HighBit) + 2 + 2 * length > section.SizeOfRawData || length == 0)
        return false;
    id.name.resize(length);
    for (std::size_t i = 0; i < length; ++i)
        id.name[i] = wchar_t(bytes()[at + 2 + 2 * i] | bytes()[at + 3 + 2 * i] << 8);
    return true;
}

// Level 0 is the types, 1 the names, 2 the languages.
bool Stub::ReadDirectory(std::size_t offset, int level, Resource& resource,
                         std::vector<Resource>& found, std::wstring& error) const {
    const IMAGE_SECTION_HEADER& section = sections[resources];
    if (offset + DirectorySize > section.SizeOfRawData)
        return Refuse(L"its resource directory is damaged.", error);
    IMAGE_RESOURCE_DIRECTORY directory = {};
    std::memcpy(&directory, bytes() + section.PointerToRawData + offset, sizeof directory);
    const std::size_t entries =
        std::size_t(directory.NumberOfNamedEntries) + directory.NumberOfIdEntries;
    if (offset + DirectorySize + entries * DirectoryEntrySize > section.SizeOfRawData)
        return Refuse(L"its resource directory is damaged.", error);
    for (std::size_t i = 0; i < entries; ++i) {
        const std::uint8_t* entry =
            bytes() + section.PointerToRawData + offset + DirectorySize + i * DirectoryEntrySize;
        DWORD name = 0, target = 0;
        std::memcpy(&name, entry, 4);
        std::memcpy(&target, entry + 4, 4);
        const bool subdirectory = (target & HighBit) != 0;
        if (subdirectory != (level < 2))
            return Refuse(L"its resource directory is not three levels deep.", error);
        if (level == 0 && !ReadId(name, resource.type))
            return Refuse(L"its resource directory has a damaged type name.", error);
        if (level == 1 && !ReadId(name, resource.name))
            return Refuse(L"its resource directory has a damaged name.", error);
        if (level < 2) {
            if (!ReadDirectory(target & ~HighBit, level + 1, resource, found, error))
                return false;
            continue;
        }
        resource.language = WORD(name);
        IMAGE_RESOURCE_DATA_ENTRY data = {};
        if (target + DataEntrySize > section.SizeOfRawData)
            return Refuse(L"its resource directory is damaged.", error);
        std::memcpy(&data, bytes() + section.PointerToRawData + target, sizeof data);
        const std::uint64_t start = std::uint64_t(data.OffsetToData) - section.VirtualAddress;
        if (data.OffsetToData < section.VirtualAddress || start + data.Size > section.SizeOfRawData)
            return Refuse(L"a resource lies outside its section of resources.", error);
        resource.codePage = data.CodePage;
        resource.data.assign(bytes() + section.PointerToRawData + start,
                             bytes() + section.PointerToRawData + start + data.Size);
        resource.size = data.Size;
        found.push_back(resource);
    }
    return true;
}

bool Stub::ReadResources(std::vector<Resource>& found, std::wstring& error) const {
    Resource resource;
    return ReadDirectory(0, 0, resource, found, error);
}

// The resource section: the directory (types, names, languages), the data
// entries, the names, the data of the stub's resources, then, from the first
// page boundary after them, the payload (its bytes are not held here).
// `resources` is sorted; the payload is the one streamed.
std::vector<std::uint8_t> WriteResourceSection(const std::vector<Resource>& resources,
                                               DWORD sectionRva, std::uint64_t& payloadOffset) {
    // Each run of equal types, and of equal types and names, in order.
    std::vector<std::size_t> typeStarts, nameStarts;
    for (std::size_t i = 0; i < resources.size(); ++i) {
        if (i == 0 || !(resources[i].type == resources[i - 1].type))
            typeStarts.push_back(i);
        if (i == 0 || !(resources[i].type == resources[i - 1].type) ||
            !(resources[i].name == resources[i - 1].name))
            nameStarts.push_back(i);
    }
    const std::size_t directories =
        DirectorySize * (1 + typeStarts.size() + nameStarts.size()) +
        DirectoryEntrySize * (typeStarts.size() + nameStarts.size() + resources.size());
    const std::size_t dataEntries = directories;
    std::size_t at = dataEntries + DataEntrySize * resources.size();
    std::map<std::wstring, std::size_t> strings;
    for (const Resource& resource : resources) {
        for (const std::wstring* name : {&resource.type.name, &resource.name.name}) {
            if (!name->empty() && strings.emplace(*name, at).second)
                at += 2 + 2 * name->size();
        }
    }
    std::vector<std::uint64_t> dataOffsets;
    for (const Resource& resource : resources) {
        at = std::size_t(AlignUp(at, ResourceDataAlignment));
        dataOffsets.push_back(resource.streamed ? 0 : at);
        at += resource.data.size();
    }
    payloadOffset = AlignUp(at, PageSize);

    std::vector<std::uint8_t> section;
    auto directory = [&](std::size_t named, std::size_t numbered) {
        AppendUint32(section, 0); // Characteristics
        AppendUint32(section, 0); // TimeDateStamp
        AppendUint32(section, 0); // MajorVersion, MinorVersion
        AppendUint16(section, std::uint32_t(named));
        AppendUint16(section, std::uint32_t(numbered));
    };
    auto entry = [&](const ResourceId& id, std::size_t target, bool subdirectory) {
        AppendUint32(section, id.name.empty() ? id.id : DWORD(HighBit | strings.at(id.name)));
        AppendUint32(section, DWORD(target) | (subdirectory ? HighBit : 0));
    };
    auto ends = [&](const std::vector<std::size_t>& starts, std::size_t i) {
        return i + 1 < starts.size() ? starts[i + 1] : resources.size();
    };
    auto namedCount = [&](const std::vector<std::size_t>& starts, std::size_t first,
                          std::size_t last, bool types) {
        std::size_t named = 0;
        for (std::size_t start : starts) {
            if (start >= first && start < last)
                named += !(types ? resources[start].type : resources[start].name).name.empty();
        }
        return named;
    };
    // The root, then one directory per type, then one per type and name.
    std::size_t next = DirectorySize + DirectoryEntrySize * typeStarts.size();
    directory(namedCount(typeStarts, 0, resources.size(), true),
              typeStarts.size() - namedCount(typeStarts, 0, resources.size(), true));
    for (std::size_t t = 0; t < typeStarts.size(); ++t) {
        entry(resources[typeStarts[t]].type, next, true);
        std::size_t names = 0;
        for (std::size_t start : nameStarts)
            names += start >= typeStarts[t] && start < ends(typeStarts, t);
        next += DirectorySize + DirectoryEntrySize * names;
    }
    std::size_t name = 0;
    for (std::size_t t = 0; t < typeStarts.size(); ++t) {
        const std::size_t first = typeStarts[t], last = ends(typeStarts, t);
        const std::size_t named = namedCount(nameStarts, first, last, false);
        std::size_t names = 0;
        for (std::size_t start : nameStarts)
            names += start >= first && start < last;
        directory(named, names - named);
        for (; name < nameStarts.size() && nameStarts[name] < last; ++name) {
            entry(resources[nameStarts[name]].name, next, true);
            next +=
                DirectorySize + DirectoryEntrySize * (ends(nameStarts, name) - nameStarts[name]);
        }
    }
    for (std::size_t n = 0; n < nameStarts.size(); ++n) {
        directory(0, ends(nameStarts, n) - nameStarts[n]);
        for (std::size_t r = nameStarts[n]; r < ends(nameStarts, n); ++r)
            entry(ResourceId{resources[r].language, {}}, dataEntries + DataEntrySize * r, false);
    }
    for (std::size_t r = 0; r < resources.size(); ++r) {
        const std::uint64_t offset = resources[r].streamed ? payloadOffset : dataOffsets[r];
        AppendUint32(section, DWORD(sectionRva + offset));
        AppendUint32(section, DWORD(resources[r].size));
        AppendUint32(section, resources[r].codePage);
        AppendUint32(section, 0); // Reserved
    }
    std::vector<std::pair<std::size_t, std::wstring>> ordered;
    for (const auto& [text, offset] : strings)
        ordered.emplace_back(offset, text);
    std::sort(ordered.begin(), ordered.end());
    for (const auto& [offset, text] : ordered) {
        AppendUint16(section, std::uint32_t(text.size()));
        for (wchar_t ch : text)
            AppendUint16(section, ch);
    }
    for (std::size_t r = 0; r < resources.size(); ++r) {
        if (resources[r].streamed)
            continue;
        section.resize(std::size_t(dataOffsets[r]), 0);
        section.insert(section.end(), resources[r].data.begin(), resources[r].data.end());
    }
    return section;
}

// The PE checksum of a file as CheckSumMappedFile computes it: the sum of its
// 16-bit little-endian words with the carries added back in, plus its length.
class ImageChecksum {
  public:
    void Add(const std::uint8_t* bytes, std::size_t size) {
        if (size > 0 && length_ % 2 != 0) { // the high byte of a word begun before
            sum_ += std::uint64_t(*bytes) << 8;
            ++bytes;
            --size;
            ++length_;
        }
        length_ += size;
        // Whole words, summed in blocks small enough that a 32-bit partial sum
        // cannot overflow: a loop the compiler turns into vector additions.
        constexpr std::size_t BlockWords = 65536;
        std::size_t words = size / 2;
        while (words > 0) {
            const std::size_t count = std::min(words, BlockWords);
            std::uint32_t partial = 0;
            for (std::size_t i = 0; i < count; ++i)
                partial += std::uint32_t(bytes[2 * i]) | std::uint32_t(bytes[2 * i + 1]) << 8;
            sum_ += partial;
            bytes += 2 * count;
            words -= count;
        }
        if (size % 2 != 0)
            sum_ += *bytes; // the low byte of a word that the next bytes end
    }

    // The checksum of the bytes added, whose checksum field was 0.
    DWORD Value() const {
        std::uint64_t sum = sum_;
        while (sum >> 16 != 0)
            sum = (sum & 0xFFFF) + (sum >> 16);
        return DWORD(sum + length_);
    }

  private:
    std::uint64_t sum_ = 0;
    std::uint64_t length_ = 0;
};

// Writes a file sequentially and keeps its checksum. A write that fails says
// why in the last error; one that fell short, a full disk.
class ImageWriter {
  public:
    explicit ImageWriter(HANDLE file) : file_(file) {}

    bool Write(const std::uint8_t* bytes, std::size_t size) {
        checksum_.Add(bytes, size);
        while (size > 0) {
            const DWORD part = DWORD(std::min<std::size_t>(size, CopyChunk));
            DWORD written = 0;
            if (!WriteFile(file_, bytes, part, &written, nullptr))
                return false;
            if (written != part) {
                SetLastError(ERROR_DISK_FULL);
                return false;
            }
            bytes += part;
            size -= part;
        }
        return true;
    }
    bool Zeros(std::uint64_t count) {
        const std::vector<std::uint8_t> zeros(
            std::size_t(std::min<std::uint64_t>(count, PageSize)));
        for (; count > 0; count -= std::min<std::uint64_t>(count, PageSize)) {
            if (!Write(zeros.data(), std::size_t(std::min<std::uint64_t>(count, PageSize))))
                return false;
        }
        return true;
    }
    DWORD Checksum() const { return checksum_.Value(); }

  private:
    HANDLE file_;
    ImageChecksum checksum_;
};

// `path` made full, or as it is when it cannot be.
std::wstring FullPath(const std::wstring& path) {
    std::wstring full = path;
    ReadFullPath(path, full);
    return full;
}

// True when `a` and `b` name one file: the same file on the same volume, or,
// where either cannot be opened, the same full path (case aside).
bool SameFile(const std::wstring& a, const std::wstring& b) {
    BY_HANDLE_FILE_INFORMATION info[2] = {};
    bool opened = true;
    for (int i = 0; i < 2; ++i) {
        const FileHandle file(CreateFileW(LongPathForm(i == 0 ? a : b).c_str(), 0,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        opened = opened && file && GetFileInformationByHandle(file.get(), &info[i]);
    }
    if (opened)
        return info[0].dwVolumeSerialNumber == info[1].dwVolumeSerialNumber &&
               info[0].nFileIndexHigh == info[1].nFileIndexHigh &&
               info[0].nFileIndexLow == info[1].nFileIndexLow;
    return CompareStringOrdinal(FullPath(a).c_str(), -1, FullPath(b).c_str(), -1, TRUE) ==
           CSTR_EQUAL;
}

// A rename or delete that a virus scanner or an indexer holding the file for
// a moment refuses: access denied or a sharing violation.
bool MayPassSoon(DWORD error) {
    return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ||
           error == ERROR_LOCK_VIOLATION;
}

// Calls `step` (a rename or a delete that sets the last error on failure)
// until it succeeds, fails for another reason, or FileStepRetryMs have
// passed; `tries` says how often it was called.
template <typename Step> bool RetryWhileHeld(Step step, int& tries) {
    tries = 0;
    for (DWORD waited = 0;; waited += FileStepRetryPauseMs) {
        ++tries;
        if (step())
            return true;
        const DWORD error = GetLastError();
        if (!MayPassSoon(error) || waited >= FileStepRetryMs)
            return false;
        Sleep(FileStepRetryPauseMs);
        SetLastError(error);
    }
}

// "it is in use by another program (error 32), 21 tries in 5 s"
std::wstring AfterTries(DWORD error, const std::wstring& path, int tries) {
    std::wstring words = ErrorWords(error, path);
    if (tries > 1)
        words += L", " + std::to_wstring(tries) + L" tries in " +
                 std::to_wstring(FileStepRetryMs / 1000) + L" s";
    return words;
}

bool Exists(const std::wstring& path) {
    return GetFileAttributesW(LongPathForm(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Removes `path`, which the pack made; true when it is gone. Otherwise
// `problem` says why, naming the file.
bool RemoveOwnFile(const std::wstring& path, std::wstring& problem) {
    int tries = 0;
    if (RetryWhileHeld([&path] { return DeleteFileW(LongPathForm(path).c_str()) != FALSE; },
                       tries) ||
        GetLastError() == ERROR_FILE_NOT_FOUND)
        return true;
    problem = path + L" could not be removed: " + AfterTries(GetLastError(), path, tries) + L".";
    return false;
}

// The launcher while it is written: "<output>.partial" beside the output,
// which replaces the output only when it is complete. An earlier launcher is
// moved aside to "<output>.previous" first and removed once the new one is in
// its place (put back when that fails): a file renamed over another is
// written out to disk before the rename returns on Linux's ext4, where Wine
// runs. Files of these names that an earlier pack left, when it was ended
// before it was done, are removed first, and the notes say so.
class PartialLauncher {
  public:
    explicit PartialLauncher(const std::wstring& output)
        : output_(output), partial_(output + PartialSuffix), previous_(output + PreviousSuffix) {}
    ~PartialLauncher() {
        std::wstring ignored;
        Discard(ignored);
    }
    PartialLauncher(const PartialLauncher&) = delete;
    PartialLauncher& operator=(const PartialLauncher&) = delete;

    bool Create(std::vector<std::wstring>& notes, std::wstring& error) {
        for (const std::wstring* leftover : {&partial_, &previous_}) {
            if (!Exists(*leftover))
                continue;
            std::wstring problem;
            if (!RemoveOwnFile(*leftover, problem)) {
                error = L"an earlier pack left " + problem +
                        L" Another pack may be writing this launcher now.";
                return false;
            }
            notes.push_back(L"removed " + *leftover +
                            L", which an earlier pack left when it was ended before it was done");
        }
        file.reset(CreateFileW(LongPathForm(partial_).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                               nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) {
            const DWORD error_ = GetLastError();
            error = output_ + L": cannot write a file in its folder: " +
                    ErrorWords(error_, partial_) + L".";
            return false;
        }
        created_ = true;
        return true;
    }

    bool Commit(std::wstring& error) {
        if (!file.close()) {
            error = partial_ + L": cannot write: " + ErrorWords(GetLastError(), partial_) + L".";
            return Discard(error);
        }
        const std::wstring output = LongPathForm(output_);
        const std::wstring partial = LongPathForm(partial_);
        const std::wstring previous = LongPathForm(previous_);
        const bool replacing = Exists(output_);
        int tries = 0;
        if (replacing &&
            !RetryWhileHeld(
                [&] { return MoveFileExW(output.c_str(), previous.c_str(), 0) != FALSE; }, tries)) {
            error = output_ + L": the earlier launcher cannot be replaced: " +
                    AfterTries(GetLastError(), output_, tries) + L"; it is as it was.";
            return Discard(error);
        }
        if (!RetryWhileHeld(
                [&] { return MoveFileExW(partial.c_str(), output.c_str(), 0) != FALSE; }, tries)) {
            error = output_ + L": the launcher cannot be put in place: " +
                    AfterTries(GetLastError(), output_, tries) + L".";
            int backTries = 0;
            if (replacing &&
                !RetryWhileHeld(
                    [&] { return MoveFileExW(previous.c_str(), output.c_str(), 0) != FALSE; },
                    backTries))
                error += L" The earlier launcher is " + previous_ +
                         L": it could not be put back (" +
                         AfterTries(GetLastError(), previous_, backTries) + L").";
            return Discard(error);
        }
        created_ = false;
        std::wstring problem;
        if (replacing && !RemoveOwnFile(previous_, problem))
            leftover = L"the earlier launcher, " + problem;
        return true;
    }

    // Removes the partial file after a failure, adding to `error` when it
    // cannot be removed; always false.
    bool Discard(std::wstring& error) {
        file.reset();
        std::wstring problem;
        if (created_ && !RemoveOwnFile(partial_, problem))
            error += L" " + problem;
        created_ = false;
        return false;
    }

    FileHandle file;
    std::wstring leftover; // after a commit: a file that could not be cleaned away, and why

  private:
    std::wstring output_, partial_, previous_;
    bool created_ = false;
};

// What identifies the contents of an open file for as long as it is not
// written to: its size and the time it was last written.
struct FileState {
    std::uint64_t size = 0;
    FILETIME written = {};
};

bool ReadFileState(HANDLE file, FileState& state) {
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!GetFileInformationByHandle(file, &info))
        return false;
    state.size = std::uint64_t(info.nFileSizeHigh) << 32 | info.nFileSizeLow;
    state.written = info.ftLastWriteTime;
    return true;
}

bool SameState(const FileState& a, const FileState& b) {
    return a.size == b.size && CompareFileTime(&a.written, &b.written) == 0;
}

bool WriteLauncher(const Stub& stub, const std::vector<std::uint8_t>& resourceSection,
                   std::uint64_t payloadOffset, HANDLE patch, std::uint64_t patchSize,
                   HANDLE output, PackedLauncher& packed, std::wstring& error) {
    const IMAGE_SECTION_HEADER& old = stub.sections[stub.resources];
    const std::uint64_t virtualSize = payloadOffset + patchSize;
    const std::uint64_t rawSize = AlignUp(virtualSize, PageSize);
    // What moves by how much: the sections after the resources, in the file
    // and in the image.
    const std::int64_t rawShift = std::int64_t(rawSize) - old.SizeOfRawData;
    const std::int64_t virtualShift = std::int64_t(AlignUp(virtualSize, PageSize)) -
                                      std::int64_t(AlignUp(old.Misc.VirtualSize, PageSize));

    IMAGE_NT_HEADERS64 headers = stub.headers;
    std::vector<IMAGE_SECTION_HEADER> sections = stub.sections;
    IMAGE_OPTIONAL_HEADER64& optional = headers.OptionalHeader;
    sections[stub.resources].Misc.VirtualSize = DWORD(virtualSize);
    sections[stub.resources].SizeOfRawData = DWORD(rawSize);
    // Read-only, whatever the linker wrote: Windows maps writable image
    // pages copy-on-write and charges the whole payload to the commit limit
    // at start. Nothing writes to the resources.
    sections[stub.resources].Characteristics &= ~DWORD(IMAGE_SCN_MEM_WRITE);
    for (std::size_t i = stub.resources + 1; i < sections.size(); ++i) {
        sections[i].VirtualAddress += DWORD(virtualShift);
        if (sections[i].SizeOfRawData != 0)
            sections[i].PointerToRawData += DWORD(rawShift);
    }
    IMAGE_DATA_DIRECTORY& relocations = optional.DataDirectory[IMAGE_DIRECTORY_ENTRY_BASERELOC];
    if (relocations.VirtualAddress > old.VirtualAddress)
        relocations.VirtualAddress += DWORD(virtualShift);
    optional.DataDirectory[IMAGE_DIRECTORY_ENTRY_RESOURCE].Size = DWORD(virtualSize);
    const IMAGE_SECTION_HEADER& last = sections.back();
    const std::uint64_t imageSize = last.VirtualAddress + AlignUp(last.Misc.VirtualSize, PageSize);
    optional.SizeOfImage = DWORD(imageSize);
    optional.SizeOfInitializedData += DWORD(rawShift);
    optional.CheckSum = 0;
    if (headers.FileHeader.PointerToSymbolTable != 0)
        headers.FileHeader.PointerToSymbolTable += DWORD(rawShift);

    std::vector<std::uint8_t> head(stub.bytes(), stub.bytes() + old.PointerToRawData);
    std::memcpy(head.data() + stub.ntOffset, &headers, sizeof headers);
    std::memcpy(head.data() + stub.sectionTableOffset, sections.data(),
                sections.size() * sizeof(IMAGE_SECTION_HEADER));

    const auto writeFailed = [&error] {
        error = L"cannot write: " + ErrorWords(GetLastError()) + L".";
        return false;
    };
    ImageWriter writer(output);
    const std::uint64_t tail = old.PointerToRawData + std::uint64_t(old.SizeOfRawData);
    if (!writer.Write(head.data(), head.size()) ||
        !writer.Write(resourceSection.data(), resourceSection.size()) ||
        !writer.Zeros(payloadOffset - resourceSection.size()))
        return writeFailed();
    // The patch is read in large pieces, one after the other, into one
    // buffer: its size does not grow with the patch.
    std::vector<std::uint8_t> buffer(std::size_t(std::min<std::uint64_t>(CopyChunk, patchSize)));
    for (std::uint64_t copied = 0; copied < patchSize;) {
        const DWORD wanted = DWORD(std::min<std::uint64_t>(buffer.size(), patchSize - copied));
        DWORD read = 0;
        if (!ReadFile(patch, buffer.data(), wanted, &read, nullptr)) {
            error = L"the patch could not be read: " + ErrorWords(GetLastError()) + L".";
            return false;
        }
        if (read == 0) {
            error = L"the patch changed while it was packed: it ended after " +
                    std::to_wstring(copied) + L" of its " + std::to_wstring(patchSize) + L" bytes.";
            return false;
        }
        if (!writer.Write(buffer.data(), read))
            return writeFailed();
        copied += read;
    }
    if (!writer.Zeros(rawSize - virtualSize) ||
        !writer.Write(stub.bytes() + tail, std::size_t(stub.size() - tail)))
        return writeFailed();
    const DWORD checksum = writer.Checksum();
    const std::size_t checksumAt = stub.ntOffset + offsetof(IMAGE_NT_HEADERS64, OptionalHeader) +
                                   offsetof(IMAGE_OPTIONAL_HEADER64, CheckSum);
    LARGE_INTEGER position = {};
    position.QuadPart = LONGLONG(checksumAt);
    DWORD checksumWritten = 0;
    if (!SetFilePointerEx(output, position, nullptr, FILE_BEGIN) ||
        !WriteFile(output, &checksum, sizeof checksum, &checksumWritten, nullptr) ||
        checksumWritten != sizeof checksum)
        return writeFailed();
    packed.payloadSize = patchSize;
    packed.payloadOffset = old.PointerToRawData + payloadOffset;
    packed.payloadRva = DWORD(old.VirtualAddress + payloadOffset);
    packed.imageSize = imageSize;
    return true;
}

} // namespace

std::wstring PayloadSizeProblem(std::uint64_t size) {
    if (size <= MaximumPayloadSize)
        return std::wstring();
    return L"the patch has " + std::to_wstring(size) + L" bytes, more than the " +
           std::to_wstring(MaximumPayloadSize) +
           L" bytes (1.5 GiB) that a launcher carries: Windows allows an executable image 2 GB "
           L"(Microsoft, x64 software conventions, \"Image format\"), and images well below "
           L"that already fail to load.";
}

bool PackLauncher(const std::wstring& stubPath, const std::wstring& patchPath,
                  const Branding& branding, const std::wstring& output, const PatchCheck& check,
                  PackedLauncher& packed, std::wstring& error) {
    for (const std::wstring* input : {&stubPath, &patchPath}) {
        if (SameFile(output, *input)) {
            error = output + L": the launcher would overwrite the " +
                    (input == &stubPath ? L"stub" : L"patch") + L"; write it to another file.";
            return false;
        }
    }
    // The output is a launcher file or nothing yet: never a folder, and not
    // a file that its owner made read-only.
    const DWORD outputAttributes = GetFileAttributesW(LongPathForm(output).c_str());
    if (outputAttributes != INVALID_FILE_ATTRIBUTES &&
        (outputAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        error = output + L": it is a folder; give the path of the launcher file to write. "
                         L"Nothing was changed.";
        return false;
    }
    if (outputAttributes != INVALID_FILE_ATTRIBUTES &&
        (outputAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
        error = output + L": it is read-only, so it is not replaced; clear its read-only "
                         L"attribute (attrib -r) or write another file. Nothing was changed.";
        return false;
    }
    error = BrandingProblem(branding);
    if (!error.empty())
        return false;
    Stub stub;
    std::vector<Resource> resources;
    if (!stub.Open(stubPath, error) || !stub.ReadResources(resources, error))
        return false;
    bool catalogue = false;
    for (Resource& resource : resources) {
        if (resource.type.name == PayloadResourceType) {
            error = stubPath + L": not a launcher stub: it already carries a patch (resource " +
                    PayloadResourceType + L"/" + PayloadResourceName + L"); pack the stub, " +
                    StubFileName + L".";
            return false;
        }
        if (resource.type.name.empty() && resource.type.id == WORD(ULONG_PTR(RT_STRING)) &&
            resource.name.name.empty() && resource.name.id == NoProductFoundBlock) {
            catalogue = true;
            if (!BrandBlock(resource.data, resource.language, branding, error)) {
                if (error.rfind(L"its ", 0) == 0) // a fault of the stub, not of the names
                    error = stubPath + L": not a launcher stub: " + error;
                return false;
            }
            resource.size = resource.data.size();
        }
    }
    if (!catalogue) {
        error = stubPath + L": not a launcher stub: it has no message catalogue (message 307).";
        return false;
    }

    // Held from before the check until the copy is done: no one else can
    // write to the patch through Windows meanwhile. What the state at the
    // start and the end tells apart is a change made past that.
    const FileHandle patch(CreateFileW(LongPathForm(patchPath).c_str(), GENERIC_READ,
                                       FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    FileState before;
    if (!patch || !ReadFileState(patch.get(), before)) {
        error =
            patchPath + L": cannot read the patch: " + ErrorWords(GetLastError(), patchPath) + L".";
        return false;
    }
    if (before.size == 0) {
        error = patchPath + L": the patch is empty.";
        return false;
    }
    const std::wstring tooLarge = PayloadSizeProblem(before.size);
    if (!tooLarge.empty()) {
        error = patchPath + L": " + tooLarge;
        return false;
    }
    Resource payload;
    payload.type.name = PayloadResourceType;
    payload.name.name = PayloadResourceName;
    payload.language = LauncherLanguage;
    payload.size = before.size;
    payload.streamed = true;
    resources.push_back(payload);
    std::sort(resources.begin(), resources.end());

    const IMAGE_SECTION_HEADER& old = stub.sections[stub.resources];
    std::uint64_t payloadOffset = 0;
    const std::vector<std::uint8_t> section =
        WriteResourceSection(resources, old.VirtualAddress, payloadOffset);
    // The image grows by what the resource section grows.
    const std::uint64_t imageSize = stub.headers.OptionalHeader.SizeOfImage +
                                    AlignUp(payloadOffset + payload.size, PageSize) -
                                    AlignUp(old.Misc.VirtualSize, PageSize);
    if (imageSize > ImageSizeLimit) {
        error = patchPath + L": the patch has " + std::to_wstring(payload.size) +
                L" bytes: the launcher around it would be an image of " +
                std::to_wstring(imageSize) + L" bytes, more than the 2 GB (" +
                std::to_wstring(ImageSizeLimit) +
                L" bytes) that Windows allows an executable image (Microsoft, x64 software "
                L"conventions, \"Image format\").";
        return false;
    }
    if (check) {
        error = check(patchPath);
        if (!error.empty()) {
            error = patchPath + L": " + error;
            return false;
        }
    }
    PartialLauncher partial(output);
    if (!partial.Create(packed.notes, error))
        return false;
    if (!WriteLauncher(stub, section, payloadOffset, patch.get(), payload.size, partial.file.get(),
                       packed, error)) {
        error = (error.rfind(L"the patch", 0) == 0 ? patchPath : output + PartialSuffix) + L": " +
                error;
        return partial.Discard(error);
    }
    FileState after;
    if (!ReadFileState(patch.get(), after) || !SameState(before, after)) {
        error = patchPath + L": the patch changed while it was packed (its size or its time of "
                            L"writing is not what it was); pack it again once nothing writes "
                            L"to it.";
        return partial.Discard(error);
    }
    if (!partial.Commit(error))
        return false;
    if (!partial.leftover.empty())
        packed.notes.push_back(partial.leftover);
    return true;
}

} // namespace kit
