// Installed products: version texts and their equality, the record kept for
// each installed target product, and the inventory of those records.
#pragma once

#include "installer/installer.h"

#include <cstdint>
#include <string>
#include <vector>

// A dotted version, four 16-bit components; only equality is ever asked.
struct VersionNumber {
    std::uint16_t first = 0;
    std::uint16_t second = 0;
    std::uint16_t third = 0;
    std::uint16_t fourth = 0;
    // False when a part of the text lay outside 0 to 65535: such a text names
    // no version and equals nothing, itself included.
    bool inRange = true;
};

// Parses "a.b.c.d" (commas count as full stops). Every part present is read,
// missing ones are 0 (2.1.30 is 2.1.30.0); anything after the fourth part's
// number is ignored. Any text yields a value.
VersionNumber ParseVersion(std::wstring text);

// True when both are versions (in range) with the same four components.
bool VersionsEqual(const VersionNumber& left, const VersionNumber& right);

// True for keywords whose target list is one entry equal to the upgrade
// version ("3.1.21022;3.1.21022,"): a small update, which leaves the version
// as it was, so that for a product at it the patch's applied state decides.
bool IsSmallUpdate(const std::wstring& upgradeVersion, const std::wstring& targetVersions);

// The leading decimal integer of a text, signed 32-bit: white space skipped,
// one optional sign, clamped to the 32-bit range; 0 without digits.
std::int32_t ReadLeadingInteger(const std::wstring& text);

struct ProductRecord {
    std::wstring productCode;
    std::wstring upgradeVersion;
    std::wstring productName;
    std::wstring language;
    std::wstring commandLine;
    std::wstring targetVersions;
    std::wstring installedVersion;
};

// The installed target products, in the order the patch lists them.
extern std::vector<ProductRecord> ProductInventory;

// Only state 5 counts as installed: an advertised product (1) has nothing on
// the machine to patch, and one installed for other users (2) cannot be
// patched from this account.
bool IsProductInstalled(const std::wstring& productCode);

// The product's "VersionString"; empty when the service does not answer.
std::wstring ReadInstalledVersion(const std::wstring& productCode);

// Replaces both texts with "ProductName" and "Language" (each empty when the
// service does not answer); a name longer than 1023 characters costs one more
// query at its length. Always true.
bool ReadProductNameAndLanguage(const std::wstring& productCode, std::wstring& productName,
                                std::wstring& language);

// One installation of a product that the service keeps.
struct ProductInstance {
    MSIINSTALLCONTEXT context = MSIINSTALLCONTEXT_NONE;
    std::wstring userSid; // the account it is installed for; empty per-machine
};

// "per-user managed", "per-user unmanaged", "per-machine".
const wchar_t* ContextName(MSIINSTALLCONTEXT context);

// The installations of `productCode` that the service lists for `users`
// (nullptr: the current user's and the machine's; installer::EveryoneSid:
// every user's, for administrators). False with the service's result as the
// last error when it would not list them; `instances` is assigned only on
// success.
bool FindProductInstances(const std::wstring& productCode, const wchar_t* users,
                          std::vector<ProductInstance>& instances);

// The installation the service takes for the current user: of the current
// user's and the machine's, the first in the order of
// installer::ProductContexts. False when there is none, or with the
// service's result as the last error when it would not list them.
bool FindOwnProductInstance(const std::wstring& productCode, ProductInstance& instance);

// "ProductName" of one installation (empty when the service does not answer).
std::wstring ReadInstanceProductName(const std::wstring& productCode,
                                     const ProductInstance& instance);

// What the installer service says of a patch on an installed product.
enum class PatchState {
    Applied,    // applied, or replaced by a later patch that the product has
    NotApplied, // not applied: unknown to the product, or only registered
    Unknown,    // the service could not say
};

// The state of a patch on a product, and where and how it was asked.
struct PatchStateReading {
    PatchState state = PatchState::Unknown;
    ProductInstance instance;    // context MSIINSTALLCONTEXT_NONE: no installation was found
    UINT result = ERROR_SUCCESS; // the service's answer, or that of the listing
};

// The state of patch `patchCode` on the product, asked in the installation
// the service takes for the current user (FindOwnProductInstance): with its
// user's SID for a per-user one, with none per-machine.
PatchStateReading ReadPatchState(const std::wstring& productCode, const std::wstring& patchCode);

// What the installer service decided, when it applied a patch to a product,
// of removing it again ("Uninstallable").
enum class Removability {
    Removable,    // "1"
    NotRemovable, // "0": the service refuses to remove it
    Unknown,      // the service could not say, or said something else
};

struct RemovabilityReading {
    Removability removability = Removability::Unknown;
    ProductInstance instance;    // context MSIINSTALLCONTEXT_NONE: no installation was found
    UINT result = ERROR_SUCCESS; // the service's answer, or that of the listing
    std::wstring value;          // the text the service gave
};

// "Uninstallable" of patch `patchCode` on the product, asked where
// ReadPatchState asks.
RemovabilityReading ReadPatchRemovability(const std::wstring& productCode,
                                          const std::wstring& patchCode);

// A product of the patch's list that the service knows but that is not
// installed for this account, so that the pass leaves it alone.
struct SkippedProduct {
    std::wstring productCode;
    INSTALLSTATE state; // installer::StateAdvertised or installer::StateAbsent
};

// Appends to ProductInventory a copy of `templateRecord` for every installed
// product of the ";"-separated list, stopping at the first empty entry; each
// product code is taken, and asked for, in registry form (upper case).
// Returns the products of the list that are advertised or installed for
// other users only, in list order.
std::vector<SkippedProduct> BuildInventory(const ProductRecord& templateRecord,
                                           const std::wstring& productList);
