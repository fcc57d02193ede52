// User messages: the localised catalogue in the module's string tables and the
// one operation that shows a result message.
#pragma once

#include <windows.h>

#include <string>

namespace messages {

constexpr UINT InstallFailed = 300;      // %d: the thread's last-error code
constexpr UINT PatchApplied = 301;       // %s: CurrentProductName
constexpr UINT AlreadyUpToDate = 306;    // %s: CurrentProductName
constexpr UINT NoProductFound = 307;     // no substitution
constexpr UINT VersionNotTargeted = 308; // %s: CurrentProductName
constexpr UINT CommandLineIncorrect = 309;
constexpr UINT PatchListMissing = 310;
constexpr UINT TitleError = 311;
constexpr UINT TitleSuccess = 312;
constexpr UINT TitleUnnecessary = 313;

constexpr int CatalogueCapacity = 256; // characters per load, terminator included

} // namespace messages

// Loads string `id` of `module` in the thread's language, cut to capacity - 1
// characters; returns the number loaded (0 when the string does not exist).
int LoadCatalogueText(HINSTANCE module, UINT id, std::wstring& text, int capacity);

// Shows catalogue message `id` in a modal box, in the thread locale's
// language, unless QuietMode is set.
void ReportMessage(UINT id);
