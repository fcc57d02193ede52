// User messages: the localised catalogue in the module's string tables and the
// one operation that shows a result message.
#pragma once

#include "messages/message_ids.h"

#include <windows.h>

#include <string>

namespace messages {

constexpr UINT InstallFailed = IDS_INSTALL_FAILED;            // %d: the thread's last-error code
constexpr UINT PatchApplied = IDS_PATCH_APPLIED;              // %s: CurrentProductName
constexpr UINT AlreadyUpToDate = IDS_ALREADY_UP_TO_DATE;      // %s: CurrentProductName
constexpr UINT NoProductFound = IDS_NO_PRODUCT_FOUND;         // no substitution
constexpr UINT VersionNotTargeted = IDS_VERSION_NOT_TARGETED; // %s: CurrentProductName
constexpr UINT CommandLineIncorrect = IDS_COMMAND_LINE_INCORRECT;
constexpr UINT PatchListMissing = IDS_PATCH_LIST_MISSING;
constexpr UINT TitleError = IDS_TITLE_ERROR;
constexpr UINT TitleSuccess = IDS_TITLE_SUCCESS;
constexpr UINT TitleUnnecessary = IDS_TITLE_UNNECESSARY;
constexpr UINT PatchRemoved = IDS_PATCH_REMOVED;        // %s: CurrentProductName
constexpr UINT NotInstalledOn = IDS_NOT_INSTALLED_ON;   // %s: CurrentProductName
constexpr UINT NothingToRemove = IDS_NOTHING_TO_REMOVE; // no substitution
constexpr UINT TitleRemoval = IDS_TITLE_REMOVAL;

constexpr int CatalogueCapacity = 256; // characters per load, terminator included

// A string table is kept in blocks of 16 strings: block n holds the IDs
// 16 (n - 1) to 16 (n - 1) + 15, each as its length and its characters.
constexpr UINT StringsPerBlock = 16;

// Every box: a single OK button, no owner, shown topmost and brought to the
// foreground.
constexpr UINT StyleStop = MB_OK | MB_ICONHAND | MB_SETFOREGROUND | MB_TOPMOST; // 0x50010
constexpr UINT StyleInformation =
    MB_OK | MB_ICONASTERISK | MB_SETFOREGROUND | MB_TOPMOST;        // 0x50040
constexpr UINT StyleNoIcon = MB_OK | MB_SETFOREGROUND | MB_TOPMOST; // 0x50000
// The info box of "/i", which is not a catalogue message.
constexpr UINT StyleInfoBox = MB_OK | MB_ICONEXCLAMATION | MB_SETFOREGROUND | MB_TOPMOST; // 0x50030
// The help box of "/?", not a catalogue message either.
constexpr UINT StyleHelpBox = MB_OK | MB_ICONASTERISK | MB_SETFOREGROUND | MB_TOPMOST; // 0x50040

} // namespace messages

// Loads string `id` of `module` in the catalogue language of the thread locale
// (messages::CatalogueLanguageFor), cut to capacity - 1 characters; returns
// the number loaded (0 when the string does not exist).
int LoadCatalogueText(HINSTANCE module, UINT id, std::wstring& text, int capacity);

// Shows catalogue message `id` in a modal box, in the thread locale's
// language, unless QuietMode is set.
void ReportMessage(UINT id);
