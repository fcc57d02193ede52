// One way to read a text of unknown length from the platform: calls such as
// GetEnvironmentVariableW, GetFullPathNameW and GetShortPathNameW answer the
// length copied (terminator excluded) when the buffer was large enough, the
// size needed (terminator included) when it was not, and 0 on failure.
#pragma once

#include <windows.h>

#include <string>

// The longest text read this way, terminator included: the longest path and
// the longest environment value the platform allows.
constexpr DWORD MaximumGrowingTextCapacity = 32768;

// Calls `read(buffer, capacity)` with a buffer of MAX_PATH characters, then
// of the size the call asks for, until the text fits. False on failure, or
// when the call asks for more than MaximumGrowingTextCapacity; `text` is
// assigned only on success.
template <typename Read> bool ReadGrowingText(Read read, std::wstring& text) {
    std::wstring buffer(MAX_PATH, L'\0'); // terminator included
    for (;;) {
        const DWORD capacity = static_cast<DWORD>(buffer.size());
        const DWORD result = read(&buffer[0], capacity);
        if (result == 0)
            return false;
        if (result < capacity) {
            buffer.resize(result);
            text = std::move(buffer);
            return true;
        }
        // Each round asks for more than the last, so this ends.
        if (result > MaximumGrowingTextCapacity)
            return false;
        buffer.assign(result, L'\0');
    }
}

// The full path of `path` (a relative one against the current directory);
// `full` is assigned only on success.
inline bool ReadFullPath(const std::wstring& path, std::wstring& full) {
    return ReadGrowingText(
        [&path](wchar_t* buffer, DWORD capacity) {
            return GetFullPathNameW(path.c_str(), capacity, buffer, nullptr);
        },
        full);
}
