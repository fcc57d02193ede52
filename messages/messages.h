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

// Every box: a single OK button, no owner, shown topmost and brought to the
// foreground.
constexpr UINT StyleStop = MB_OK | MB_ICONHAND | MB_SETFOREGROUND | MB_TOPMOST; // 0x50010
constexpr UINT StyleInformation =
    MB_OK | MB_ICONASTERISK | MB_SETFOREGROUND | MB_TOPMOST;        // 0x50040
constexpr UINT StyleNoIcon = MB_OK | MB_SETFOREGROUND | MB_TOPMOST; // 0x50000
// The info box of "/i", which is not a catalogue message.
constexpr UINT StyleInfoBox = MB_OK | MB_ICONEXCLAMATION | MB_SETFOREGROUND | MB_TOPMOST; // 0x50030

} // namespace messages

// Loads string `id` of `module` in the catalogue language of the thread locale
// (messages::CatalogueLanguageFor), cut to capacity - 1 characters; returns
// the number loaded (0 when the string does not exist).
int LoadCatalogueText(HINSTANCE module, UINT id, std::wstring& text, int capacity);

// Shows catalogue message `id` in a modal box, in the thread locale's
// language, unless QuietMode is set.
void ReportMessage(UINT id);
