// Texts that the kit takes from its user and quotes back in its messages.
#pragma once

#include <cstddef>
#include <string>

namespace kit {

// `value` for a message: control characters and UTF-16 surrogates without
// their pair escaped; a text of more than ShortenedLength characters cut in
// the middle, with its length added.
std::wstring Shorten(const std::wstring& value);

constexpr std::size_t ShortenedLength = 72; // characters shown of a long value

// True when `text` is well-formed UTF-16: it comes back unchanged from UTF-8,
// so every surrogate has its pair.
bool IsWellFormedText(const std::wstring& text);

} // namespace kit
