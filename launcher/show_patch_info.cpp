#include "launcher/launcher.h"
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
    ExtractPatchPayload(patchFile);
    std::wstring products;
    ReadPatchProducts(patchFile, products);
    BreakProductLines(products);
    std::wstring upgradeVersion;
    std::wstring targetVersions;
    ReadPatchVersions(patchFile, upgradeVersion, targetVersions);

    const std::wstring text = L"Products:\n" + products + L"\nTarget:\n\t" + targetVersions +
                              L"\nUpgrade:\n\t" + upgradeVersion;
    MessageBoxW(nullptr, text.c_str(), L"Info", messages::StyleInfoBox);
}
