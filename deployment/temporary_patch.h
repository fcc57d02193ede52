// The temporary copy of the patch that an install or info run works on.
#pragma once

#include "common/holder.h"

#include <string>

// Deleted when the value goes, whichever way the run ends, with the lock on it
// released just before; nothing is left in the temporary folder. Only the file
// the extraction made is deleted: the path stays empty until it chose a name.
class TemporaryPatchFile {
  public:
    TemporaryPatchFile() = default;
    ~TemporaryPatchFile();
    TemporaryPatchFile(const TemporaryPatchFile&) = delete;
    TemporaryPatchFile& operator=(const TemporaryPatchFile&) = delete;

    std::wstring path; // filled by the extraction
    FileHandle lock;   // held while the file is applied, if the run locks it
};
