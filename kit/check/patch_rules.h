// The rules a patch's summary texts must follow for the launcher to use them,
// shared by the build's check (patch_check) and by "patch_writer stamp", so
// that a text one accepts the other accepts too.
#pragma once

#include "kit/text/text.h"

#include <string>

namespace kit {

// The form of PID_KEYWORDS, for messages.
inline constexpr wchar_t KeywordsForm[] =
    L"It must be UPGRADE;TARGET,TARGET,... : the version the patch brings a product to, one "
    L"\";\", then each version the patch applies to followed by \",\" (for example "
    L"1.1.0.0;1.0.0.0,1.0.5.0, or, for a small update that leaves the version as it is, "
    L"3.1.21022;3.1.21022,); a version is one to four numbers from 0 to 65535 joined by \".\".";

// Empty when the launcher can use `keywords` (PID_KEYWORDS) as they are;
// otherwise one message that names the property, its value (shortened when
// long), what is wrong and the form it must take.
std::wstring KeywordsProblem(const std::wstring& keywords);

// True for keywords of a small update: "V;V," (see IsSmallUpdate).
bool IsSmallUpdateKeywords(const std::wstring& keywords);

// For the keywords of a small update: empty when `revisionNumber`
// (PID_REVNUMBER) starts with the patch code that the launcher then asks the
// installer service about; otherwise the message saying so. Empty for every
// other keywords text.
std::wstring PatchCodeProblem(const std::wstring& keywords, const std::wstring& revisionNumber);

// What the launcher does with a small update, for the tools to tell the user:
// "a small update: ..." naming the version and `patchCode`.
std::wstring SmallUpdateNote(const std::wstring& keywords, const std::wstring& patchCode);

} // namespace kit
