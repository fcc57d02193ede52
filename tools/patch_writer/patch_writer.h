// Writes installer packages of the patch kind: OLE compound files with the
// patch class, their summary information, string pools and transforms.
// Used by the build (the sample patch) and by tests (fixtures written at test
// time).
#pragma once

#include "kit/package/patch_package.h"

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace patchwriter {

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
    // The value of the root's MsiPatchMetadata row AllowRemoval: "1" a patch
    // the installer service may remove, "0" one it may not; empty: no
    // MsiPatchMetadata table, as the writer's older patches (the installer
    // cannot remove those either).
    std::wstring allowRemoval;
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

} // namespace patchwriter
