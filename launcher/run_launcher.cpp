#include "launcher/launcher.h"
#include "patch/patch.h"
#include "products/products.h"

int RunLauncher() {
    ParseCommandLine();
    if (TheRunMode.installMode) {
        InstallServicePack();
    } else {
        if (TheRunMode.extractMode)
            ExtractPatchPayload(TheRunMode.extractPath);
        if (TheRunMode.infoMode)
            ShowPatchInfo();
    }
    ProductInventory.clear();
    return 0;
}
