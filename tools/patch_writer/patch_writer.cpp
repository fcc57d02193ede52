#include "tools/patch_writer/patch_writer.h"
#include "kit/package/bytes.h"

#include "common/guid_text.h"
#include "common/holder.h"
#include "kit/package/com_scope.h"

#include <objbase.h>

#include <algorithm>
#include <iterator>
#include <utility>

namespace patchwriter {

using kit::AppendUint16;
using kit::AppendUint32;
using kit::ComScope;
using kit::EncodeStreamName;
using kit::IsDottedVersion;
using kit::IsRegistryGuid;
using kit::PatchClass;
using kit::PropertyAuthor;
using kit::PropertyCharCount;
using kit::PropertyCodepage;
using kit::PropertyComments;
using kit::PropertyKeywords;
using kit::PropertyLastAuthor;
using kit::PropertyPageCount;
using kit::PropertyRevNumber;
using kit::PropertySubject;
using kit::PropertyTemplate;
using kit::PropertyTitle;
using kit::PropertyWordCount;
using kit::PutUint32;
using kit::TransformClass;

namespace {

// {F29F85E0-4FF9-1068-AB91-08002B27B3D9}
const GUID SummaryFormat = {
    0xF29F85E0, 0x4FF9, 0x1068, {0xAB, 0x91, 0x08, 0x00, 0x2B, 0x27, 0xB3, 0xD9}};

constexpr std::uint32_t TypeI2 = 2;        // VT_I2
constexpr std::uint32_t TypeI4 = 3;        // VT_I4
constexpr std::uint32_t TypeLpstr = 30;    // VT_LPSTR
constexpr std::uint32_t TypeFileTime = 64; // VT_FILETIME

// Transform validation (upper word of PID_CHARCOUNT) and error-condition
// flags (lower word).
constexpr std::uint32_t ValidateProduct = 0x0002;
constexpr std::uint32_t ValidateUpdateVersion = 0x0020;
constexpr std::uint32_t ValidateNewEqualBaseVersion = 0x0100;
constexpr std::uint32_t ValidateUpgradeCode = 0x0800;
constexpr std::uint32_t IgnoreAddExistingRow = 0x0001;
constexpr std::uint32_t IgnoreDeleteMissingRow = 0x0002;
constexpr std::uint32_t IgnoreAddExistingTable = 0x0004;
constexpr std::uint32_t IgnoreUpdateMissingRow = 0x0010;

void AppendGuid(std::vector<std::uint8_t>& bytes, const GUID& guid) {
    AppendUint32(bytes, guid.Data1);
    AppendUint16(bytes, guid.Data2);
    AppendUint16(bytes, guid.Data3);
    bytes.insert(bytes.end(), guid.Data4, guid.Data4 + 8);
}

std::string ToCodepage(const std::wstring& text, UINT codepage) {
    if (text.empty())
        return std::string();
    const int size = WideCharToMultiByte(codepage, 0, text.data(), int(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string result(size > 0 ? size : 0, '\0');
    if (size > 0)
        WideCharToMultiByte(codepage, 0, text.data(), int(text.size()), &result[0], size, nullptr,
                            nullptr);
    return result;
}

std::string Ascii(const std::wstring& text) {
    return ToCodepage(text, CP_ACP);
}

bool WriteStream(IStorage* storage, const std::wstring& name,
                 const std::vector<std::uint8_t>& bytes) {
    ComHolder<IStream> stream;
    if (FAILED(storage->CreateStream(name.c_str(), STGM_CREATE | STGM_WRITE | STGM_SHARE_EXCLUSIVE,
                                     0, 0, stream.put())))
        return false;
    ULONG written = 0;
    if (bytes.empty())
        return true;
    return SUCCEEDED(stream.get()->Write(bytes.data(), ULONG(bytes.size()), &written)) &&
           written == bytes.size();
}

bool WriteSummaryStream(IStorage* storage, const SummaryInformation& summary) {
    return WriteStream(storage, L"\005SummaryInformation", summary.Serialize());
}

bool WriteStringPool(IStorage* storage, const StringPool& pool) {
    return WriteStream(storage, EncodeStreamName(L"_StringPool", true), pool.PoolBytes()) &&
           WriteStream(storage, EncodeStreamName(L"_StringData", true), pool.DataBytes());
}

// The rows of one table in a transform, each a column mask and its fields.
struct TransformTable {
    std::wstring name;
    std::vector<std::uint8_t> rows;
};

// A row that changes the Value of the Property row `property` (mask: the
// Value column, index 1; the key column is always present).
void AppendPropertyUpdate(TransformTable& table, StringPool& pool, const std::wstring& property,
                          const std::wstring& value) {
    AppendUint16(table.rows, 0x0002);
    AppendUint16(table.rows, pool.Reference(Ascii(property)));
    AppendUint16(table.rows, pool.Reference(Ascii(value)));
}

// A row that adds the Property row `property` (low bit set: the first two
// columns follow in order).
void AppendPropertyInsert(TransformTable& table, StringPool& pool, const std::wstring& property,
                          const std::wstring& value) {
    AppendUint16(table.rows, 0x0201);
    AppendUint16(table.rows, pool.Reference(Ascii(property)));
    AppendUint16(table.rows, pool.Reference(Ascii(value)));
}

// A row that adds the action `action` to a sequence table (Action, Condition,
// Sequence): low bit set, three columns in order; no condition; a 16-bit
// integer is stored with its top bit flipped.
void AppendSequenceInsert(TransformTable& table, StringPool& pool, const std::wstring& action,
                          std::uint16_t sequence) {
    AppendUint16(table.rows, 0x0301);
    AppendUint16(table.rows, pool.Reference(Ascii(action)));
    AppendUint16(table.rows, 0);
    AppendUint16(table.rows, std::uint16_t(sequence ^ 0x8000));
}

// After InstallFinalize (6600), where a restart is asked for at the end.
constexpr std::uint16_t ScheduleRebootSequence = 6610;

bool WriteTransform(IStorage* parent, const std::wstring& name, const SummaryInformation& summary,
                    const StringPool& pool, const std::vector<TransformTable>& tables) {
    ComHolder<IStorage> storage;
    if (FAILED(parent->CreateStorage(
            name.c_str(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE | STGM_DIRECT, 0, 0,
            storage.put())))
        return false;
    if (FAILED(storage.get()->SetClass(TransformClass)))
        return false;
    if (!WriteSummaryStream(storage.get(), summary) || !WriteStringPool(storage.get(), pool))
        return false;
    for (const TransformTable& table : tables)
        if (!WriteStream(storage.get(), EncodeStreamName(table.name, true), table.rows))
            return false;
    return true;
}

const std::wstring& FromVersion(const PatchDefinition& definition, const PatchTarget& target) {
    return target.fromVersion.empty() ? definition.fromVersion : target.fromVersion;
}

const std::wstring& ToVersion(const PatchDefinition& definition, const PatchTarget& target) {
    return target.toVersion.empty() ? definition.toVersion : target.toVersion;
}

SummaryInformation TransformSummary(const PatchDefinition& definition, const PatchTarget& target) {
    SummaryInformation summary;
    const std::wstring platformLanguage = target.platform + L";" + target.language;
    summary.SetText(PropertyTitle, L"Transform");
    summary.SetText(PropertyTemplate, platformLanguage);
    summary.SetText(PropertyLastAuthor, platformLanguage);
    summary.SetText(PropertyRevNumber, target.productCode + FromVersion(definition, target) + L";" +
                                           target.productCode + ToVersion(definition, target) +
                                           L";" + target.upgradeCode);
    summary.SetInteger(PropertyPageCount, 200);
    const std::uint32_t validation =
        ValidateProduct | ValidateUpdateVersion | ValidateNewEqualBaseVersion | ValidateUpgradeCode;
    const std::uint32_t ignored = IgnoreAddExistingRow | IgnoreDeleteMissingRow |
                                  IgnoreAddExistingTable | IgnoreUpdateMissingRow;
    summary.SetInteger(PropertyCharCount, std::int32_t((validation << 16) | ignored));
    return summary;
}

// Column types as the _Columns table keeps them: a string column (0x0D00)
// with its length, a key (0x2000), one that may be null (0x1000).
constexpr std::uint16_t ColumnString = 0x0D00;
constexpr std::uint16_t ColumnKey = 0x2000;
constexpr std::uint16_t ColumnNullable = 0x1000;
constexpr std::uint16_t IdentifierLength = 72;

// A 16-bit integer cell: the value with its top bit flipped (0 is null).
void AppendIntegerCell(std::vector<std::uint8_t>& cells, std::uint16_t value) {
    AppendUint16(cells, std::uint16_t(value ^ 0x8000));
}

// The root's tables of a patch the installer can be told about removing:
// MsiPatchMetadata with its one standard row (Company null, Property
// AllowRemoval, Value `allowRemoval`), and the system tables that declare it,
// _Tables and _Columns. A database table is stored column by column, each
// string cell as its id in `pool`.
std::vector<TransformTable> PatchMetadataTables(StringPool& pool,
                                                const std::wstring& allowRemoval) {
    const std::string table = "MsiPatchMetadata";
    TransformTable tables{L"_Tables", {}};
    AppendUint16(tables.rows, pool.Reference(table));

    const struct {
        const char* name;
        std::uint16_t type;
    } columns[] = {{"Company", ColumnString | ColumnKey | ColumnNullable | IdentifierLength},
                   {"Property", ColumnString | ColumnKey | IdentifierLength},
                   {"Value", ColumnString}};
    TransformTable columnRows{L"_Columns", {}};
    for (std::size_t i = 0; i < std::size(columns); ++i)
        AppendUint16(columnRows.rows, pool.Reference(table));
    for (std::size_t i = 0; i < std::size(columns); ++i)
        AppendIntegerCell(columnRows.rows, std::uint16_t(i + 1));
    for (const auto& column : columns)
        AppendUint16(columnRows.rows, pool.Reference(column.name));
    for (const auto& column : columns)
        AppendIntegerCell(columnRows.rows, column.type);

    TransformTable metadata{L"MsiPatchMetadata", {}};
    AppendUint16(metadata.rows, 0); // Company: null, a property of the installer's own
    AppendUint16(metadata.rows, pool.Reference("AllowRemoval"));
    AppendUint16(metadata.rows, pool.Reference(Ascii(allowRemoval)));
    return {tables, columnRows, metadata};
}

// A compound file at `path` with the patch class, the root string pool,
// `summary` and, with `allowRemoval`, the MsiPatchMetadata table; `root`
// keeps it open for the transforms.
bool CreatePatchRoot(const std::wstring& path, const SummaryInformation& summary,
                     const std::wstring& allowRemoval, ComHolder<IStorage>& root,
                     std::wstring& error) {
    if (FAILED(StgCreateDocfile(path.c_str(),
                                STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE | STGM_DIRECT,
                                0, root.put()))) {
        error = L"cannot create '" + path + L"'";
        return false;
    }
    StringPool pool;
    const std::vector<TransformTable> tables = allowRemoval.empty()
                                                   ? std::vector<TransformTable>()
                                                   : PatchMetadataTables(pool, allowRemoval);
    bool written = SUCCEEDED(root.get()->SetClass(PatchClass)) &&
                   WriteStringPool(root.get(), pool) && WriteSummaryStream(root.get(), summary);
    for (const TransformTable& table : tables)
        written =
            written && WriteStream(root.get(), EncodeStreamName(table.name, true), table.rows);
    if (written)
        return true;
    error = L"cannot write the streams of '" + path + L"'";
    return false;
}

} // namespace

SummaryInformation::SummaryInformation(std::int16_t codepage) : codepage_(codepage) {
    Value value;
    value.type = TypeI2;
    AppendUint16(value.payload, std::uint16_t(codepage));
    AppendUint16(value.payload, 0);
    values_[PropertyCodepage] = value;
}

void SummaryInformation::SetText(UINT property, const std::wstring& text) {
    const std::string bytes = ToCodepage(text, std::uint16_t(codepage_));
    Value value;
    value.type = TypeLpstr;
    AppendUint32(value.payload, std::uint32_t(bytes.size() + 1)); // terminator included
    value.payload.insert(value.payload.end(), bytes.begin(), bytes.end());
    value.payload.push_back(0);
    values_[property] = value;
}

void SummaryInformation::SetInteger(UINT property, std::int32_t integer) {
    Value value;
    value.type = TypeI4;
    AppendUint32(value.payload, std::uint32_t(integer));
    values_[property] = value;
}

void SummaryInformation::SetFileTime(UINT property, FILETIME time) {
    Value value;
    value.type = TypeFileTime;
    AppendUint32(value.payload, time.dwLowDateTime);
    AppendUint32(value.payload, time.dwHighDateTime);
    values_[property] = value;
}

void SummaryInformation::Remove(UINT property) {
    values_.erase(property);
}

std::vector<std::uint8_t> SummaryInformation::Serialize() const {
    std::vector<std::uint8_t> bytes;
    AppendUint16(bytes, 0xFFFE);     // byte order
    AppendUint16(bytes, 0);          // format
    AppendUint32(bytes, 0x00020006); // originating system: Win32, version 6.0
    AppendGuid(bytes, GUID_NULL);
    AppendUint32(bytes, 1); // one section
    AppendGuid(bytes, SummaryFormat);
    const std::size_t sectionStart = bytes.size() + 4;
    AppendUint32(bytes, std::uint32_t(sectionStart));

    std::vector<std::uint8_t> section;
    AppendUint32(section, 0); // size, filled in below
    AppendUint32(section, std::uint32_t(values_.size()));
    const std::size_t tableStart = section.size();
    section.resize(tableStart + 8 * values_.size());
    std::size_t entry = tableStart;
    for (const auto& [property, value] : values_) {
        PutUint32(section, entry, property);
        PutUint32(section, entry + 4, std::uint32_t(section.size()));
        entry += 8;
        AppendUint32(section, value.type);
        section.insert(section.end(), value.payload.begin(), value.payload.end());
        while (section.size() % 4 != 0)
            section.push_back(0);
    }
    PutUint32(section, 0, std::uint32_t(section.size()));
    bytes.insert(bytes.end(), section.begin(), section.end());
    return bytes;
}

std::uint16_t StringPool::Reference(const std::string& text) {
    if (text.empty())
        return 0;
    auto found = std::find(strings_.begin(), strings_.end(), text);
    if (found != strings_.end()) {
        const std::size_t index = std::size_t(found - strings_.begin());
        ++references_[index];
        return std::uint16_t(index + 1);
    }
    strings_.push_back(text);
    references_.push_back(1);
    return std::uint16_t(strings_.size());
}

std::vector<std::uint8_t> StringPool::PoolBytes() const {
    std::vector<std::uint8_t> bytes;
    AppendUint32(bytes, codepage_); // two-byte string references
    for (std::size_t i = 0; i < strings_.size(); ++i) {
        AppendUint16(bytes, std::uint32_t(strings_[i].size()));
        AppendUint16(bytes, references_[i]);
    }
    return bytes;
}

std::vector<std::uint8_t> StringPool::DataBytes() const {
    std::vector<std::uint8_t> bytes;
    for (const std::string& text : strings_)
        bytes.insert(bytes.end(), text.begin(), text.end());
    return bytes;
}

bool WriteSummaryPackage(const std::wstring& path, const SummaryInformation& summary) {
    ComScope com;
    ComHolder<IStorage> root;
    std::wstring error;
    return CreatePatchRoot(path, summary, std::wstring(), root, error);
}

bool ValidatePatchDefinition(const PatchDefinition& definition, std::wstring& error) {
    if (definition.targets.empty()) {
        error = L"no target product";
        return false;
    }
    for (const PatchTarget& target : definition.targets) {
        if (!IsRegistryGuid(target.productCode)) {
            error = L"product code '" + target.productCode + L"' is not a {GUID} in registry form";
            return false;
        }
        if (!IsRegistryGuid(target.upgradeCode)) {
            error = L"upgrade code '" + target.upgradeCode + L"' of " + target.productCode +
                    L" is not a {GUID} in registry form";
            return false;
        }
        if (!target.newPackageCode.empty() && !IsRegistryGuid(target.newPackageCode)) {
            error =
                L"package code '" + target.newPackageCode + L"' is not a {GUID} in registry form";
            return false;
        }
        if (!IsDottedVersion(FromVersion(definition, target)) ||
            !IsDottedVersion(ToVersion(definition, target))) {
            error = L"versions must be dotted numbers (a.b.c.d), each part at most 65535";
            return false;
        }
        for (wchar_t ch : target.language)
            if (ch < L'0' || ch > L'9') {
                error = L"language '" + target.language + L"' is not a decimal language id";
                return false;
            }
    }
    if (!IsRegistryGuid(definition.patchCode)) {
        error = L"patch code '" + definition.patchCode + L"' is not a {GUID} in registry form";
        return false;
    }
    for (const std::wstring& code : definition.obsoletedPatchCodes)
        if (!IsRegistryGuid(code)) {
            error = L"obsoleted patch code '" + code + L"' is not a {GUID} in registry form";
            return false;
        }
    if (!IsDottedVersion(definition.fromVersion) || !IsDottedVersion(definition.toVersion)) {
        error = L"versions must be dotted numbers (a.b.c.d), each part at most 65535";
        return false;
    }
    for (wchar_t ch : definition.allowRemoval)
        if (ch < 0x20 || ch > 0x7E) {
            error = L"the AllowRemoval value must be printable ASCII text (\"1\" or \"0\")";
            return false;
        }
    // 26 transform pairs keep every substorage name short.
    if (definition.targets.size() > 26) {
        error = L"too many target products";
        return false;
    }
    return true;
}

std::wstring TransformName(std::size_t index) {
    return L"T" + std::to_wstring(index + 1) + L"ToUpgrade";
}

bool WritePatchPackage(const std::wstring& path, const PatchDefinition& definition,
                       std::wstring& error) {
    if (!ValidatePatchDefinition(definition, error))
        return false;

    std::wstring products;
    std::wstring transforms;
    for (std::size_t i = 0; i < definition.targets.size(); ++i) {
        if (i > 0) {
            products += L";";
            transforms += L";";
        }
        products += definition.targets[i].productCode;
        transforms += L":" + TransformName(i) + L";:#" + TransformName(i);
    }
    std::wstring revision = definition.patchCode;
    for (const std::wstring& code : definition.obsoletedPatchCodes)
        revision += code;

    SummaryInformation summary;
    summary.SetText(PropertyTitle, definition.title);
    summary.SetText(PropertySubject, definition.subject);
    summary.SetText(PropertyAuthor, definition.author);
    summary.SetText(PropertyKeywords,
                    definition.keywords.empty()
                        ? definition.toVersion + L";" + definition.fromVersion + L","
                        : definition.keywords);
    summary.SetText(PropertyComments, definition.comments);
    summary.SetText(PropertyTemplate,
                    definition.productList.empty() ? products : definition.productList);
    summary.SetText(PropertyLastAuthor, transforms);
    summary.SetText(PropertyRevNumber, revision);
    summary.SetInteger(PropertyWordCount, 1);

    ComScope com;
    ComHolder<IStorage> root;
    if (!CreatePatchRoot(path, summary, definition.allowRemoval, root, error))
        return false;
    bool written = true;

    for (std::size_t i = 0; written && i < definition.targets.size(); ++i) {
        const PatchTarget& target = definition.targets[i];
        const SummaryInformation transformSummary = TransformSummary(definition, target);

        // The product transform: what the upgraded product differs in.
        StringPool productPool;
        TransformTable productProperties{L"Property", {}};
        AppendPropertyUpdate(productProperties, productPool, L"ProductVersion",
                             ToVersion(definition, target));
        std::vector<TransformTable> productTables = {productProperties};
        if (target.scheduleReboot) {
            TransformTable sequence{L"InstallExecuteSequence", {}};
            AppendSequenceInsert(sequence, productPool, L"ScheduleReboot", ScheduleRebootSequence);
            productTables.push_back(sequence);
        }
        written = WriteTransform(root.get(), TransformName(i), transformSummary, productPool,
                                 productTables);

        // The patch transform: what the patch itself brings along.
        StringPool patchPool;
        std::vector<TransformTable> patchTables;
        if (!target.newPackageCode.empty()) {
            TransformTable patchProperties{L"Property", {}};
            AppendPropertyInsert(patchProperties, patchPool, L"PATCHNEWPACKAGECODE",
                                 target.newPackageCode);
            patchTables.push_back(patchProperties);
        }
        written = written && WriteTransform(root.get(), L"#" + TransformName(i), transformSummary,
                                            patchPool, patchTables);
    }
    for (const auto& [name, bytes] : definition.streams)
        written = written && WriteStream(root.get(), name, bytes);
    if (!written)
        error = L"cannot write the streams of '" + path + L"'";
    return written;
}

} // namespace patchwriter
