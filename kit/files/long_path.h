// Paths of any length Windows allows: the kit hands the platform's file calls
// a path in the extended-length form ("\\?\C:\...", "\\?\UNC\server\share\..."),
// which no MAX_PATH limit applies to, on every Windows 10 and 11 whatever the
// LongPathsEnabled policy says.
#pragma once

#include <string>

namespace kit {

// `path` as a full path in the extended-length form; a path already in that
// form, or one that cannot be made full, is handed back as it is. For the
// file calls only: such a path is not normalised again by the platform, and
// a program that shows it to a person shows `path` instead.
std::wstring LongPathForm(const std::wstring& path);

} // namespace kit
