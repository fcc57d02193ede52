#include "launcher/launcher.h"
#include "messages/messages.h"

#include <windows.h>

namespace {

// The file part of `path`, after its last "\" or "/".
std::wstring FileName(const std::wstring& path) {
    const std::wstring::size_type slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

// `file` without its extension.
std::wstring Stem(const std::wstring& file) {
    const std::wstring::size_type dot = file.rfind(L'.');
    return dot == std::wstring::npos || dot == 0 ? file : file.substr(0, dot);
}

} // namespace

std::wstring HelpText(const std::wstring& programFile) {
    return L"Installs the service pack that " + programFile +
           L" carries on every product it is for.\n\n"
           L"Usage: " +
           programFile +
           L" [switches]\n\n"
           L"/q\tno result messages\n"
           L"/qn, /quiet\tno messages and no installer interface (run it elevated or as SYSTEM)\n"
           L"/norestart\tnever restart the computer; exit code 3010 with /exitcode says a "
           L"restart is needed\n"
           L"/uninstall\tremove the service pack again from every product that has it\n"
           L"/log PATH\talso append what the run does to the file PATH\n"
           L"/exitcode\tmake the exit code say what happened\n"
           L"/e [PATH]\tonly write the service pack's patch to PATH (none: a temporary file)\n"
           L"/i\tonly show the products and versions the service pack is for\n"
           L"/pi\tdo nothing\n"
           L"/?, /h, /help\tshow this text\n\n"
           L"Without a switch the service pack is installed and the outcome shown. When an "
           L"installation or removal needs a restart, the computer is restarted at the end, "
           L"unless /norestart is given.";
}

void ShowHelp() {
    std::wstring file = FileName(ModulePath());
    if (file.empty())
        file = L"PatchLauncher.exe";
    ShowOwnBox(L"help", HelpText(file), Stem(file), messages::StyleHelpBox);
}
