// What went wrong with a file, in words, for the messages of every patchkit
// command: "it is a folder (error 5)" rather than "(error 5)".
#pragma once

#include <windows.h>

#include <string>

namespace kit {

// The words for `error` met on the file or folder at `path`, with the number
// in brackets after them: "it does not exist", "its folder does not exist",
// "it is a folder", "it is read-only", "access is denied", "it is in use by
// another program", "the disk is full", "the path is too long", or the
// platform's own text for any other error. `path` is looked at only to tell
// a folder or a read-only file from other denied access.
std::wstring ErrorWords(DWORD error, const std::wstring& path = std::wstring());

} // namespace kit
