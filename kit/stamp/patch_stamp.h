// Stamping: a copy of a vendor's patch with the launcher's keywords, and what
// the stamp and the inspection read of a patch's summary and transforms.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace kit {

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

} // namespace kit
