// Stamping: a copy of a patch with other keywords and nothing else changed.
#include "kit/stamp/patch_stamp.h"
#include "common/guid_text.h"
#include "common/holder.h"
#include "kit/check/patch_rules.h"
#include "kit/package/bytes.h"
#include "kit/package/com_scope.h"
#include "kit/package/patch_package.h"
#include "products/products.h"

#include <algorithm>

namespace kit {

namespace {

constexpr std::uint32_t TypeLpstr = 30;      // VT_LPSTR
constexpr UINT CodepageUnicode = 1200;       // texts stored as UTF-16
constexpr std::size_t SetHeaderSize = 28;    // byte order .. number of sections
constexpr std::size_t SectionEntrySize = 20; // FMTID and offset
constexpr wchar_t SummaryStreamName[] = L"\005SummaryInformation";
constexpr wchar_t SignatureStreamName[] = L"\005DigitalSignature";
constexpr wchar_t ForceAdvice[] = L"; give --force to write them anyway";

// One property of a section: its ID and the bytes of its value (type first,
// padding included), as stored.
struct RawProperty {
    std::uint32_t id = 0;
    std::uint32_t offset = 0;
    std::vector<std::uint8_t> value;
};

// The first section of a property-set stream, split into its properties in
// the order of their values; false when the bytes are not a property set.
bool SplitFirstSection(const std::vector<std::uint8_t>& stream, std::size_t& sectionStart,
                       std::size_t& sectionSize, std::vector<RawProperty>& properties) {
    if (stream.size() < SetHeaderSize + SectionEntrySize || stream[0] != 0xFE || stream[1] != 0xFF)
        return false;
    if (Uint32At(stream, 24) < 1)
        return false;
    sectionStart = Uint32At(stream, SetHeaderSize + 16);
    if (sectionStart > stream.size() || stream.size() - sectionStart < 8)
        return false;
    sectionSize = Uint32At(stream, sectionStart);
    const std::size_t count = Uint32At(stream, sectionStart + 4);
    if (sectionSize < 8 || sectionSize > stream.size() - sectionStart ||
        count > (sectionSize - 8) / 8)
        return false;
    properties.clear();
    for (std::size_t i = 0; i < count; ++i) {
        RawProperty property;
        property.id = Uint32At(stream, sectionStart + 8 + 8 * i);
        property.offset = Uint32At(stream, sectionStart + 12 + 8 * i);
        if (property.offset < 8 + 8 * count || property.offset + 4 > sectionSize)
            return false;
        properties.push_back(property);
    }
    std::sort(properties.begin(), properties.end(),
              [](const RawProperty& a, const RawProperty& b) { return a.offset < b.offset; });
    for (std::size_t i = 0; i < properties.size(); ++i) {
        const std::size_t end =
            i + 1 < properties.size() ? properties[i + 1].offset : std::uint32_t(sectionSize);
        properties[i].value.assign(stream.begin() + sectionStart + properties[i].offset,
                                   stream.begin() + sectionStart + end);
    }
    return true;
}

UINT SetCodepage(const std::vector<RawProperty>& properties) {
    for (const RawProperty& property : properties)
        if (property.id == PropertyCodepage && property.value.size() >= 6)
            return UINT(property.value[4] | property.value[5] << 8);
    return CP_ACP;
}

// The bytes of a VT_LPSTR value holding `text` in `codepage`, padded to 4.
bool TextValue(const std::wstring& text, UINT codepage, std::vector<std::uint8_t>& value) {
    std::vector<std::uint8_t> bytes;
    if (codepage == CodepageUnicode) {
        for (wchar_t ch : text) {
            bytes.push_back(std::uint8_t(ch & 0xFF));
            bytes.push_back(std::uint8_t(ch >> 8));
        }
        bytes.insert(bytes.end(), {0, 0});
    } else {
        if (!text.empty()) {
            BOOL lost = FALSE;
            const bool exact = codepage != CP_UTF8 && codepage != 65000;
            const int size = WideCharToMultiByte(codepage, 0, text.data(), int(text.size()),
                                                 nullptr, 0, nullptr, exact ? &lost : nullptr);
            if (size <= 0 || lost)
                return false;
            bytes.resize(std::size_t(size));
            WideCharToMultiByte(codepage, 0, text.data(), int(text.size()),
                                reinterpret_cast<char*>(bytes.data()), size, nullptr, nullptr);
        }
        bytes.push_back(0);
    }
    value.clear();
    AppendUint32(value, TypeLpstr);
    AppendUint32(value, std::uint32_t(bytes.size())); // terminator included
    value.insert(value.end(), bytes.begin(), bytes.end());
    while (value.size() % 4 != 0)
        value.push_back(0);
    return true;
}

bool ReadStream(IStorage* storage, const wchar_t* name, std::vector<std::uint8_t>& bytes) {
    ComHolder<IStream> stream;
    if (FAILED(
            storage->OpenStream(name, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, stream.put())))
        return false;
    STATSTG status = {};
    if (FAILED(stream.get()->Stat(&status, STATFLAG_NONAME)) || status.cbSize.QuadPart > 0x7FFFFFFF)
        return false;
    bytes.assign(std::size_t(status.cbSize.QuadPart), 0);
    ULONG read = 0;
    if (bytes.empty())
        return true;
    return SUCCEEDED(stream.get()->Read(bytes.data(), ULONG(bytes.size()), &read)) &&
           read == bytes.size();
}

bool HasStream(IStorage* storage, const wchar_t* name) {
    ComHolder<IStream> stream;
    return SUCCEEDED(
        storage->OpenStream(name, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, stream.put()));
}

// Equality as the launcher compares versions.
bool SameVersion(const std::wstring& a, const std::wstring& b) {
    return VersionsEqual(ParseVersion(a), ParseVersion(b));
}

// Calls `visit` with the name and the summary stream of every substorage
// (transform) of `root` that has one; false when the storages cannot be
// listed or `visit` returns false.
template <typename Visit> bool VisitTransformSummaries(IStorage* root, Visit visit) {
    ComHolder<IEnumSTATSTG> elements;
    if (FAILED(root->EnumElements(0, nullptr, 0, elements.put())))
        return false;
    STATSTG element = {};
    while (elements.get()->Next(1, &element, nullptr) == S_OK) {
        const std::wstring name = element.pwcsName != nullptr ? element.pwcsName : L"";
        CoTaskMemFree(element.pwcsName);
        if (element.type != STGTY_STORAGE)
            continue;
        ComHolder<IStorage> transform;
        std::vector<std::uint8_t> summary;
        if (SUCCEEDED(root->OpenStorage(name.c_str(), nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE,
                                        nullptr, 0, transform.put())) &&
            ReadStream(transform.get(), SummaryStreamName, summary) && !visit(name, summary))
            return false;
    }
    return true;
}

// The revisions of every substorage (transform) of `root` that names one.
bool ReadTransformRevisions(IStorage* root,
                            std::vector<std::pair<std::wstring, TransformRevision>>& revisions,
                            std::wstring& error) {
    error = L"cannot list the storages of the patch";
    return VisitTransformSummaries(
        root, [&](const std::wstring& name, const std::vector<std::uint8_t>& summary) {
            std::wstring text;
            if (!ReadSummaryText(summary, PropertyRevNumber, text) || text.empty())
                return true;
            TransformRevision revision;
            if (!ParseTransformRevision(text, revision)) {
                error = L"the transform '" + name + L"' has the revision number '" + text +
                        L"', not {PRODUCTCODE}FROMVERSION;{PRODUCTCODE}TOVERSION;{UPGRADECODE}";
                return false;
            }
            revisions.emplace_back(name, revision);
            return true;
        });
}

using Revisions = std::vector<std::pair<std::wstring, TransformRevision>>;

// "TO;FROM,FROM2,..." from transforms that agree on the version they bring a
// product to; "V;V," when every one of them leaves the product at V (a small
// update). Transforms of both kinds are refused: keywords cannot say both.
bool DeriveKeywords(const Revisions& revisions, std::wstring& keywords, std::wstring& error) {
    if (revisions.empty()) {
        error = L"no transform of the patch names its product versions (PID_REVNUMBER); give the "
                L"keywords with --keywords";
        return false;
    }
    const auto& [firstName, first] = revisions.front();
    const bool smallUpdate = SameVersion(first.fromVersion, first.toVersion);
    std::vector<std::wstring> fromVersions;
    for (const auto& [name, revision] : revisions) {
        if (!SameVersion(revision.toVersion, first.toVersion)) {
            error = L"the transforms disagree on the version they bring a product to: '" +
                    firstName + L"' brings " + first.toVersion + L", '" + name + L"' brings " +
                    revision.toVersion;
            return false;
        }
        if (SameVersion(revision.fromVersion, revision.toVersion) != smallUpdate) {
            error = L"the transform '" + name + L"' takes " + revision.toProduct + L" from " +
                    revision.fromVersion + L" to " + revision.toVersion + L", but '" + firstName +
                    L"' takes its product from " + first.fromVersion + L" to " + first.toVersion +
                    L": the launcher's keywords cannot name an update that changes the version "
                    L"and one that does not; give them with --keywords";
            return false;
        }
        if (std::find(fromVersions.begin(), fromVersions.end(), revision.fromVersion) ==
            fromVersions.end())
            fromVersions.push_back(revision.fromVersion);
    }
    keywords = first.toVersion + L";";
    for (const std::wstring& version :
         smallUpdate ? std::vector<std::wstring>{first.toVersion} : fromVersions)
        keywords += version + L",";
    return true;
}

// Whether the keywords given agree with the transforms: each transform's
// from-version is a target entry, and the upgrade version is its to-version.
bool KeywordsFitTransforms(const std::wstring& keywords, const Revisions& revisions,
                           std::wstring& error) {
    const std::size_t separator = keywords.find(L';');
    const std::wstring upgrade = keywords.substr(0, separator);
    const std::wstring targets = keywords.substr(separator + 1);
    for (const auto& [name, revision] : revisions) {
        if (!SameVersion(upgrade, revision.toVersion)) {
            error = L"the keywords' upgrade version '" + upgrade + L"' is not " +
                    revision.toVersion + L", the version that the transform '" + name +
                    L"' brings " + revision.toProduct + L" to" + ForceAdvice;
            return false;
        }
        bool named = false;
        for (std::size_t start = 0, comma;
             (comma = targets.find(L',', start)) != std::wstring::npos; start = comma + 1)
            named =
                named || SameVersion(targets.substr(start, comma - start), revision.fromVersion);
        if (!named) {
            error = L"the keywords' target list '" + targets + L"' does not name " +
                    revision.fromVersion + L", the version that the transform '" + name +
                    L"' takes " + revision.fromProduct + L" from" + ForceAdvice;
            return false;
        }
    }
    return true;
}

// Replaces the summary stream of the compound file at `path` with `bytes`.
bool RewriteSummary(const std::wstring& path, const std::vector<std::uint8_t>& bytes) {
    ComHolder<IStorage> root;
    if (FAILED(StgOpenStorage(path.c_str(), nullptr, STGM_READWRITE | STGM_SHARE_EXCLUSIVE, nullptr,
                              0, root.put())))
        return false;
    ComHolder<IStream> stream;
    if (FAILED(root.get()->OpenStream(SummaryStreamName, nullptr,
                                      STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, stream.put())))
        return false;
    ULARGE_INTEGER size = {};
    size.QuadPart = bytes.size();
    LARGE_INTEGER start = {};
    ULONG written = 0;
    return SUCCEEDED(stream.get()->SetSize(size)) &&
           SUCCEEDED(stream.get()->Seek(start, STREAM_SEEK_SET, nullptr)) &&
           SUCCEEDED(stream.get()->Write(bytes.data(), ULONG(bytes.size()), &written)) &&
           written == bytes.size() && SUCCEEDED(stream.get()->Commit(STGC_DEFAULT)) &&
           SUCCEEDED(root.get()->Commit(STGC_DEFAULT));
}

} // namespace

bool ReadSummaryText(const std::vector<std::uint8_t>& stream, UINT property, std::wstring& text) {
    std::size_t sectionStart = 0, sectionSize = 0;
    std::vector<RawProperty> properties;
    if (!SplitFirstSection(stream, sectionStart, sectionSize, properties))
        return false;
    const UINT codepage = SetCodepage(properties);
    for (const RawProperty& raw : properties) {
        if (raw.id != property)
            continue;
        if (raw.value.size() < 8 || Uint32At(raw.value, 0) != TypeLpstr)
            return false;
        const std::size_t size = Uint32At(raw.value, 4);
        if (size > raw.value.size() - 8)
            return false;
        const std::uint8_t* bytes = raw.value.data() + 8;
        text.clear();
        if (codepage == CodepageUnicode) {
            for (std::size_t i = 0; i + 1 < size && (bytes[i] | bytes[i + 1]) != 0; i += 2)
                text.push_back(wchar_t(bytes[i] | bytes[i + 1] << 8));
            return true;
        }
        const std::size_t length =
            std::find(bytes, bytes + size, std::uint8_t(0)) - bytes; // up to the first NUL
        if (length == 0)
            return true;
        const int wide = MultiByteToWideChar(codepage, 0, reinterpret_cast<const char*>(bytes),
                                             int(length), nullptr, 0);
        if (wide <= 0)
            return false;
        text.assign(std::size_t(wide), L'\0');
        MultiByteToWideChar(codepage, 0, reinterpret_cast<const char*>(bytes), int(length),
                            &text[0], wide);
        return true;
    }
    return false;
}

bool ReplaceSummaryText(std::vector<std::uint8_t>& stream, UINT property,
                        const std::wstring& text) {
    std::size_t sectionStart = 0, sectionSize = 0;
    std::vector<RawProperty> properties;
    if (!SplitFirstSection(stream, sectionStart, sectionSize, properties))
        return false;
    std::vector<std::uint8_t> value;
    if (!TextValue(text, SetCodepage(properties), value))
        return false;
    auto found = std::find_if(properties.begin(), properties.end(),
                              [property](const RawProperty& raw) { return raw.id == property; });
    if (found != properties.end()) {
        found->value = value;
    } else {
        RawProperty added;
        added.id = property;
        added.value = value;
        properties.push_back(added);
    }

    // The section again: the property table, then the values in their order.
    std::vector<std::uint8_t> section(8 + 8 * properties.size(), 0);
    PutUint32(section, 4, std::uint32_t(properties.size()));
    for (std::size_t i = 0; i < properties.size(); ++i) {
        PutUint32(section, 8 + 8 * i, properties[i].id);
        PutUint32(section, 12 + 8 * i, std::uint32_t(section.size()));
        section.insert(section.end(), properties[i].value.begin(), properties[i].value.end());
    }
    PutUint32(section, 0, std::uint32_t(section.size()));

    // Sections after the first keep their bytes; their offsets move.
    const std::size_t sections = Uint32At(stream, 24);
    std::vector<std::uint8_t> rebuilt(stream.begin(), stream.begin() + sectionStart);
    rebuilt.insert(rebuilt.end(), section.begin(), section.end());
    const std::ptrdiff_t shift = std::ptrdiff_t(section.size()) - std::ptrdiff_t(sectionSize);
    for (std::size_t i = 1; i < sections; ++i) {
        const std::size_t entry = SetHeaderSize + SectionEntrySize * i + 16;
        if (entry + 4 > sectionStart)
            return false;
        const std::size_t offset = Uint32At(stream, entry);
        if (offset < sectionStart + sectionSize || offset + 4 > stream.size())
            return false;
        PutUint32(rebuilt, entry, std::uint32_t(std::ptrdiff_t(offset) + shift));
    }
    rebuilt.insert(rebuilt.end(), stream.begin() + sectionStart + sectionSize, stream.end());
    stream.swap(rebuilt);
    return true;
}

bool ParseTransformRevision(const std::wstring& text, TransformRevision& revision) {
    // "{CODE}VERSION;{CODE}VERSION;{UPGRADE}", white space around fields allowed.
    std::vector<std::wstring> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t semicolon = text.find(L';', start);
        std::wstring field = text.substr(
            start, semicolon == std::wstring::npos ? std::wstring::npos : semicolon - start);
        const std::size_t first = field.find_first_not_of(L" \t");
        const std::size_t last = field.find_last_not_of(L" \t");
        fields.push_back(first == std::wstring::npos ? std::wstring()
                                                     : field.substr(first, last - first + 1));
        if (semicolon == std::wstring::npos)
            break;
        start = semicolon + 1;
    }
    if (fields.size() < 2 || fields.size() > 3)
        return false;
    TransformRevision parsed;
    for (int i = 0; i < 2; ++i) {
        const std::wstring& field = fields[i];
        const std::wstring code = field.substr(0, 38);
        std::wstring version = field.size() > 38 ? field.substr(38) : std::wstring();
        const std::size_t begin = version.find_first_not_of(L" \t");
        version = begin == std::wstring::npos ? std::wstring() : version.substr(begin);
        if (!IsRegistryGuid(code) || !IsDottedVersion(version))
            return false;
        (i == 0 ? parsed.fromProduct : parsed.toProduct) = code;
        (i == 0 ? parsed.fromVersion : parsed.toVersion) = version;
    }
    if (fields.size() == 3 && !fields[2].empty()) {
        if (!IsRegistryGuid(fields[2]))
            return false;
        parsed.upgradeCode = fields[2];
    }
    revision = parsed;
    return true;
}

bool ReadTransformPlatforms(const std::wstring& path,
                            std::map<std::wstring, std::wstring>& platforms) {
    ComScope com;
    ComHolder<IStorage> root;
    if (FAILED(StgOpenStorage(path.c_str(), nullptr, STGM_READ | STGM_SHARE_DENY_WRITE, nullptr, 0,
                              root.put())))
        return false;
    return VisitTransformSummaries(
        root.get(), [&](const std::wstring&, const std::vector<std::uint8_t>& summary) {
            std::wstring revisionText, platformLanguage;
            TransformRevision revision;
            if (ReadSummaryText(summary, PropertyRevNumber, revisionText) &&
                ParseTransformRevision(revisionText, revision) &&
                ReadSummaryText(summary, PropertyTemplate, platformLanguage) &&
                platformLanguage.find(L';') > 0)
                platforms[RegistryForm(revision.toProduct)] =
                    platformLanguage.substr(0, platformLanguage.find(L';'));
            return true;
        });
}

bool StampPatchPackage(const std::wstring& input, const std::wstring& output,
                       const std::wstring& keywords, bool force, StampResult& result,
                       std::wstring& error) {
    if (GetFileAttributesW(input.c_str()) == INVALID_FILE_ATTRIBUTES) {
        error = L"'" + input + L"' does not exist";
        return false;
    }
    ComScope com;
    std::vector<std::uint8_t> summary;
    std::wstring newKeywords = keywords;
    std::wstring patchCode;
    bool signature = false;
    {
        ComHolder<IStorage> root;
        if (FAILED(StgOpenStorage(input.c_str(), nullptr, STGM_READ | STGM_SHARE_DENY_WRITE,
                                  nullptr, 0, root.put()))) {
            error = L"'" + input + L"' is not a compound file that can be read";
            return false;
        }
        STATSTG status = {};
        if (FAILED(root.get()->Stat(&status, STATFLAG_NONAME)) ||
            !IsEqualCLSID(status.clsid, PatchClass)) {
            error = L"'" + input +
                    L"' is not a Windows Installer patch package (its class is not " +
                    GuidText(PatchClass) + L")";
            return false;
        }
        if (!ReadStream(root.get(), SummaryStreamName, summary)) {
            error = L"'" + input + L"' has no summary information";
            return false;
        }
        Revisions revisions;
        std::wstring revisionsError;
        const bool revisionsRead = ReadTransformRevisions(root.get(), revisions, revisionsError);
        const bool compared = !keywords.empty() && !force;
        if ((newKeywords.empty() || compared) && !revisionsRead) {
            error = revisionsError + (compared ? ForceAdvice : L"");
            return false;
        }
        if (newKeywords.empty() && !DeriveKeywords(revisions, newKeywords, error))
            return false;
        // The build's check would refuse the copy otherwise.
        std::wstring revisionNumber;
        ReadSummaryText(summary, PropertyRevNumber, revisionNumber);
        error = kit::KeywordsProblem(newKeywords);
        if (error.empty())
            error = kit::PatchCodeProblem(newKeywords, revisionNumber);
        if (!error.empty())
            return false;
        if (compared && !KeywordsFitTransforms(newKeywords, revisions, error))
            return false;
        LeadingGuid(revisionNumber, patchCode);
        signature = HasStream(root.get(), SignatureStreamName);
    }
    if (!ReplaceSummaryText(summary, PropertyKeywords, newKeywords)) {
        error = L"the summary information of '" + input +
                L"' is not a property set whose keywords can be replaced";
        return false;
    }
    if (!CopyFileW(input.c_str(), output.c_str(), FALSE)) {
        error = L"cannot copy '" + input + L"' to '" + output + L"'";
        return false;
    }
    if (!RewriteSummary(output, summary)) {
        DeleteFileW(output.c_str());
        error = L"cannot write the summary information of '" + output + L"'";
        return false;
    }
    result.keywords = newKeywords;
    result.smallUpdate = kit::IsSmallUpdateKeywords(newKeywords);
    result.patchCode = patchCode;
    result.signatureInvalidated = signature;
    return true;
}

} // namespace kit
