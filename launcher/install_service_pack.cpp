#include "common/growing_text.h"
#include "common/holder.h"
#include "common/program_state.h"
#include "deployment/exit_code.h"
#include "deployment/run_log.h"
#include "deployment/temporary_patch.h"
#include "installer/installer.h"
#include "launcher/launcher.h"
#include "messages/messages.h"
#include "patch/patch.h"
#include "products/products.h"

#include <vector>

namespace {

enum class Outcome { NextProduct, EndPass };

// Makes `locale` the thread's locale, which chooses the language of the result
// messages, unless Windows would refuse it (0, or a locale it does not have):
// then the previous locale stays in force, on every platform alike. The
// thread's UI language follows, for the parts of a box that the system draws.
void SetMessageLocale(LCID locale) {
    if (locale == LOCALE_USER_DEFAULT || locale == LOCALE_SYSTEM_DEFAULT)
        locale = ConvertDefaultLocale(locale);
    if (!IsValidLocale(locale, LCID_INSTALLED) || !SetThreadLocale(locale))
        return;
    // Where the system lacks that UI language it keeps its own; the messages
    // themselves do not depend on it.
    SetThreadUILanguage(LANGIDFROMLCID(locale));
}

// The locale of the language the user reads Windows in, for the boxes that
// belong to no product. The user's regional formats (LOCALE_USER_DEFAULT) may
// well be in another language.
LCID UserDisplayLocale() {
    return MAKELCID(GetUserDefaultUILanguage(), SORT_DEFAULT);
}

// "PATCH=\"<path>\" REBOOTPROMPT=S REBOOT=ReallySuppress", sized to fit whatever
// the path's length. The service never restarts the computer in the middle of
// the pass: it answers 3010 instead, and the run restarts at its end.
std::wstring FormatPatchCommandLine(const std::wstring& patchFile) {
    return L"PATCH=\"" + patchFile + L"\" REBOOTPROMPT=S REBOOT=ReallySuppress";
}

// Shows message `id` (unless quiet) and logs it; the first message 300 of the
// run gives the exit code its value.
void Report(UINT id) {
    if (id == messages::InstallFailed)
        TheInstallOutcome.FailureReported(GetLastError());
    LogMessageBox(id);
    ReportMessage(id);
}

void LogProduct(const ProductRecord& record, const wchar_t* decision) {
    LogLine(L"product ", record.productCode, L" \"", record.productName, L"\", language ",
            record.language, L", installed version ", record.installedVersion, L": ", decision);
}

bool IsSuccessfulResult(UINT result) {
    return result == ERROR_SUCCESS || result == ERROR_SUCCESS_REBOOT_INITIATED ||
           result == ERROR_SUCCESS_REBOOT_REQUIRED;
}

void ApplyPatch(ProductRecord& record, const std::wstring& patchFile) {
    record.commandLine = FormatPatchCommandLine(patchFile);
    const INSTALLUILEVEL previousLevel =
        installer::MsiSetInternalUI(TheRunSettings.installerUiLevel, nullptr);
    const UINT result =
        installer::MsiConfigureProductExW(record.productCode.c_str(), installer::LevelDefault,
                                          installer::StateDefault, record.commandLine.c_str());
    installer::MsiSetInternalUI(previousLevel, nullptr);
    LogLine(L"installer: MsiConfigureProductExW(", record.productCode, L", ",
            installer::LevelDefault, L", ", int(installer::StateDefault), L", ", record.commandLine,
            L") returned ", result);
    if (IsSuccessfulResult(result)) {
        TheInstallOutcome.PatchApplied(result);
        Report(messages::PatchApplied);
    } else {
        SetLastError(result);
        Report(messages::InstallFailed);
    }
}

// For a product at the version of a small update: true when the installer
// service says the patch is not applied to it. A patch code that cannot be
// read, or a state the service cannot give, leaves the version to decide.
bool SmallUpdateIsMissing(const ProductRecord& record, const std::wstring& patchFile) {
    std::wstring patchCode;
    if (!ReadPatchCode(patchFile, patchCode)) {
        LogLine(L"patch code (PID_REVNUMBER) could not be read, error ", GetLastError(),
                L": the version decides");
        return false;
    }
    const PatchState state = ReadPatchState(record.productCode, patchCode);
    LogLine(L"installer: patch ", patchCode, L" on ", record.productCode, L": ",
            state == PatchState::Applied      ? L"applied"
            : state == PatchState::NotApplied ? L"not applied"
                                              : L"state unknown, the version decides");
    return state == PatchState::NotApplied;
}

// Decides for one product and acts; counts it when already up to date.
Outcome ProcessProduct(ProductRecord& record, const std::wstring& patchFile,
                       std::size_t& upToDateCount) {
    CurrentProductName = record.productName;
    SetMessageLocale(static_cast<LCID>(ReadLeadingInteger(record.language)));

    std::wstring remaining = record.targetVersions;
    const VersionNumber installed = ParseVersion(record.installedVersion);
    const VersionNumber upgrade = ParseVersion(record.upgradeVersion);
    // A small update serves only its own version, where the patch's state
    // decides; other versions get 308, not the early 306.
    const bool smallUpdate = IsSmallUpdate(record.upgradeVersion, record.targetVersions);
    if (VersionsEqual(installed, upgrade)) {
        if (smallUpdate && SmallUpdateIsMissing(record, patchFile)) {
            LogProduct(record, L"the small update is not applied: applying the patch");
            ApplyPatch(record, patchFile);
            return Outcome::NextProduct;
        }
        LogProduct(record, L"up to date");
        TheInstallOutcome.ProductUpToDate();
        ++upToDateCount;
        return Outcome::NextProduct;
    }
    for (std::wstring::size_type comma = remaining.find(L','); comma != std::wstring::npos;
         comma = remaining.find(L',')) {
        const VersionNumber entry = ParseVersion(remaining.substr(0, comma));
        if (VersionsEqual(installed, entry)) {
            LogProduct(record, L"applying the patch");
            ApplyPatch(record, patchFile);
            return Outcome::NextProduct;
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

// A product the pass has already handled, and whether it was up to date.
struct HandledProduct {
    std::wstring productCode;
    bool upToDate;
};

// The earlier entry for `productCode`, compared without regard to case, or
// nullptr when the pass has not met the product yet.
const HandledProduct* FindHandled(const std::vector<HandledProduct>& handled,
                                  const std::wstring& productCode) {
    for (const HandledProduct& product : handled) {
        if (CompareStringOrdinal(product.productCode.c_str(), -1, productCode.c_str(), -1, TRUE) ==
            CSTR_EQUAL)
            return &product;
    }
    return nullptr;
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
    BuildInventory(templateRecord, productList);
    if (ProductInventory.empty()) {
        LogLine(L"no product of the patch is installed");
        Report(messages::NoProductFound);
        return;
    }
    EnableInstallerLog();

    // A product the list names twice is handled once: its later records get
    // no installer call and no message, and count as its first one did.
    std::size_t upToDateCount = 0;
    std::vector<HandledProduct> handled;
    for (ProductRecord& record : ProductInventory) {
        if (const HandledProduct* earlier = FindHandled(handled, record.productCode)) {
            LogProduct(record, L"skipped as a repeat");
            if (earlier->upToDate)
                ++upToDateCount;
            continue;
        }
        const std::size_t countBefore = upToDateCount;
        if (ProcessProduct(record, patchFile, upToDateCount) == Outcome::EndPass)
            return;
        handled.push_back({record.productCode, upToDateCount != countBefore});
    }
    if (upToDateCount == ProductInventory.size()) {
        LogLine(L"every installed product is up to date");
        SetMessageLocale(UserDisplayLocale());
        Report(messages::AlreadyUpToDate);
    }
}
