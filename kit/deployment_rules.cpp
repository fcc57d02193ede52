#include "kit/deployment_rules.h"

#include "installer/installer.h"

#include <windows.h>

#include <cstddef>

namespace kit {

namespace {

// How the requirement's key is to be read, by the product package's platform:
// the installer keeps an x86 package's Uninstall key in the 32-bit view.
std::wstring RegistryView(const std::map<std::wstring, std::wstring>& platforms,
                          const std::wstring& product) {
    const auto found = platforms.find(product);
    const std::wstring platform = found == platforms.end() ? L"" : found->second;
    if (platform == L"Intel")
        return L"32-bit view, for the x86 package (Intune: \"Associated with a 32-bit app on "
               L"64-bit "
               L"clients\": Yes)";
    if (platform == L"x64" || platform == L"Intel64" || platform == L"Arm64")
        return L"64-bit view, for the " + platform +
               L" package (Intune: \"Associated with a 32-bit app on 64-bit clients\": No)";
    return L"64-bit view for an x64 package, 32-bit view for an x86 one (the patch does not say "
           L"which the product is)";
}

// What a management tool's uninstall meets on a patch that the installer
// will not remove; nothing for one that it may remove.
std::wstring UninstallNote(const kit::RemovalFacts& removal) {
    if (removal.removal == kit::Removal::Allowed)
        return std::wstring();
    return std::wstring(L"    This patch ") +
           (removal.removal == kit::Removal::NotAllowed
                ? L"is not removable (" + removal.reason +
                      L"): on a machine that has it the uninstall exits " +
                      std::to_wstring(ERROR_PATCH_REMOVAL_UNSUPPORTED) +
                      L", and the tool reports the uninstall as failed\n"
                : L"may not be removable (" + removal.reason +
                      L"): the installer service decides; where it refuses, the uninstall exits " +
                      std::to_wstring(ERROR_PATCH_REMOVAL_UNSUPPORTED) +
                      L" and the tool reports the uninstall as failed\n");
}

} // namespace

std::wstring PackedGuid(const std::wstring& guid) {
    // The digits of each group in the order the key names them.
    static const std::size_t order[] = {8,  7,  6,  5,  4,  3,  2,  1,  13, 12, 11,
                                        10, 18, 17, 16, 15, 21, 20, 23, 22, 26, 25,
                                        28, 27, 30, 29, 32, 31, 34, 33, 36, 35};
    std::wstring packed;
    for (std::size_t at : order)
        packed += at < guid.size() ? guid[at] : L'?';
    return packed;
}

std::wstring MachinePatchKey(const std::wstring& productCode, const std::wstring& patchCode) {
    return MachineProductsKey + PackedGuid(productCode) + L"\\Patches\\" + PackedGuid(patchCode);
}

std::wstring DeploymentRules(const std::wstring& launcherName, const kit::PatchFacts& patch,
                             const std::map<std::wstring, std::wstring>& platforms) {
    const std::wstring base = launcherName.substr(0, launcherName.rfind(L'.'));
    std::wstring text =
        L"Deployment (an Intune Win32 app or a Configuration Manager deployment type, run as "
        L"SYSTEM):\n"
        L"  Install command: " +
        launcherName + L" /qn /norestart /exitcode /log \"%WINDIR%\\Temp\\" + base + L".log\"\n" +
        L"  Uninstall command: " + launcherName +
        L" /uninstall /qn /norestart /exitcode /log \"%WINDIR%\\Temp\\" + base +
        L"-uninstall.log\" (takes the patch out of every product that has it; exits 0 when none "
        L"has it any more)\n" +
        UninstallNote(patch.removal) + L"  Return codes: 0 success; " +
        std::to_wstring(ERROR_SUCCESS_REBOOT_INITIATED) + L" hard reboot; " +
        std::to_wstring(ERROR_SUCCESS_REBOOT_REQUIRED) + L" soft reboot; " +
        std::to_wstring(ERROR_INSTALL_ALREADY_RUNNING) + L" retry; " +
        std::to_wstring(ERROR_PATCH_TARGET_NOT_FOUND) +
        L" not applicable (no product here takes the patch): add it to the return codes, as "
        L"success or failure as suits you; any other code: failed (the log says why)\n"
        L"  One app or deployment type per product below, each with its requirement and "
        L"detection:\n";
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = patch.products.find(L';', start);
        const std::wstring product = patch.products.substr(start, end - start);
        text += L"  " + product + L":\n    Requirement: registry key HKLM\\" + UninstallKey +
                product + L" exists, " + RegistryView(platforms, product) + L"\n    Detection: ";
        if (patch.smallUpdate)
            text += L"registry key HKLM\\" + MachinePatchKey(product, patch.patchCode) +
                    L" exists, 64-bit view (the installer writes it when it applies the patch "
                    L"to a per-machine product)\n";
        else
            text += L"MSI product code " + product +
                    L", product version greater than or equal to " + patch.upgradeVersion + L"\n";
        if (end == std::wstring::npos)
            break;
        start = end + 1;
    }
    text.pop_back(); // the last line end: the caller ends the text
    return text;
}

} // namespace kit
