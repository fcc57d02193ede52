// The patch package: the embedded payload, its extraction to a file, and the
// summary properties that say which products and versions the patch serves.
#pragma once

#include "common/holder.h"
#include "installer/installer.h"

#include <string>

// The embedded patch: resource type "MSP", name "IDR_MSP" (language 1033).
constexpr wchar_t PayloadResourceType[] = L"MSP";
constexpr wchar_t PayloadResourceName[] = L"IDR_MSP";

// Writes the embedded "MSP"/"IDR_MSP" resource of ModuleInstance to `path`.
// An empty `path` asks for a fresh temporary name, which is written back into
// `path` (also when a later step fails). True only when the whole payload was
// written in one request.
bool ExtractPatchPayload(std::wstring& path);

// For the install flow: extracts as above and hands back in `lock` a handle
// on the written file that admits readers (the installer service) and refuses
// writers, deletion and renaming for as long as it is held. It is opened after
// the write and must find the very file written, holding exactly the payload;
// otherwise the extraction fails (ERROR_FILE_INVALID when it was changed).
bool ExtractPatchPayload(std::wstring& path, FileHandle& lock);

// Opens the summary information of the package at `path` (resolved to a full
// path of at most 259 characters); 0 when it cannot be opened, with the
// service's result as the last error (206 for a full path that does not fit).
MSIHANDLE OpenPatchSummary(const std::wstring& path);

// Reads PID_TEMPLATE, the ";"-separated product codes; `products` is assigned
// only on success. A failure leaves the service's result as the last error.
bool ReadPatchProducts(std::wstring path, std::wstring& products);

// Reads PID_KEYWORDS and splits it at its first ";" into the upgrade version
// and the ","-terminated target versions; outputs are assigned only on
// success. A text without a usable ";" fails with last-error 4316, a failed
// read with the service's result.
bool ReadPatchVersions(std::wstring path, std::wstring& upgradeVersion,
                       std::wstring& targetVersions);

// Reads the patch code: the first 38 characters of PID_REVNUMBER (the codes of
// the patches it replaces may follow), a GUID in braces. `patchCode` is
// assigned, in registry form, only on success; a text that does not start
// with a GUID fails with last-error 13 (ERROR_INVALID_DATA), a failed read
// with the service's result.
bool ReadPatchCode(std::wstring path, std::wstring& patchCode);
