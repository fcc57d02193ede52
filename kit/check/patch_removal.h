// Whether the installer service may remove a patch again once it is applied,
// as the patch itself says: its MsiPatchMetadata table, read through the
// installer service. "patchkit check" and "inspect" say it; it never refuses
// a patch.
#pragma once

#include <string>

namespace kit {

// What the patch's MsiPatchMetadata says of its removal.
enum class Removal {
    Allowed,    // AllowRemoval 1: the service marks the applied patch removable
    NotAllowed, // no table, no AllowRemoval row, or a value other than 1
    Unreadable, // the service could not read the patch as a database
};

struct RemovalFacts {
    Removal removal = Removal::Unreadable;
    std::wstring reason; // what the table holds, or why it cannot be read: "its ..."
};

// Reads the standard AllowRemoval row (Company null) of the MsiPatchMetadata
// table in the root of the patch at `path`; the table in a transform of the
// patch does not count.
RemovalFacts ReadRemovalFacts(const std::wstring& path);

// The sentence the tools print: whether "/uninstall" can take the patch out
// again, and why.
std::wstring RemovalNote(const RemovalFacts& facts);

} // namespace kit
