#include "deployment/temporary_patch.h"

#include "deployment/run_log.h"

#include <windows.h>

TemporaryPatchFile::~TemporaryPatchFile() {
    lock.reset();
    if (path.empty())
        return;
    const LastErrorKeeper keeper;
    if (DeleteFileW(path.c_str()))
        LogLine(L"patch file ", path, L" deleted");
    else if (GetLastError() != ERROR_FILE_NOT_FOUND && GetLastError() != ERROR_PATH_NOT_FOUND)
        LogLine(L"patch file ", path, L" could not be deleted, error ", GetLastError());
}
