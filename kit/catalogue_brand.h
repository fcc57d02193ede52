// The maker's name in message 307: the rules a name must follow, and the
// string-table block of 307 with the vendor's names in place of the
// catalogue's own. "patchkit pack" brands a launcher with them.
#pragma once

#include "messages/messages.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace kit {

// The maker that the project's catalogue names in message 307, and how the
// Japanese text writes it (katakana).
constexpr wchar_t CatalogueMaker[] = L"Tessaro";
constexpr wchar_t CatalogueMakerJa[] = L"\u30C6\u30B5\u30ED";

// The string-table block that holds message 307, and its place in the block.
constexpr WORD NoProductFoundBlock = IDS_NO_PRODUCT_FOUND / messages::StringsPerBlock + 1;
constexpr std::size_t NoProductFoundSlot = IDS_NO_PRODUCT_FOUND % messages::StringsPerBlock;
// Characters one catalogue load returns.
constexpr std::size_t CatalogueTextLimit = messages::CatalogueCapacity - 1;

// The vendor's names; an empty `maker` leaves the catalogue as it is, an
// empty `makerJa` means `maker`. `makerOption` and `makerJaOption` are how
// the messages name them.
struct Branding {
    std::wstring maker;
    std::wstring makerJa;
    std::wstring makerOption = L"--maker";
    std::wstring makerJaOption = L"--maker-ja";
};

// Empty when the names can stand in the texts; otherwise the refusal.
std::wstring BrandingProblem(const Branding& branding);

// `block` (a string-table block in `language`) with the names of `branding`
// in message 307. False, with `error` saying why, when the block is no
// string table, its 307 text names no maker to replace, or the branded text
// would be longer than one catalogue load returns.
bool BrandBlock(std::vector<std::uint8_t>& block, LANGID language, const Branding& branding,
                std::wstring& error);

} // namespace kit
