// Writes installer packages of the patch kind: OLE compound files with the
// patch class, their summary information, string pools and transforms.
// Used by the build (the sample patch) and by tests (fixtures written at test
// time).
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace patchwriter {

// Summary property identifiers.
constexpr UINT PropertyCodepage = 1;      // PID_CODEPAGE, VT_I2
constexpr UINT PropertyTitle = 2;         // PID_TITLE
constexpr UINT PropertySubject = 3;       // PID_SUBJECT
constexpr UINT PropertyAuthor = 4;        // PID_AUTHOR
constexpr UINT PropertyKeywords = 5;      // PID_KEYWORDS
constexpr UINT PropertyComments = 6;      // PID_COMMENTS
constexpr UINT PropertyTemplate = 7;      // PID_TEMPLATE
constexpr UINT PropertyLastAuthor = 8;    // PID_LASTAUTHOR
constexpr UINT PropertyRevNumber = 9;     // PID_REVNUMBER
constexpr UINT PropertyCreateTime = 12;   // PID_CREATE_DTM, VT_FILETIME
constexpr UINT PropertyLastSaveTime = 13; // PID_LASTSAVE_DTM, VT_FILETIME
constexpr UINT PropertyPageCount = 14;    // PID_PAGECOUNT, VT_I4
constexpr UINT PropertyWordCount = 15;    // PID_WORDCOUNT, VT_I4
constexpr UINT PropertyCharCount = 16;    // PID_CHARCOUNT, VT_I4
constexpr UINT PropertyAppName = 18;      // PID_APPNAME
constexpr UINT PropertySecurity = 19;     // PID_SECURITY, VT_I4

// {000C1086-0000-0000-C000-000000000046}
extern const CLSID PatchClass;
// {000C1082-0000-0000-C000-000000000046}
extern const CLSID TransformClass;

// The summary-information property set, serialised by hand: one section
// (FMTID_SummaryInformation), texts as VT_LPSTR in the set's code page.
class SummaryInformation {
  public:
    explicit SummaryInformation(std::int16_t codepage = 1252);

    void SetText(UINT property, const std::wstring& text);
    void SetInteger(UINT property, std::int32_t value);
    void SetFileTime(UINT property, FILETIME value);
    void Remove(UINT property);

    // The bytes of the "\005SummaryInformation" stream.
    std::vector<std::uint8_t> Serialize() const;

  private:
    struct Value {
        std::uint32_t type = 0;            // VT_LPSTR, VT_I2, VT_I4 or VT_FILETIME
        std::vector<std::uint8_t> payload; // the value bytes after the type
    };
    std::int16_t codepage_;
    std::map<UINT, Value> values_;
};

// The installer's stream-name compression: characters of [0-9A-Za-z._] go
// two to a character from U+3800, or one to a character from U+4800; a table
// name starts with U+4840.
std::wstring EncodeStreamName(const std::wstring& name, bool isTable);

// A string pool as the "_StringPool"/"_StringData" pair keeps it. Id 0 is the
// null string; ids are handed out in order of first use.
class StringPool {
  public:
    explicit StringPool(std::uint16_t codepage = 0) : codepage_(codepage) {}

    // The id of `text` (interned on first use); every call counts one reference.
    std::uint16_t Reference(const std::string& text);

    std::vector<std::uint8_t> PoolBytes() const;
    std::vector<std::uint8_t> DataBytes() const;

  private:
    std::uint16_t codepage_;
    std::vector<std::string> strings_; // strings_[i] has id i + 1
    std::vector<std::uint16_t> references_;
};

// Writes a compound file with the patch class, the string-pool streams (empty
// pool) and `summary`. `path` is replaced if it exists.
bool WriteSummaryPackage(const std::wstring& path, const SummaryInformation& summary);

// One product that a patch serves.
struct PatchTarget {
    std::wstring productCode;      // "{...}", registry form
    std::wstring upgradeCode;      // "{...}"; empty: the product is not checked by upgrade code
    std::wstring language;         // decimal language id of the product; may be empty
    std::wstring newPackageCode;   // PATCHNEWPACKAGECODE of the patched package; empty: none
    std::wstring fromVersion = {}; // empty: the definition's
    std::wstring toVersion = {};   // empty: the definition's
    // Adds the ScheduleReboot action to the product's InstallExecuteSequence,
    // so that applying the patch asks for a restart (3010).
    bool scheduleReboot = false;
    // The product package's platform that its transforms name ("Intel",
    // "x64"); empty: none, as the patch writer's own samples.
    std::wstring platform = {};
};

struct PatchDefinition {
    std::vector<PatchTarget> targets;
    std::wstring patchCode; // "{...}"
    std::vector<std::wstring> obsoletedPatchCodes;
    std::wstring fromVersion; // the version the patch applies to
    std::wstring toVersion;   // ProductVersion after the patch
    std::wstring keywords;    // empty: "TO;FROM,"
    std::wstring productList; // PID_TEMPLATE; empty: the targets' codes joined by ";"
    std::wstring title = L"Patch";
    std::wstring subject;
    std::wstring author;
    std::wstring comments;
    std::wstring newPackageCode; // PATCHNEWPACKAGECODE; empty: none set
    // Further streams of the root storage, by their stored names (a cabinet,
    // a "\005DigitalSignature").
    std::vector<std::pair<std::wstring, std::vector<std::uint8_t>>> streams;
};

// Checks the definition; on failure `error` says what is wrong.
bool ValidatePatchDefinition(const PatchDefinition& definition, std::wstring& error);

// The substorage name of the product transform of target `index` (from 0);
// its patch transform has the same name after a "#".
std::wstring TransformName(std::size_t index);

// Writes a patch package that sets ProductVersion to the to-version in each
// target: per target a product transform and a patch transform ("#" name).
bool WritePatchPackage(const std::wstring& path, const PatchDefinition& definition,
                       std::wstring& error);

// True for a GUID text in the 38-character registry form, upper-case digits.
bool IsRegistryGuid(const std::wstring& text);

// True for one to four parts of decimal digits joined by ".", each part at
// most 65535 (a version number keeps 16 bits per part).
bool IsDottedVersion(const std::wstring& text);

// The class ID of the root storage of the compound file at `path`; false when
// it is not a compound file that can be opened for reading.
bool ReadRootClass(const std::wstring& path, CLSID& rootClass);

// The stored names of the streams in the root storage of the compound file
// at `path`; false when it cannot be opened for reading.
bool ReadRootStreamNames(const std::wstring& path, std::vector<std::wstring>& names);

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper-case.
std::wstring GuidText(const GUID& guid);

// What a stamp did: the keywords written, whether they make a small update
// (and the patch code the launcher then asks about), and whether the input
// carried a digital signature, which the copy's changed summary no longer
// matches.
struct StampResult {
    std::wstring keywords;
    bool smallUpdate = false;
    std::wstring patchCode;
    bool signatureInvalidated = false;
};

// Writes a copy of the patch `input` to `output` in which PID_KEYWORDS is
// `keywords` and nothing else differs: every other stream, storage, class ID
// and summary property is copied as it is. Empty `keywords`: they are derived
// from the transforms' PID_REVNUMBER ("{PRODUCT}FROM;{PRODUCT}TO;{UPGRADE}"),
// as "TO;FROM,FROM2,..." with the distinct from-versions, or "V;V," when the
// transforms leave the version at V. Keywords are refused unless the build's
// check would accept them; given ones also unless they agree with the
// transforms (each from-version a target entry, the upgrade version their
// to-version), which `force` waives. On failure `error` says why and no
// output is left.
bool StampPatchPackage(const std::wstring& input, const std::wstring& output,
                       const std::wstring& keywords, bool force, StampResult& result,
                       std::wstring& error);

// The platform that the transforms of the patch at `path` name for their
// products (PID_TEMPLATE before its ";": "Intel", "x64", ...), by product
// code in registry form; a product whose transforms name none is left out.
// False when the patch cannot be read.
bool ReadTransformPlatforms(const std::wstring& path,
                            std::map<std::wstring, std::wstring>& platforms);

// A transform's PID_REVNUMBER, split; the upgrade code may be missing.
struct TransformRevision {
    std::wstring fromProduct, fromVersion, toProduct, toVersion, upgradeCode;
};
bool ParseTransformRevision(const std::wstring& text, TransformRevision& revision);

// The text of `property` in the property-set stream `stream` (VT_LPSTR, in
// the set's code page); false when it is absent or not text.
bool ReadSummaryText(const std::vector<std::uint8_t>& stream, UINT property, std::wstring& text);

// `stream` with the text of `property` set to `text` and every other
// property's bytes unchanged; false when the stream is not a property set.
bool ReplaceSummaryText(std::vector<std::uint8_t>& stream, UINT property, const std::wstring& text);

} // namespace patchwriter
