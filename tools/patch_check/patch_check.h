// Checks, before a launcher is built around it, that a patch package carries
// the two summary properties in the forms the launcher reads: the same reads
// as the launcher's own (through the installer service), then a plain check
// of each entry.
#pragma once

#include <cstddef>
#include <string>

namespace patchcheck {

// Empty when the launcher can use the patch at `path`; otherwise one message
// that names the property, its value (shortened when long) and the form it
// must take, or says that the file is not a patch package.
std::wstring CheckPatchPackage(const std::wstring& path);

// `value` for a message: control characters escaped; a text of more than
// ShortenedLength characters cut in the middle, with its length added.
std::wstring Shorten(const std::wstring& value);

constexpr std::size_t ShortenedLength = 72; // characters shown of a long value

} // namespace patchcheck
