#include "common/growing_text.h"
#include "common/program_state.h"
#include "deployment/exit_code.h"
#include "deployment/restart.h"
#include "deployment/run_log.h"
#include "deployment/session.h"
#include "launcher/launcher.h"
#include "patch/patch.h"
#include "products/products.h"

#include <windows.h>

#include <vector>

std::wstring ModulePath() {
    std::vector<wchar_t> buffer(MaximumGrowingTextCapacity, L'\0'); // terminator included
    const DWORD length =
        GetModuleFileNameW(ModuleInstance, buffer.data(), static_cast<DWORD>(buffer.size()));
    return length > 0 && length < buffer.size() ? std::wstring(buffer.data(), length)
                                                : std::wstring();
}

namespace {

// The launcher's version, the project's VERSION file as the build read it.
constexpr wchar_t LauncherVersion[] = PATCHLAUNCHER_VERSION;

void LogStart(const wchar_t* commandLine) {
    if (!RunLogIsOpen())
        return;
    LogLine(L"start: ", ModulePath(), L", version ", LauncherVersion, L", command line: ",
            commandLine);
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

// True when `left` and `right` name the same file: their full paths, compared
// without regard to case as the file system does.
bool SameFullPath(const std::wstring& left, const std::wstring& right) {
    const auto full = [](const std::wstring& path) {
        std::wstring text = path;
        ReadFullPath(path, text);
        return text;
    };
    return CompareStringOrdinal(full(left).c_str(), -1, full(right).c_str(), -1, TRUE) ==
           CSTR_EQUAL;
}

// The log file of the run: none when "/log" names the very file that "/e"
// writes, which the log would otherwise be appended to.
std::wstring ChooseLogPath() {
    if (TheRunMode.extractMode && !TheRunMode.extractPath.empty() && !TheRunMode.logPath.empty() &&
        SameFullPath(TheRunMode.logPath, TheRunMode.extractPath))
        return std::wstring();
    return TheRunMode.logPath;
}

// `noDesktop`: why no one sees the desktop, or nullptr.
void LogSettings(const wchar_t* noDesktop) {
    for (const std::wstring& argument : TheRunMode.ignoredArguments)
        LogLine(L"argument ignored: ", argument);
    if (noDesktop != nullptr)
        LogLine(L"no interactive desktop (", noDesktop,
                L"): no boxes and no installer interface, as with /qn");
    else
        LogLine(L"interactive desktop: someone can see this session's desktop");
}

// At the end of an install or removal run that asked for a restart: the
// computer is restarted now, after every box and with the patch file gone,
// unless "/norestart" keeps that to whoever deployed the launcher.
void RestartIfNeeded() {
    if (!TheInstallOutcome.RestartNeeded())
        return;
    if (!TheRunSettings.restartWhenNeeded) {
        LogLine(L"restart needed; not started (/norestart)");
        return;
    }
    if (RestartComputer()) {
        TheInstallOutcome.RestartStarted();
        LogLine(L"restart started: Windows restarts the computer in ", RestartGracePeriodSeconds,
                L" s");
    } else {
        LogLine(L"restart needed but could not be started, error ", GetLastError());
    }
}

} // namespace

int RunLauncher(const wchar_t* commandLine) {
    ParseCommandLine(commandLine);
    const wchar_t* const noDesktop = WhyNoOneSeesTheDesktop();
    TheRunSettings = DecideRunSettings(TheRunMode, QuietMode, noDesktop == nullptr);
    QuietMode = !TheRunSettings.resultBoxes;
    OpenRunLog(ChooseLogPath());
    LogStart(commandLine);
    LogSettings(noDesktop);
    TheInstallOutcome.Reset();
    DWORD exitCode = ERROR_SUCCESS;
    if (TheRunMode.helpMode) {
        ShowHelp();
    } else if (TheRunMode.installMode) {
        if (TheRunMode.uninstallMode)
            RemoveServicePack();
        else
            InstallServicePack();
        RestartIfNeeded();
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
