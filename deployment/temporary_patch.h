// The temporary copy of the patch that an install or info run works on.
#pragma once

#include "common/holder.h"

#include <windows.h>

#include <string>

// How long a delete that fails is tried again, and the pause between tries.
constexpr DWORD TemporaryFileDeleteRetryMs = 5000;
constexpr DWORD TemporaryFileDeleteRetryPauseMs = 250;

// Deleted when the value goes, whichever way the run ends, with the lock on it
// released just before; nothing is left in the temporary folder. A delete that
// fails (a scanner still holds the file) is tried again for a few seconds,
// then left to the next restart where the account may schedule that. Only
// the file the extraction made is deleted: the path stays empty until it
// chose a name.
class TemporaryPatchFile {
  public:
    TemporaryPatchFile() = default;
    ~TemporaryPatchFile();
    TemporaryPatchFile(const TemporaryPatchFile&) = delete;
    TemporaryPatchFile& operator=(const TemporaryPatchFile&) = delete;

    std::wstring path; // filled by the extraction
    FileHandle lock;   // held while the file is applied, if the run locks it
};
