#include "deployment/run_log.h"
#include "deployment/temporary_patch.h"
#include "launcher/launcher.h"
#include "messages/messages.h"
#include "patch/patch.h"

#include <windows.h>

std::wstring ProductLines(std::wstring products) {
    for (std::wstring::size_type last = products.rfind(L';');
         last != std::wstring::npos && last > 0; last = products.rfind(L';'))
        products[products.find(L';')] = L'\n';
    return products;
}

std::wstring PatchInfoText(const std::wstring& productLines, const std::wstring& targetVersions,
                           const std::wstring& upgradeVersion) {
    return L"Products:\n" + productLines + L"\nTarget:\n\t" + targetVersions + L"\nUpgrade:\n\t" +
           upgradeVersion;
}

void ShowPatchInfo() {
    // The copy is only read here: it goes when the box has been closed.
    TemporaryPatchFile patch;
    if (ExtractPatchPayload(patch.path))
        LogLine(L"info: patch extracted to ", patch.path);
    else
        LogLine(L"info: patch extraction to \"", patch.path, L"\" failed, error ", GetLastError());
    std::wstring products;
    if (!ReadPatchProducts(patch.path, products))
        LogLine(L"info: patch products (PID_TEMPLATE) could not be read, error ", GetLastError());
    products = ProductLines(products);
    std::wstring upgradeVersion;
    std::wstring targetVersions;
    if (!ReadPatchVersions(patch.path, upgradeVersion, targetVersions))
        LogLine(L"info: patch versions (PID_KEYWORDS) could not be read, error ", GetLastError());

    LogLine(L"info: products ", products, L", target versions ", targetVersions,
            L", upgrade version ", upgradeVersion);
    ShowOwnBox(L"info", PatchInfoText(products, targetVersions, upgradeVersion), L"Info",
               messages::StyleInfoBox);
}
