// Checks, before a launcher is built around it, that a patch package carries
// the summary properties in the forms the launcher reads: the same reads as
// the launcher's own (through the installer service), then the rules of
// patch_rules.h. Also inspects a built launcher without running it.
#pragma once

#include "kit/check/patch_removal.h"
#include "kit/check/patch_rules.h"

#include <cstdint>
#include <map>
#include <string>

namespace kit {

// What the launcher reads from a patch, as far as the check got.
struct PatchFacts {
    std::wstring products;       // PID_TEMPLATE
    std::wstring upgradeVersion; // PID_KEYWORDS before its first ";"
    std::wstring targetVersions; // PID_KEYWORDS after it
    std::wstring patchCode;      // from PID_REVNUMBER; empty when it names none
    bool smallUpdate = false;    // the applied state decides for products at the version
    RemovalFacts removal;        // whether "/uninstall" can take the patch out again
};

// Empty when the launcher can use the patch at `path`; otherwise one message
// that names the property, its value (shortened when long) and the form it
// must take, or says that the file is not a patch package (or lacks the
// streams the installer service needs before it can read one).
std::wstring CheckPatchPackage(const std::wstring& path);
std::wstring CheckPatchPackage(const std::wstring& path, PatchFacts& facts);

// What a built launcher carries.
struct LauncherFacts {
    std::uint64_t payloadSize = 0;
    std::wstring payloadSha256;  // 64 lower-case hexadecimal digits
    bool signatureFound = false; // an Authenticode signature in its certificate table
    PatchFacts patch;
    std::wstring patchProblem; // the check of the embedded patch; empty when it passes
    // The platform of each product's package as the patch's transforms name
    // it ("Intel", "x64"), by product code; products they name none for are
    // left out.
    std::map<std::wstring, std::wstring> platforms;
};

// The name prefix of the temporary copy that InspectLauncher checks.
constexpr wchar_t InspectedCopyPrefix[] = L"plc";

// Reads the patch embedded in the launcher at `path` (resource "MSP"/
// "IDR_MSP") without running the launcher, and checks it through a temporary
// copy that is removed again. False, with `error` saying why, when `path` is
// not a program that carries such a resource.
bool InspectLauncher(const std::wstring& path, LauncherFacts& facts, std::wstring& error);

} // namespace kit
