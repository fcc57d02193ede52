#include "kit/launcher_image.h"

#include "common/growing_text.h"
#include "common/holder.h"
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

constexpr std::size_t CopyChunk = 8 << 20;    // bytes written at a time
constexpr std::size_t PatchWindow = 2 << 20;  // bytes of the patch mapped at a time
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

std::wstring ErrorText(DWORD code) {
    return L"(error " + std::to_wstring(code) + L")";
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
    file_.reset(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size = {};
    if (!file_ || !GetFileSizeEx(file_.get(), &size)) {
        error = path + L": cannot open the launcher stub " + ErrorText(GetLastError()) + L".";
        return false;
    }
    size_ = std::uint64_t(size.QuadPart);
    if (size_ < sizeof(IMAGE_DOS_HEADER))
        return Refuse(L"it is too short to be a program.", error);
    mapping_.reset(CreateFileMappingW(file_.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
    if (mapping_)
        view_.reset(MapViewOfFile(mapping_.get(), FILE_MAP_READ, 0, 0, 0));
    if (!view_) {
        error = path + L": cannot read the launcher stub " + ErrorText(GetLastError()) + L".";
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

// Writes a file sequentially and keeps the PE checksum of what it wrote: the
// sum of its 16-bit little-endian words with the carries added back in.
class ImageWriter {
  public:
    explicit ImageWriter(HANDLE file) : file_(file) {}

    bool Write(const std::uint8_t* bytes, std::size_t size) {
        Add(bytes, size);
        while (size > 0) {
            const DWORD part = DWORD(std::min<std::size_t>(size, CopyChunk));
            DWORD written = 0;
            if (!WriteFile(file_, bytes, part, &written, nullptr) || written != part)
                return false;
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
    std::uint64_t position() const { return position_; }

    // The checksum as CheckSumMappedFile computes it for the file written,
    // whose checksum field was written as 0.
    DWORD Checksum() const {
        std::uint64_t sum = sum_;
        while (sum >> 16 != 0)
            sum = (sum & 0xFFFF) + (sum >> 16);
        return DWORD(sum + position_);
    }

  private:
    void Add(const std::uint8_t* bytes, std::size_t size) {
        if (size > 0 && position_ % 2 != 0) {
            sum_ += std::uint64_t(*bytes) << 8;
            ++bytes;
            --size;
            ++position_;
        }
        std::size_t i = 0;
        for (; i + 4 <= size; i += 4) {
            std::uint32_t words = 0;
            std::memcpy(&words, bytes + i, 4);
            sum_ += words; // two words: 65536 is 1 in the folded sum
        }
        for (; i + 2 <= size; i += 2)
            sum_ += std::uint64_t(bytes[i]) | std::uint64_t(bytes[i + 1]) << 8;
        if (i < size)
            sum_ += bytes[i];
        position_ += size;
    }

    HANDLE file_;
    std::uint64_t sum_ = 0;
    std::uint64_t position_ = 0;
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
        const FileHandle file(CreateFileW((i == 0 ? a : b).c_str(), 0,
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

// A new file beside `output` that is removed when the value goes, unless it
// was renamed to `output`.
class TemporaryOutput {
  public:
    bool Create(const std::wstring& output, std::wstring& error) {
        const std::wstring full = FullPath(output);
        const std::wstring directory = full.substr(0, full.find_last_of(L"\\/") + 1);
        wchar_t name[MAX_PATH] = {}; // what GetTempFileNameW writes, terminator included
        if (directory.empty() || GetTempFileNameW(directory.c_str(), L"pk", 0, name) == 0) {
            error =
                output + L": cannot write a file in its folder " + ErrorText(GetLastError()) + L".";
            return false;
        }
        path_ = name;
        // The file just made, opened as it is: truncating it would have the
        // file system flush the whole launcher when it is closed.
        file.reset(CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) {
            error = path_ + L": cannot write " + ErrorText(GetLastError()) + L".";
            return false;
        }
        return true;
    }
    // Puts the launcher in place of `output`. An earlier launcher there is
    // moved aside first and removed once the new one is in its place (put
    // back when it cannot be): a file renamed over another is written out
    // to disk before the rename returns on Linux's ext4, where Wine runs.
    bool Commit(const std::wstring& output, std::wstring& error) {
        if (!file.close())
            return Fail(output, error);
        const std::wstring aside = path_ + L".old";
        const bool replacing = GetFileAttributesW(output.c_str()) != INVALID_FILE_ATTRIBUTES;
        if (replacing && !MoveFileExW(output.c_str(), aside.c_str(), 0))
            return Fail(output, error);
        if (!MoveFileExW(path_.c_str(), output.c_str(), 0)) {
            Fail(output, error);
            if (replacing)
                MoveFileExW(aside.c_str(), output.c_str(), 0);
            return false;
        }
        path_.clear();
        if (replacing)
            DeleteFileW(aside.c_str());
        return true;
    }
    ~TemporaryOutput() {
        file.reset();
        if (!path_.empty())
            DeleteFileW(path_.c_str());
    }

    FileHandle file;

  private:
    bool Fail(const std::wstring& output, std::wstring& error) const {
        error = output + L": cannot write " + ErrorText(GetLastError()) + L".";
        return false;
    }

    std::wstring path_;
};

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

    ImageWriter writer(output);
    const std::uint64_t tail = old.PointerToRawData + std::uint64_t(old.SizeOfRawData);
    bool written = writer.Write(head.data(), head.size()) &&
                   writer.Write(resourceSection.data(), resourceSection.size()) &&
                   writer.Zeros(payloadOffset - resourceSection.size());
    // The patch is written from its pages in the cache, a window at a time:
    // no copy of it is made, and no more of it is mapped than a window.
    const KernelHandle mapping(CreateFileMappingW(patch, nullptr, PAGE_READONLY, 0, 0, nullptr));
    for (std::uint64_t copied = 0; written && copied < patchSize; copied += PatchWindow) {
        const std::size_t size =
            std::size_t(std::min<std::uint64_t>(PatchWindow, patchSize - copied));
        const Holder<ViewTraits> view(mapping
                                          ? MapViewOfFile(mapping.get(), FILE_MAP_READ,
                                                          DWORD(copied >> 32), DWORD(copied), size)
                                          : nullptr);
        if (!view) {
            error = L"the patch could not be read " + ErrorText(GetLastError()) + L".";
            return false;
        }
        written = writer.Write(static_cast<const std::uint8_t*>(view.get()), size);
    }
    written = written && writer.Zeros(rawSize - virtualSize) &&
              writer.Write(stub.bytes() + tail, std::size_t(stub.size() - tail));
    const DWORD checksum = writer.Checksum();
    const std::size_t checksumAt = stub.ntOffset + offsetof(IMAGE_NT_HEADERS64, OptionalHeader) +
                                   offsetof(IMAGE_OPTIONAL_HEADER64, CheckSum);
    LARGE_INTEGER position = {};
    position.QuadPart = LONGLONG(checksumAt);
    DWORD checksumWritten = 0;
    if (!written || !SetFilePointerEx(output, position, nullptr, FILE_BEGIN) ||
        !WriteFile(output, &checksum, sizeof checksum, &checksumWritten, nullptr) ||
        checksumWritten != sizeof checksum) {
        error = L"the launcher could not be written " + ErrorText(GetLastError()) + L".";
        return false;
    }
    packed.payloadSize = patchSize;
    packed.payloadOffset = old.PointerToRawData + payloadOffset;
    packed.payloadRva = DWORD(old.VirtualAddress + payloadOffset);
    packed.imageSize = imageSize;
    return true;
}

} // namespace

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

    const FileHandle patch(CreateFileW(patchPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                       OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    LARGE_INTEGER patchSize = {};
    if (!patch || !GetFileSizeEx(patch.get(), &patchSize)) {
        error = patchPath + L": cannot read the patch " + ErrorText(GetLastError()) + L".";
        return false;
    }
    if (patchSize.QuadPart == 0) {
        error = patchPath + L": the patch is empty.";
        return false;
    }
    Resource payload;
    payload.type.name = PayloadResourceType;
    payload.name.name = PayloadResourceName;
    payload.language = LauncherLanguage;
    payload.size = std::uint64_t(patchSize.QuadPart);
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
    TemporaryOutput temporary;
    return temporary.Create(output, error) &&
           WriteLauncher(stub, section, payloadOffset, patch.get(), payload.size,
                         temporary.file.get(), packed, error) &&
           temporary.Commit(output, error);
}

} // namespace kit
