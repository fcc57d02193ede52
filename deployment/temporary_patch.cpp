#include "deployment/temporary_patch.h"

#include "deployment/run_log.h"

#include <windows.h>

namespace {

bool IsGone(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

} // namespace

TemporaryPatchFile::~TemporaryPatchFile() {
    lock.reset();
    if (path.empty())
        return;
    const LastErrorKeeper keeper;
    // A virus scanner or the installer service may still hold the file for a
    // moment after the apply.
    DWORD error = ERROR_SUCCESS;
    for (DWORD waited = 0;; waited += TemporaryFileDeleteRetryPauseMs) {
        if (DeleteFileW(path.c_str())) {
            LogLine(L"patch file ", path, L" deleted");
            return;
        }
        error = GetLastError();
        if (IsGone(error))
            return;
        if (waited >= TemporaryFileDeleteRetryMs)
            break;
        Sleep(TemporaryFileDeleteRetryPauseMs);
    }
    LogLine(L"patch file ", path, L" could not be deleted for ", TemporaryFileDeleteRetryMs,
            L" ms, error ", error);
    // Needs rights to the machine's pending operations (administrators).
    if (MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
        LogLine(L"patch file ", path, L" will be deleted at the next restart");
    else
        LogLine(L"patch file ", path,
                L" could not be scheduled for deletion at the next restart, error ",
                GetLastError());
}
