#include "kit/package/patch_package.h"

#include "common/guid_text.h"
#include "common/holder.h"
#include "kit/files/file_errors.h"
#include "kit/package/bytes.h"
#include "kit/package/com_scope.h"
#include "kit/text/text.h"

#include <objbase.h>

#include <algorithm>
#include <cstdio>

namespace kit {

const CLSID PatchClass = {
    0x000C1086, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const CLSID TransformClass = {
    0x000C1082, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

namespace {

// 0..63 for the characters that the name compression packs, -1 otherwise.
int NameDigit(wchar_t ch) {
    if (ch >= L'0' && ch <= L'9')
        return ch - L'0';
    if (ch >= L'A' && ch <= L'Z')
        return ch - L'A' + 10;
    if (ch >= L'a' && ch <= L'z')
        return ch - L'a' + 36;
    if (ch == L'.')
        return 62;
    if (ch == L'_')
        return 63;
    return -1;
}

// The stored name `stored` as the installer wrote it, its compression undone.
std::wstring DecodeStreamName(const std::wstring& stored) {
    constexpr wchar_t Digits[] =
        L"0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz._";
    std::wstring name;
    for (wchar_t ch : stored) {
        if (ch >= 0x3800 && ch < 0x4800) {
            name += Digits[(ch - 0x3800) & 0x3F];
            name += Digits[((ch - 0x3800) >> 6) & 0x3F];
        } else if (ch >= 0x4800 && ch < 0x4840) {
            name += Digits[ch - 0x4800];
        } else if (ch != 0x4840) { // 0x4840 marks a table's stream
            name += ch;
        }
    }
    return name;
}

// The compound file format: a header, then sectors numbered from 0, chained
// by the FAT (whose sectors the header and the DIFAT name); streams shorter
// than the cutoff live in the mini stream, in mini sectors chained by the
// mini FAT.
constexpr std::uint8_t CompoundSignature[] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr std::uint32_t HeaderSize = 512;
constexpr std::uint32_t HeaderFatSlots = 109; // FAT sectors the header names itself
constexpr std::uint32_t MaxRegularSector = 0xFFFFFFFA;
constexpr std::uint32_t EndOfChain = 0xFFFFFFFE;
constexpr std::uint32_t EntrySize = 128; // a directory entry
constexpr std::uint32_t MiniSectorSize = 64;
constexpr std::uint32_t MiniStreamCutoff = 4096;
constexpr std::uint32_t FatReadLimit = 1 << 20; // bytes of FAT read at once
constexpr std::uint8_t StreamEntry = 2;
constexpr std::uint8_t RootEntry = 5;

// Sectors of one kind: those of the file (their chains in the FAT) or the
// mini sectors of the mini stream (in the mini FAT), each used at most once.
struct SectorSpace {
    const wchar_t* table;   // "FAT"
    const wchar_t* unit;    // "sector"
    const wchar_t* beyond;  // where a unit that ends past `end` lies: "the end of the file"
    const wchar_t* overrun; // "the patch is truncated: " or "the patch is damaged: "
    std::uint64_t first;    // where unit 0 starts
    std::uint64_t size;     // bytes per unit
    std::uint64_t end;      // where the units end
    std::vector<std::uint32_t> next; // the chains, as far as they were read
    std::vector<bool> used; // by unit number, one past the last unit that starts before `end`
};

class CompoundFileCheck {
  public:
    CompoundFileCheck(HANDLE file, std::uint64_t size) : file_(file), size_(size) {}

    std::wstring Problem() {
        std::vector<std::uint8_t> header;
        if (size_ < HeaderSize || !Read(0, HeaderSize, header) ||
            !std::equal(std::begin(CompoundSignature), std::end(CompoundSignature), header.begin()))
            return NotCompoundFile;
        const std::uint32_t shift = Uint16(header, 0x1E);
        if (Uint16(header, 0x1C) != 0xFFFE || (shift != 9 && shift != 12) ||
            Uint16(header, 0x20) != 6 || Uint32At(header, 0x38) != MiniStreamCutoff)
            return L"the patch is damaged: its header does not give a compound file's byte order "
                   L"and sector sizes (byte order 0x" +
                   Hex(Uint16(header, 0x1C)) + L", sector shift " + std::to_wstring(shift) +
                   L", mini sector shift " + std::to_wstring(Uint16(header, 0x20)) +
                   L", mini stream cutoff " + std::to_wstring(Uint32At(header, 0x38)) + L").";
        version4_ = shift == 12;
        sectorSize_ = std::uint32_t(1) << shift;
        if (size_ < sectorSize_)
            return L"the patch is truncated: its header sector of " + std::to_wstring(sectorSize_) +
                   L" bytes ends beyond the end of the file (" + std::to_wstring(size_) +
                   L" bytes).";
        file_sectors_ = {L"FAT",
                         L"sector",
                         L"the end of the file",
                         L"the patch is truncated: ",
                         sectorSize_,
                         sectorSize_,
                         size_,
                         {},
                         {}};
        file_sectors_.used.assign((size_ - 1) / sectorSize_, false);
        if (!ReadFat(header) || !ReadDirectory(Uint32At(header, 0x30)))
            return problem_;
        const std::vector<std::uint8_t>& root = directory_;
        if (root.size() < EntrySize || root[0x42] != RootEntry)
            return L"the patch is damaged: its directory does not start with the root storage.";
        const std::uint64_t miniStreamSize = StreamSize(root, 0);
        if (!ReadMiniFat(header, miniStreamSize) ||
            !Walk(file_sectors_, Uint32At(root, 0x74), L"directory", L"the mini stream",
                  miniStreamSize, nullptr))
            return problem_;
        for (std::size_t at = EntrySize; at + EntrySize <= directory_.size(); at += EntrySize) {
            const std::uint64_t size = StreamSize(directory_, at);
            if (directory_[at + 0x42] != StreamEntry || size == 0)
                continue;
            const std::wstring purpose = L"the stream '" + Shorten(EntryName(at)) + L"'";
            if (!Walk(size < MiniStreamCutoff ? mini_sectors_ : file_sectors_,
                      Uint32At(directory_, at + 0x74), L"directory", purpose, size, nullptr))
                return problem_;
        }
        return std::wstring();
    }

  private:
    static std::uint32_t Uint16(const std::vector<std::uint8_t>& bytes, std::size_t at) {
        return std::uint32_t(bytes[at]) | std::uint32_t(bytes[at + 1]) << 8;
    }
    static std::wstring Hex(std::uint32_t value) {
        wchar_t text[9] = {}; // eight digits and the terminator
        std::swprintf(text, 9, L"%04X", unsigned(value));
        return text;
    }

    bool Read(std::uint64_t offset, std::uint32_t count, std::vector<std::uint8_t>& bytes) {
        bytes.assign(count, 0);
        LARGE_INTEGER position = {};
        position.QuadPart = LONGLONG(offset);
        DWORD read = 0;
        if (SetFilePointerEx(file_, position, nullptr, FILE_BEGIN) &&
            ReadFile(file_, bytes.data(), count, &read, nullptr) && read == count)
            return true;
        problem_ = L"the patch cannot be read at offset " + std::to_wstring(offset) + L": " +
                   ErrorWords(GetLastError()) + L".";
        return false;
    }

    // Reads sector `sector` whole.
    bool ReadSector(std::uint32_t sector, std::vector<std::uint8_t>& bytes) {
        return Read(file_sectors_.first + std::uint64_t(sector) * sectorSize_, sectorSize_, bytes);
    }

    // Marks unit `unit` of `space`, which `source` names for `purpose` and of
    // which `needed` bytes are used, as used; false, with problem_, when it is
    // none, lies beyond the space's end or was used before.
    bool Take(SectorSpace& space, std::uint32_t unit, const std::wstring& source,
              const std::wstring& purpose, std::uint64_t needed) {
        // Worded only for a refusal: a large patch has millions of units.
        const auto named = [&] {
            return L"its " + source + L" names " + space.unit + L" " + std::to_wstring(unit) +
                   L" for " + purpose;
        };
        if (unit > MaxRegularSector) {
            problem_ = L"the patch is damaged: its " + source + L" names no " + space.unit +
                       L" (0x" + Hex(unit) + L") for " + purpose + L".";
            return false;
        }
        if (unit >= space.used.size() || space.first + unit * space.size + needed > space.end) {
            problem_ = space.overrun + named() + L", beyond " + space.beyond + L" (" +
                       std::to_wstring(space.end) + L" bytes).";
            return false;
        }
        if (space.used[unit]) {
            problem_ = L"the patch is damaged: " + named() +
                       L", which is in use already (a chain that loops, or two that meet).";
            return false;
        }
        space.used[unit] = true;
        return true;
    }

    // Follows the chain from `start` (which `source` names) through `bytes`
    // bytes, or up to its end mark when `bytes` is UnknownLength, taking each
    // unit; their numbers go to `units` when it is given.
    static constexpr std::uint64_t UnknownLength = ~std::uint64_t(0);
    bool Walk(SectorSpace& space, std::uint32_t start, std::wstring source,
              const std::wstring& purpose, std::uint64_t bytes, std::vector<std::uint32_t>* units) {
        std::uint32_t unit = start;
        for (std::uint64_t at = 0, count = 0; at < bytes; at += space.size, ++count) {
            if (bytes == UnknownLength && unit == EndOfChain)
                return true;
            if (bytes != UnknownLength && unit > MaxRegularSector) {
                problem_ = L"the patch is damaged: the chain of " + purpose + L" ends after " +
                           std::to_wstring(count) + L" " + space.unit + L"s, short of its " +
                           std::to_wstring(bytes) + L" bytes.";
                return false;
            }
            if (!Take(space, unit, source, purpose, std::min(space.size, bytes - at)))
                return false;
            if (units != nullptr)
                units->push_back(unit);
            if (bytes != UnknownLength && at + space.size >= bytes)
                return true;
            if (unit >= space.next.size()) {
                problem_ = std::wstring(L"the patch is damaged: its ") + space.table +
                           L" has no entry for " + space.unit + L" " + std::to_wstring(unit) +
                           L", of " + purpose + L".";
                return false;
            }
            unit = space.next[unit];
            if (count == 0)
                source = space.table;
        }
        return true;
    }

    // Reads the FAT as far as it describes the file's sectors; each of its
    // sectors must lie in the file.
    bool ReadFat(const std::vector<std::uint8_t>& header) {
        const std::uint32_t count = Uint32At(header, 0x2C);
        if (count > file_sectors_.used.size()) {
            problem_ = L"the patch is truncated: its header gives its FAT " +
                       std::to_wstring(count) + L" sectors, more than the file (" +
                       std::to_wstring(size_) + L" bytes) holds.";
            return false;
        }
        std::vector<std::uint32_t> fat; // the FAT's sectors
        for (std::uint32_t i = 0; i < count && i < HeaderFatSlots; ++i)
            fat.push_back(Uint32At(header, 0x4C + 4 * i));
        std::uint32_t difat = Uint32At(header, 0x44);
        std::vector<std::uint8_t> bytes;
        for (std::wstring source = L"header"; fat.size() < count; source = L"DIFAT") {
            if (!Take(file_sectors_, difat, source, L"its DIFAT", sectorSize_) ||
                !ReadSector(difat, bytes))
                return false;
            for (std::size_t at = 0; at + 4 < sectorSize_ && fat.size() < count; at += 4)
                fat.push_back(Uint32At(bytes, at));
            difat = Uint32At(bytes, sectorSize_ - 4);
        }
        const std::size_t described = file_sectors_.used.size();
        for (std::uint32_t i = 0; i < count; ++i) {
            const wchar_t* source = i < HeaderFatSlots ? L"header" : L"DIFAT";
            if (!Take(file_sectors_, fat[i], source, L"its FAT", sectorSize_))
                return false;
        }
        // The FAT is held whole (4 bytes per sector of the file: 8 MB for a
        // 1 GB patch of 512-byte sectors), so its room is taken at once.
        file_sectors_.next.reserve(
            std::min<std::uint64_t>(described, std::uint64_t(count) * (sectorSize_ / 4)));
        // The FAT's sectors usually follow one another: read each such run
        // at once, up to FatReadLimit bytes.
        for (std::uint32_t i = 0; i < count && file_sectors_.next.size() < described;) {
            std::uint32_t run = 1;
            while (i + run < count && fat[i + run] == fat[i] + run &&
                   (run + 1) * std::uint64_t(sectorSize_) <= FatReadLimit)
                ++run;
            if (!Read(file_sectors_.first + std::uint64_t(fat[i]) * sectorSize_, run * sectorSize_,
                      bytes))
                return false;
            for (std::size_t at = 0; at + 4 <= bytes.size(); at += 4)
                file_sectors_.next.push_back(Uint32At(bytes, at));
            i += run;
        }
        return true;
    }

    bool ReadDirectory(std::uint32_t start) {
        std::vector<std::uint32_t> sectors;
        if (!Walk(file_sectors_, start, L"header", L"its directory", UnknownLength, &sectors))
            return false;
        std::vector<std::uint8_t> bytes;
        for (std::uint32_t sector : sectors) {
            if (!ReadSector(sector, bytes))
                return false;
            directory_.insert(directory_.end(), bytes.begin(), bytes.end());
        }
        return true;
    }

    // Reads the mini FAT as far as it describes the mini stream of
    // `miniStreamSize` bytes.
    bool ReadMiniFat(const std::vector<std::uint8_t>& header, std::uint64_t miniStreamSize) {
        mini_sectors_ = {L"mini FAT",
                         L"mini sector",
                         L"the end of the mini stream",
                         L"the patch is damaged: ",
                         0,
                         MiniSectorSize,
                         miniStreamSize,
                         {},
                         {}};
        mini_sectors_.used.assign((miniStreamSize + MiniSectorSize - 1) / MiniSectorSize, false);
        std::vector<std::uint32_t> sectors;
        const std::uint32_t count = Uint32At(header, 0x40);
        if (count > 0 && !Walk(file_sectors_, Uint32At(header, 0x3C), L"header", L"its mini FAT",
                               std::uint64_t(count) * sectorSize_, &sectors))
            return false;
        std::vector<std::uint8_t> bytes;
        for (std::uint32_t sector : sectors) {
            if (mini_sectors_.next.size() >= mini_sectors_.used.size())
                break; // the rest describes mini sectors beyond the mini stream
            if (!ReadSector(sector, bytes))
                return false;
            for (std::size_t at = 0; at < sectorSize_; at += 4)
                mini_sectors_.next.push_back(Uint32At(bytes, at));
        }
        return true;
    }

    // The size of the stream of the entry at `at`; a version 3 file keeps
    // only the lower 32 bits.
    std::uint64_t StreamSize(const std::vector<std::uint8_t>& entries, std::size_t at) const {
        const std::uint64_t high = version4_ ? Uint32At(entries, at + 0x7C) : 0;
        return high << 32 | Uint32At(entries, at + 0x78);
    }

    std::wstring EntryName(std::size_t at) const {
        const std::size_t length = std::min<std::size_t>(Uint16(directory_, at + 0x40), 64) / 2;
        std::wstring stored;
        for (std::size_t i = 0; i < length && Uint16(directory_, at + 2 * i) != 0; ++i)
            stored += wchar_t(Uint16(directory_, at + 2 * i));
        return DecodeStreamName(stored);
    }

    HANDLE file_;
    std::uint64_t size_;
    bool version4_ = false;
    std::uint32_t sectorSize_ = 0;
    SectorSpace file_sectors_;
    SectorSpace mini_sectors_;
    std::vector<std::uint8_t> directory_;
    std::wstring problem_;
};

} // namespace

std::wstring CompoundFileProblem(HANDLE file, std::uint64_t size) {
    return CompoundFileCheck(file, size).Problem();
}

std::wstring EncodeStreamName(const std::wstring& name, bool isTable) {
    std::wstring encoded;
    if (isTable)
        encoded.push_back(wchar_t(0x4840));
    for (std::size_t i = 0; i < name.size(); ++i) {
        const int first = NameDigit(name[i]);
        if (first < 0) {
            encoded.push_back(name[i]);
            continue;
        }
        const int second = i + 1 < name.size() ? NameDigit(name[i + 1]) : -1;
        if (second >= 0) {
            encoded.push_back(wchar_t(0x3800 + first + (second << 6)));
            ++i;
        } else {
            encoded.push_back(wchar_t(0x4800 + first));
        }
    }
    return encoded;
}

bool IsRegistryGuid(const std::wstring& text) {
    return IsBracedGuid(text) && RegistryForm(text) == text;
}

bool IsDottedVersion(const std::wstring& text) {
    std::size_t parts = 1;
    std::size_t digits = 0;
    unsigned long value = 0;
    for (wchar_t ch : text) {
        if (ch == L'.') {
            if (digits == 0 || ++parts > 4)
                return false;
            digits = 0;
            value = 0;
        } else if (ch >= L'0' && ch <= L'9') {
            value = value * 10 + (ch - L'0');
            if (++digits > 5 || value > 65535)
                return false;
        } else {
            return false;
        }
    }
    return digits > 0;
}

bool ReadRootClass(const std::wstring& path, CLSID& rootClass) {
    ComScope com;
    ComHolder<IStorage> root;
    if (FAILED(StgOpenStorage(path.c_str(), nullptr, STGM_READ | STGM_SHARE_DENY_WRITE, nullptr, 0,
                              root.put())))
        return false;
    STATSTG status = {};
    if (FAILED(root.get()->Stat(&status, STATFLAG_NONAME)))
        return false;
    rootClass = status.clsid;
    return true;
}

bool ReadRootStreamNames(const std::wstring& path, std::vector<std::wstring>& names) {
    ComScope com;
    ComHolder<IStorage> root;
    ComHolder<IEnumSTATSTG> elements;
    if (FAILED(StgOpenStorage(path.c_str(), nullptr, STGM_READ | STGM_SHARE_DENY_WRITE, nullptr, 0,
                              root.put())) ||
        FAILED(root.get()->EnumElements(0, nullptr, 0, elements.put())))
        return false;
    names.clear();
    STATSTG element = {};
    while (elements.get()->Next(1, &element, nullptr) == S_OK) {
        if (element.type == STGTY_STREAM && element.pwcsName != nullptr)
            names.push_back(element.pwcsName);
        CoTaskMemFree(element.pwcsName);
    }
    return true;
}

std::wstring GuidText(const GUID& guid) {
    wchar_t text[39] = {}; // 38 characters and the terminator
    if (StringFromGUID2(guid, text, 39) == 0)
        return std::wstring();
    return text;
}

} // namespace kit
