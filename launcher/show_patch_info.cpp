#include "launcher/launcher.h"
#include "launcher/run_log.h"
#include "launcher/temporary_patch.h"
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
    // The copy is only read here: it goes when the box has been closed.
    TemporaryPatchFile patch;
    if (ExtractPatchPayload(patch.path))
        LogLine(L"info: patch extracted to ", patch.path);
    else
        LogLine(L"info: patch extraction to \"", patch.path, L"\" failed, error ", GetLastError());
    std::wstring products;
    if (!ReadPatchProducts(patch.path, products))
        LogLine(L"info: patch products (PID_TEMPLATE) could not be read, error ", GetLastError());
    BreakProductLines(products);
    std::wstring upgradeVersion;
    std::wstring targetVersions;
    if (!ReadPatchVersions(patch.path, upgradeVersion, targetVersions))
        LogLine(L"info: patch versions (PID_KEYWORDS) could not be read, error ", GetLastError());

    const std::wstring text = L"Products:\n" + products + L"\nTarget:\n\t" + targetVersions +
                              L"\nUpgrade:\n\t" + upgradeVersion;
    LogLine(L"info: products ", products, L", target versions ", targetVersions,
            L", upgrade version ", upgradeVersion);
    if (!TheRunSettings.infoBoxes) {
        LogLine(L"info: box not shown: ", WhyBoxesAreOff());
        return;
    }
    LogLine(L"info: box shown");
    MessageBoxW(nullptr, text.c_str(), L"Info", messages::StyleInfoBox);
}
