// show_message.exe LCID ID NAME [ERROR]
//
// Shows result message ID through ReportMessage, in the language of thread
// locale LCID, with NAME as the product name and ERROR (default 0) as the
// thread's last-error code. The catalogue is this program's own string tables.
#include "common/program_state.h"
#include "messages/messages.h"

#include <cwchar>

int wmain(int argc, wchar_t** argv) {
    if (argc < 4) {
        MessageBoxW(nullptr, L"usage: show_message.exe LCID ID NAME [ERROR]", L"show_message",
                    MB_OK);
        return 2;
    }
    ModuleInstance = GetModuleHandleW(nullptr);
    CurrentProductName = argv[3];
    const LCID locale = static_cast<LCID>(std::wcstoul(argv[1], nullptr, 10));
    const UINT id = static_cast<UINT>(std::wcstoul(argv[2], nullptr, 10));
    const DWORD error = argc > 4 ? static_cast<DWORD>(std::wcstoul(argv[4], nullptr, 10)) : 0;
    SetThreadLocale(locale);
    SetLastError(error);
    ReportMessage(id);
    return 0;
}
