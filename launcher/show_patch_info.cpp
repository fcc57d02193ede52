#include "launcher/launcher.h"
#include "launcher/run_log.h"
#include "messages/messages.h"
#include "patch/patch.h"

#include <windows.h>

namespace {

// Every ";" becomes a line feed, except a lone ";" left at the very start.
void BreakProductLines(std::wstring& products) {
    for (std::wstring::size_type last = products.rfind(L';');
         last != std::wstring::npos && last > 0; last = products.rfind(L';'))
        products[products.find(L';')] = L'\n';
}

} // namespace

void ShowPatchInfo() {
    std::wstring patchFile;
    if (ExtractPatchPayload(patchFile))
        LogLine(L"info: patch extracted to ", patchFile, L" (left in place)");
    else
        LogLine(L"info: patch extraction to \"", patchFile, L"\" failed, error ", GetLastError());
    std::wstring products;
    if (!ReadPatchProducts(patchFile, products))
        LogLine(L"info: patch products (PID_TEMPLATE) could not be read, error ", GetLastError());
    BreakProductLines(products);
    std::wstring upgradeVersion;
    std::wstring targetVersions;
    if (!ReadPatchVersions(patchFile, upgradeVersion, targetVersions))
        LogLine(L"info: patch versions (PID_KEYWORDS) could not be read, error ", GetLastError());

    const std::wstring text = L"Products:\n" + products + L"\nTarget:\n\t" + targetVersions +
                              L"\nUpgrade:\n\t" + upgradeVersion;
    LogLine(L"info: box shown with products ", products, L", target versions ", targetVersions,
            L", upgrade version ", upgradeVersion);
    MessageBoxW(nullptr, text.c_str(), L"Info", messages::StyleInfoBox);
}
