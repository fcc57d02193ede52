#include "launcher/pass_steps.h"

#include "common/program_state.h"
#include "deployment/exit_code.h"
#include "deployment/run_log.h"
#include "deployment/run_settings.h"
#include "installer/installer.h"
#include "messages/messages.h"

void SetMessageLocale(LCID locale) {
    if (locale == LOCALE_USER_DEFAULT || locale == LOCALE_SYSTEM_DEFAULT)
        locale = ConvertDefaultLocale(locale);
    if (!IsValidLocale(locale, LCID_INSTALLED) || !SetThreadLocale(locale))
        return;
    // Where the system lacks that UI language it keeps its own; the messages
    // themselves do not depend on it.
    SetThreadUILanguage(LANGIDFROMLCID(locale));
}

LCID UserDisplayLocale() {
    return MAKELCID(GetUserDefaultUILanguage(), SORT_DEFAULT);
}

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

PatchState AskPatchState(const ProductRecord& record, const std::wstring& patchCode) {
    const PatchStateReading reading = ReadPatchState(record.productCode, patchCode);
    const wchar_t* state = reading.state == PatchState::Applied      ? L"applied"
                           : reading.state == PatchState::NotApplied ? L"not applied"
                                                                     : L"state not known";
    if (reading.instance.context == MSIINSTALLCONTEXT_NONE)
        LogLine(L"installer: patch ", patchCode, L" on ", record.productCode,
                L": no installation of the product found for this account, error ", reading.result,
                L": ", state);
    else
        LogLine(L"installer: patch ", patchCode, L" on ", record.productCode, L", asked ",
                ContextName(reading.instance.context),
                reading.instance.userSid.empty() ? L"" : L" for ", reading.instance.userSid, L": ",
                state, L" (MsiGetPatchInfoExW returned ", reading.result, L")");
    return reading.state;
}

ApplyResult ClassifyResult(UINT result) {
    switch (result) {
    case ERROR_SUCCESS:
    case ERROR_SUCCESS_REBOOT_INITIATED: // 1641
    case ERROR_SUCCESS_REBOOT_REQUIRED:  // 3010
    case ERROR_SUCCESS_RESTART_REQUIRED: // 3011
        return ApplyResult::Applied;
    case ERROR_INSTALL_SUSPEND: // 1604: a ForceReboot suspended it
        return ApplyResult::Suspended;
    default:
        return ApplyResult::Failed;
    }
}

UINT UnderRunInterfaceLevel(const std::function<UINT()>& call) {
    const INSTALLUILEVEL wanted = TheRunSettings.installerUiLevel;
    INSTALLUILEVEL previous = installer::MsiSetInternalUI(wanted, nullptr);
    if (previous == INSTALLUILEVEL_NOCHANGE && wanted == installer::UiLevelNoneButElevation) {
        LogLine(L"installer: interface level ", int(wanted), L" refused; level ",
                int(installer::UiLevelNone), L", without the elevation prompt");
        previous = installer::MsiSetInternalUI(installer::UiLevelNone, nullptr);
    }
    const UINT result = call();
    installer::MsiSetInternalUI(previous, nullptr);
    return result;
}

void LogSkippedProduct(const SkippedProduct& product, const wchar_t* notDone,
                       const wchar_t* perUserHint) {
    if (product.state == installer::StateAdvertised) {
        LogLine(L"product ", product.productCode, L": advertised, not installed: ", notDone);
        return;
    }
    std::vector<ProductInstance> instances;
    if (!FindProductInstances(product.productCode, installer::EveryoneSid, instances)) {
        LogLine(L"product ", product.productCode, L": installed for other users only, ", notDone,
                L"; their accounts could not be listed, error ", GetLastError(), L"; ",
                perUserHint);
        return;
    }
    std::wstring name;
    std::wstring users;
    for (const ProductInstance& instance : instances) {
        if (name.empty())
            name = ReadInstanceProductName(product.productCode, instance);
        users += (users.empty() ? L"" : L", ") + instance.userSid + L" (" +
                 ContextName(instance.context) + L")";
    }
    LogLine(L"product ", product.productCode, L" \"", name, L"\": installed for other users only, ",
            notDone, L": ", users.empty() ? L"none listed" : users, L"; ", perUserHint);
}

bool HandledProducts::Find(const std::wstring& productCode, bool& marked) const {
    for (const Handled& product : handled_) {
        if (CompareStringOrdinal(product.productCode.c_str(), -1, productCode.c_str(), -1, TRUE) ==
            CSTR_EQUAL) {
            marked = product.marked;
            return true;
        }
    }
    return false;
}

void HandledProducts::Add(const std::wstring& productCode, bool marked) {
    handled_.push_back({productCode, marked});
}
