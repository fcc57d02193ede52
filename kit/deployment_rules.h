// What a management tool (an Intune Win32 app, a Configuration Manager
// deployment type) needs to deploy a launcher: for each product the patch
// serves, the requirement and the detection rule; the install and uninstall
// command lines; and the launcher's return codes as those tools read them.
#pragma once

#include "kit/check/patch_check.h"

#include <map>
#include <string>

namespace kit {

// The installer's registry keys under HKLM that the rules name: a product's
// Uninstall key, and where a per-machine product's patches are registered.
constexpr wchar_t UninstallKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
constexpr wchar_t MachineProductsKey[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Products\\";

// The key that the installer writes when it applies `patchCode` to the
// per-machine product `productCode` (both in registry form), under HKLM.
std::wstring MachinePatchKey(const std::wstring& productCode, const std::wstring& patchCode);

// A GUID in registry form as the installer's keys name it ("packed"): the
// first three groups reversed, every byte of the last two with its digits
// swapped, no braces or hyphens.
std::wstring PackedGuid(const std::wstring& guid);

// The rules, as lines of text, for the launcher file `launcherName` that
// carries `patch`; `platforms` are the products' package platforms.
std::wstring DeploymentRules(const std::wstring& launcherName, const kit::PatchFacts& patch,
                             const std::map<std::wstring, std::wstring>& platforms);

} // namespace kit
