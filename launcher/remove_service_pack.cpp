// "/uninstall": the patch taken back out of every product that has it, each
// removal verified with the installer service.
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

namespace {

enum class Outcome { NextProduct, EndPass };

// As for an apply, the service never restarts the computer in the middle of
// the pass: it answers 3010 instead, and the run restarts at its end.
constexpr wchar_t RemovalProperties[] = L"REBOOTPROMPT=S REBOOT=ReallySuppress";

// A removal the service answered as done while the patch is still applied to
// the product: the removal's installation did not happen, which the service
// itself reports as a failed installation transaction, ERROR_INSTALL_FAILURE.
constexpr DWORD RemovalNotDone = ERROR_INSTALL_FAILURE; // 1603

// What the pass carries from one product to the next.
struct RemovalPass {
    explicit RemovalPass(std::wstring code)
        : patchCode(std::move(code)), waits(TheRunSettings.installerWaitBudgetMs) {}

    const std::wstring patchCode;
    InstallerWaits waits;
    // The products the patch was applied to (or may have been): those that
    // got a removal, or the reason why they could not.
    std::size_t productsWithPatch = 0;
};

// Asks the service whether it marked the applied patch removable
// ("Uninstallable") and logs what it heard.
Removability AskRemovability(const ProductRecord& record, const std::wstring& patchCode) {
    const RemovabilityReading reading = ReadPatchRemovability(record.productCode, patchCode);
    LogLine(L"installer: patch ", patchCode, L" on ", record.productCode, L": Uninstallable ",
            reading.result == ERROR_SUCCESS ? L"'" + reading.value + L"'"
                                            : std::wstring(L"cannot be read"),
            L" (MsiGetPatchInfoExW returned ", reading.result, L")");
    return reading.removability;
}

// One removal under the run's interface level. The service removes the patch
// from the installation of the product it takes for this account, the one
// whose state was asked: per-user managed, per-user unmanaged, per-machine.
UINT RemovePatch(ProductRecord& record, const std::wstring& patchCode) {
    record.commandLine = RemovalProperties;
    const UINT result = UnderRunInterfaceLevel([&record, &patchCode] {
        return installer::MsiRemovePatchesW(patchCode.c_str(), record.productCode.c_str(),
                                            installer::RemoveFromOneProduct,
                                            record.commandLine.c_str());
    });
    LogLine(L"installer: MsiRemovePatchesW(", patchCode, L", ", record.productCode,
            L", INSTALLTYPE_SINGLE_INSTANCE, ", record.commandLine, L") returned ", result);
    return result;
}

// After the service answered success: true unless it still lists the patch
// as applied to the product (Wine's service answers 0 and removes nothing).
// A state that cannot be had leaves the service's answer to decide.
bool PatchIsGone(const ProductRecord& record, const std::wstring& patchCode, UINT result) {
    const PatchState state = AskPatchState(record, patchCode);
    if (state == PatchState::Applied) {
        LogLine(L"the installer answered ", result, L" but the patch is still applied");
        return false;
    }
    if (state == PatchState::Unknown)
        LogLine(L"the patch's state after the removal is not known: the installer's answer ",
                result, L" decides");
    return true;
}

Outcome ProcessProduct(ProductRecord& record, RemovalPass& pass) {
    CurrentProductName = record.productName;
    SetMessageLocale(static_cast<LCID>(ReadLeadingInteger(record.language)));
    const PatchState state = AskPatchState(record, pass.patchCode);
    if (state == PatchState::NotApplied) {
        LogProduct(record, L"the patch is not applied: nothing to remove");
        return Outcome::NextProduct;
    }
    // The service would refuse only after it started a repair of the product.
    if (AskRemovability(record, pass.patchCode) == Removability::NotRemovable) {
        ++pass.productsWithPatch;
        LogProduct(record, L"the patch is not marked removable (MsiPatchMetadata AllowRemoval): "
                           L"the installer is not asked to remove it");
        SetLastError(ERROR_PATCH_REMOVAL_UNSUPPORTED); // 1646
        Report(messages::InstallFailed);
        return Outcome::NextProduct;
    }
    LogProduct(record, state == PatchState::Applied
                           ? L"removing the patch"
                           : L"the patch's state is not known: asking the installer to remove it");
    UINT result = ERROR_SUCCESS;
    do {
        pass.waits.WaitWhileBusy();
        result = RemovePatch(record, pass.patchCode);
    } while (result == ERROR_INSTALL_ALREADY_RUNNING && pass.waits.WaitBeforeRetry());

    switch (ClassifyResult(result)) {
    case ApplyResult::Failed:
        if (result == ERROR_UNKNOWN_PATCH && state == PatchState::Unknown) {
            LogProduct(record, L"the installer does not know the patch on it: nothing to remove");
            return Outcome::NextProduct;
        }
        ++pass.productsWithPatch;
        SetLastError(result);
        Report(messages::InstallFailed);
        return Outcome::NextProduct;
    case ApplyResult::Suspended:
        // As for an apply: the installer completes it after the restart and
        // takes no other installation before.
        ++pass.productsWithPatch;
        LogLine(L"the removal is suspended until the restart, when the installer resumes it; no "
                L"other product is changed before: the pass ends");
        TheInstallOutcome.PatchRemoved(result);
        Report(messages::PatchRemoved);
        return Outcome::EndPass;
    case ApplyResult::Applied:
        break;
    }
    ++pass.productsWithPatch;
    if (!PatchIsGone(record, pass.patchCode, result)) {
        SetLastError(RemovalNotDone);
        Report(messages::InstallFailed);
        return Outcome::NextProduct;
    }
    TheInstallOutcome.PatchRemoved(result);
    Report(messages::PatchRemoved);
    return Outcome::NextProduct;
}

} // namespace

void RemoveServicePack() {
    TheInstallOutcome.RemovalPass();
    // Boxes before any product is looked at are in the user's language.
    SetMessageLocale(UserDisplayLocale());
    // Deleted at every end of the run; locked while it is read, so that the
    // patch code read is the embedded patch's.
    TemporaryPatchFile patch;
    if (!ExtractPatchPayload(patch.path, patch.lock)) {
        LogLine(L"patch extraction to \"", patch.path, L"\" failed, error ", GetLastError());
        Report(messages::InstallFailed);
        return;
    }
    LogLine(L"patch extracted to ", patch.path);
    std::wstring patchCode;
    if (!ReadPatchCode(patch.path, patchCode)) {
        LogLine(L"patch code (PID_REVNUMBER) could not be read, error ", GetLastError(),
                L": without it the installer cannot be told which patch to remove");
        SetLastError(ERROR_UNKNOWN_PATCH); // 1647
        Report(messages::InstallFailed);
        return;
    }
    std::wstring productList;
    if (!ReadPatchProducts(patch.path, productList)) {
        LogLine(L"patch products (PID_TEMPLATE) could not be read, error ", GetLastError());
        Report(messages::InstallFailed);
        return;
    }
    LogLine(L"removing patch ", patchCode, L" from the products ", productList);
    for (const SkippedProduct& skipped : BuildInventory(ProductRecord(), productList))
        LogSkippedProduct(skipped, L"nothing removed",
                          L"the patch is removed from a per-user installation by deploying the "
                          L"launcher with /uninstall in that user's context");
    if (ProductInventory.empty()) {
        LogLine(L"no product of the patch is installed: nothing to remove");
        Report(messages::NothingToRemove);
        return;
    }
    EnableInstallerLog();

    RemovalPass pass(patchCode);
    HandledProducts handled;
    for (ProductRecord& record : ProductInventory) {
        bool marked = false;
        if (handled.Find(record.productCode, marked)) {
            LogProduct(record, L"skipped as a repeat");
            continue;
        }
        handled.Add(record.productCode, false);
        if (ProcessProduct(record, pass) == Outcome::EndPass)
            return;
    }
    if (pass.productsWithPatch == 0) {
        LogLine(L"no installed product has the patch: nothing to remove");
        SetMessageLocale(UserDisplayLocale());
        Report(messages::NotInstalledOn);
    }
}
