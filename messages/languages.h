// The languages of the message catalogue, and the one in which a box is shown
// for a given locale.
#pragma once

#include <windows.h>

namespace messages {

// Each of these languages has its own copy of the catalogue's string tables,
// in ascending order.
constexpr LANGID CatalogueLanguages[] = {
    1028, // Chinese (Traditional, Taiwan)
    1029, // Czech
    1031, // German (Germany)
    1033, // English (United States)
    1036, // French (France)
    1038, // Hungarian
    1040, // Italian (Italy)
    1041, // Japanese
    1042, // Korean
    1045, // Polish
    1046, // Portuguese (Brazil)
    1049, // Russian
    2052, // Chinese (Simplified, PRC)
    3082, // Spanish (Spain, international sort)
};

// The language used when nothing closer is in the catalogue.
constexpr LANGID FallbackLanguage = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US); // 1033

// Chinese has two catalogue languages: each variant goes to the one written
// in its script. Every other language has at most one catalogue language.
struct LanguageMapping {
    LANGID language;
    LANGID catalogueLanguage;
};
constexpr LanguageMapping ChineseVariants[] = {
    {3076, 1028},   // Chinese (Hong Kong SAR)
    {5124, 1028},   // Chinese (Macao SAR)
    {0x7C04, 1028}, // Chinese (Traditional), no region
    {4100, 2052},   // Chinese (Singapore)
    {0x0004, 2052}, // Chinese (Simplified), no region
};

// The catalogue language for `locale` (pseudo locales such as
// LOCALE_USER_DEFAULT resolved first): its own language when the catalogue
// has it; else the catalogue language with the same primary language (for
// Chinese, the one of the same script); else English.
LANGID CatalogueLanguageFor(LCID locale);

} // namespace messages
