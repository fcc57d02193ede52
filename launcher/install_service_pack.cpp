#include "common/growing_text.h"
#include "common/holder.h"
#include "common/program_state.h"
#include "deployment/exit_code.h"
#include "deployment/installer_wait.h"
#include "deployment/run_log.h"
#include "deployment/temporary_patch.h"
#include "installer/installer.h"
#include "launcher/launcher.h"
#include "launcher/pass_steps.h"
#include "messages/messages.h"
#include "patch/patch.h"
#include "products/products.h"

#include <vector>

namespace {

enum class Outcome { NextProduct, EndPass };

// "PATCH=\"<path>\" REBOOTPROMPT=S REBOOT=ReallySuppress", sized to fit whatever
// the path's length. The service never restarts the computer in the middle of
// the pass: it answers 3010 instead, and the run restarts at its end.
std::wstring FormatPatchCommandLine(const std::wstring& patchFile) {
    return L"PATCH=\"" + patchFile + L"\" REBOOTPROMPT=S REBOOT=ReallySuppress";
}

// What the pass carries from one product to the next.
class Pass {
  public:
    explicit Pass(std::wstring patchFile)
        : patchFile(std::move(patchFile)), waits(TheRunSettings.installerWaitBudgetMs) {}

    // The patch code (the start of PID_REVNUMBER), read when first asked for;
    // nullptr when the patch has none that can be read.
    const std::wstring* PatchCode() {
        if (!patchCodeRead_) {
            patchCodeRead_ = true;
            hasPatchCode_ = ReadPatchCode(patchFile, patchCode_);
            if (!hasPatchCode_)
                LogLine(L"patch code (PID_REVNUMBER) could not be read, error ", GetLastError());
        }
        return hasPatchCode_ ? &patchCode_ : nullptr;
    }

    const std::wstring patchFile;
    InstallerWaits waits;
    std::size_t upToDateCount = 0;

  private:
    bool patchCodeRead_ = false;
    bool hasPatchCode_ = false;
    std::wstring patchCode_;
};

// One configure call under the run's interface level.
UINT Configure(const ProductRecord& record) {
    const UINT result = UnderRunInterfaceLevel([&record] {
        return installer::MsiConfigureProductExW(record.productCode.c_str(),
                                                 installer::LevelDefault, installer::StateDefault,
                                                 record.commandLine.c_str());
    });
    LogLine(L"installer: MsiConfigureProductExW(", record.productCode, L", ",
            installer::LevelDefault, L", ", int(installer::StateDefault), L", ", record.commandLine,
            L") returned ", result);
    return result;
}

// After the service answered success: false when it says the patch is not
// applied to the product after all (Wine's service answers 0 for a patch it
// passed over). A patch without a code is taken at the service's word.
bool PatchIsApplied(const ProductRecord& record, Pass& pass, UINT result) {
    const std::wstring* patchCode = pass.PatchCode();
    if (patchCode == nullptr || AskPatchState(record, *patchCode) != PatchState::NotApplied)
        return true;
    LogLine(L"the installer answered ", result, L" but the patch is not applied");
    return false;
}

// Applies the patch to the product, waiting for other installations where
// no one is watching, and reports the outcome.
Outcome ApplyPatch(ProductRecord& record, Pass& pass) {
    record.commandLine = FormatPatchCommandLine(pass.patchFile);
    UINT result = ERROR_SUCCESS;
    do {
        pass.waits.WaitWhileBusy();
        result = Configure(record);
    } while (result == ERROR_INSTALL_ALREADY_RUNNING && pass.waits.WaitBeforeRetry());

    switch (ClassifyResult(result)) {
    case ApplyResult::Failed:
        SetLastError(result);
        Report(messages::InstallFailed);
        return Outcome::NextProduct;
    case ApplyResult::Suspended:
        // The installation completes when the installer resumes it after the
        // restart; until then the installer must not start another one.
        LogLine(L"the installation is suspended until the restart, when the installer resumes "
                L"it; no other product is patched before: the pass ends");
        TheInstallOutcome.PatchApplied(result);
        Report(messages::PatchApplied);
        return Outcome::EndPass;
    case ApplyResult::Applied:
        break;
    }
    if (!PatchIsApplied(record, pass, result)) {
        SetLastError(ERROR_PATCH_TARGET_NOT_FOUND); // 1642
        Report(messages::InstallFailed);
        return Outcome::NextProduct;
    }
    TheInstallOutcome.PatchApplied(result);
    Report(messages::PatchApplied);
    return Outcome::NextProduct;
}

// For a product at the version of a small update: true unless the installer
// service says the patch is applied to it. A state that cannot be had is no
// reason to skip the patch: applied, the service answers at once for a patch
// it has. Without a readable patch code, the version decides.
bool SmallUpdateIsMissing(const ProductRecord& record, Pass& pass) {
    const std::wstring* patchCode = pass.PatchCode();
    if (patchCode == nullptr) {
        LogLine(L"the small update has no patch code: the version decides");
        return false;
    }
    return AskPatchState(record, *patchCode) != PatchState::Applied;
}

// Decides for one product and acts; counts it when already up to date.
Outcome ProcessProduct(ProductRecord& record, Pass& pass) {
    CurrentProductName = record.productName;
    SetMessageLocale(static_cast<LCID>(ReadLeadingInteger(record.language)));

    std::wstring remaining = record.targetVersions;
    const VersionNumber installed = ParseVersion(record.installedVersion);
    const VersionNumber upgrade = ParseVersion(record.upgradeVersion);
    // A small update serves only its own version, where the patch's state
    // decides; other versions get 308, not the early 306.
    const bool smallUpdate = IsSmallUpdate(record.upgradeVersion, record.targetVersions);
    if (VersionsEqual(installed, upgrade)) {
        if (smallUpdate && SmallUpdateIsMissing(record, pass)) {
            LogProduct(record, L"the small update is not known to be applied: applying the patch");
            return ApplyPatch(record, pass);
        }
        LogProduct(record, L"up to date");
        TheInstallOutcome.ProductUpToDate();
        ++pass.upToDateCount;
        return Outcome::NextProduct;
    }
    for (std::wstring::size_type comma = remaining.find(L','); comma != std::wstring::npos;
         comma = remaining.find(L',')) {
        const VersionNumber entry = ParseVersion(remaining.substr(0, comma));
        if (VersionsEqual(installed, entry)) {
            LogProduct(record, L"applying the patch");
            return ApplyPatch(record, pass);
        }
        if (VersionsEqual(entry, upgrade) && !smallUpdate) {
            LogProduct(record, L"an entry equal to the upgrade version comes first; the pass ends");
            TheInstallOutcome.ProductUpToDate();
            Report(messages::AlreadyUpToDate);
            return Outcome::EndPass;
        }
        remaining.erase(0, comma + 1);
    }
    LogProduct(record, L"not a target version");
    Report(messages::VersionNotTargeted);
    return Outcome::NextProduct;
}

// The service runs elsewhere with another current directory: it gets the
// file's full path. It reads PATCH as a ";"-separated list, and the quotes do
// not protect a ";" inside the path: such a path is handed over in its short
// form when the platform gives one without ";"; otherwise the run fails with
// ERROR_INVALID_NAME.
bool PathTheServiceCanTake(const std::wstring& extracted, std::wstring& usable) {
    std::wstring path;
    if (!ReadFullPath(extracted, path))
        return false;
    if (path.find(L';') == std::wstring::npos) {
        usable = path;
        return true;
    }
    std::wstring shortPath;
    const bool hasShortPath = ReadGrowingText(
        [&path](wchar_t* buffer, DWORD capacity) {
            return GetShortPathNameW(path.c_str(), buffer, capacity);
        },
        shortPath);
    if (hasShortPath && shortPath.find(L';') == std::wstring::npos) {
        usable = shortPath;
        return true;
    }
    SetLastError(ERROR_INVALID_NAME); // 123
    return false;
}

} // namespace

void InstallServicePack() {
    // Boxes before any product is looked at are in the user's language.
    SetMessageLocale(UserDisplayLocale());
    // Deleted at every end of the run. Its lock is held from the extraction to
    // just before the delete: while it is held, no one can change, replace or
    // delete the patch that the service applies with full rights.
    TemporaryPatchFile patch;
    if (!ExtractPatchPayload(patch.path, patch.lock)) {
        LogLine(L"patch extraction to \"", patch.path, L"\" failed, error ", GetLastError());
        Report(messages::InstallFailed);
        return;
    }
    LogLine(L"patch extracted to ", patch.path);
    std::wstring patchFile;
    if (!PathTheServiceCanTake(patch.path, patchFile)) {
        LogLine(L"the patch file's path has a \";\" and no short form without one, error ",
                GetLastError());
        Report(messages::InstallFailed);
        return;
    }
    if (patchFile != patch.path)
        LogLine(L"the installer gets the patch file's path as ", patchFile);
    ProductRecord templateRecord;
    if (!ReadPatchVersions(patchFile, templateRecord.upgradeVersion,
                           templateRecord.targetVersions)) {
        LogLine(L"patch versions (PID_KEYWORDS) could not be read, error ", GetLastError());
        Report(messages::InstallFailed);
        return;
    }
    LogLine(L"patch upgrade version ", templateRecord.upgradeVersion, L", target versions ",
            templateRecord.targetVersions);
    std::wstring productList;
    if (!ReadPatchProducts(patchFile, productList)) {
        LogLine(L"patch products (PID_TEMPLATE) could not be read, error ", GetLastError());
        Report(messages::InstallFailed);
        return;
    }
    LogLine(L"patch products ", productList);
    for (const SkippedProduct& skipped : BuildInventory(templateRecord, productList))
        LogSkippedProduct(skipped, L"not patched",
                          L"a per-user installation is patched by deploying the launcher in that "
                          L"user's context");
    if (ProductInventory.empty()) {
        LogLine(L"no product of the patch is installed");
        Report(messages::NoProductFound);
        return;
    }
    EnableInstallerLog();

    // A product the list names twice is handled once: its later records get
    // no installer call and no message, and count as its first one did.
    Pass pass(patchFile);
    HandledProducts handled;
    for (ProductRecord& record : ProductInventory) {
        bool upToDate = false;
        if (handled.Find(record.productCode, upToDate)) {
            LogProduct(record, L"skipped as a repeat");
            if (upToDate)
                ++pass.upToDateCount;
            continue;
        }
        const std::size_t countBefore = pass.upToDateCount;
        if (ProcessProduct(record, pass) == Outcome::EndPass)
            return;
        handled.Add(record.productCode, pass.upToDateCount != countBefore);
    }
    if (pass.upToDateCount == ProductInventory.size()) {
        LogLine(L"every installed product is up to date");
        SetMessageLocale(UserDisplayLocale());
        Report(messages::AlreadyUpToDate);
    }
}
