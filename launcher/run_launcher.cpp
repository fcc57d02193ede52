#include "common/growing_text.h"
#include "common/program_state.h"
#include "launcher/exit_code.h"
#include "launcher/launcher.h"
#include "launcher/run_log.h"
#include "patch/patch.h"
#include "products/products.h"

#include <windows.h>

#include <vector>

namespace {

// The path of the program's own module; empty when it cannot be had.
std::wstring ModulePath() {
    std::vector<wchar_t> buffer(MaximumGrowingTextCapacity, L'\0'); // terminator included
    const DWORD length =
        GetModuleFileNameW(ModuleInstance, buffer.data(), static_cast<DWORD>(buffer.size()));
    return length > 0 && length < buffer.size() ? std::wstring(buffer.data(), length)
                                                : std::wstring();
}

void LogStart(const wchar_t* commandLine) {
    if (!RunLogIsOpen())
        return;
    std::wstring version;
    if (!ReadModuleVersion(ModuleInstance, version))
        version = L"none";
    LogLine(L"start: ", ModulePath(), L", version ", version, L", command line: ", commandLine);
}

// Extract mode: 0 when the payload was written, else the failure's code.
DWORD Extract() {
    if (ExtractPatchPayload(TheRunMode.extractPath)) {
        LogLine(L"extract: patch written to ", TheRunMode.extractPath);
        return ERROR_SUCCESS;
    }
    const DWORD error = GetLastError();
    LogLine(L"extract: writing the patch to ", TheRunMode.extractPath, L" failed, error ", error);
    return FailureExitCode(error);
}

} // namespace

int RunLauncher(const wchar_t* commandLine) {
    ParseCommandLine(commandLine);
    OpenRunLog(TheRunMode.logPath);
    LogStart(commandLine);
    TheInstallOutcome.Reset();
    DWORD exitCode = ERROR_SUCCESS;
    if (TheRunMode.installMode) {
        InstallServicePack();
        exitCode = TheInstallOutcome.ExitCode();
    } else {
        if (TheRunMode.extractMode)
            exitCode = Extract();
        if (TheRunMode.infoMode)
            ShowPatchInfo();
        if (!TheRunMode.extractMode && !TheRunMode.infoMode)
            LogLine(L"nothing to do (/pi)");
    }
    ProductInventory.clear();
    if (TheRunMode.exitCodeMode)
        LogLine(L"exit code ", exitCode);
    else
        LogLine(L"exit code 0 (with /exitcode it would be ", exitCode, L")");
    CloseRunLog();
    return TheRunMode.exitCodeMode ? static_cast<int>(exitCode) : 0;
}

int RunLauncher() {
    return RunLauncher(GetCommandLineW());
}
