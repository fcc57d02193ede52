#include "messages/languages.h"

namespace messages {

LANGID CatalogueLanguageFor(LCID locale) {
    const LANGID language = LANGIDFROMLCID(ConvertDefaultLocale(locale));
    for (LANGID candidate : CatalogueLanguages) {
        if (candidate == language)
            return candidate;
    }
    for (const LanguageMapping& variant : ChineseVariants) {
        if (variant.language == language)
            return variant.catalogueLanguage;
    }
    for (LANGID candidate : CatalogueLanguages) {
        if (PRIMARYLANGID(candidate) == PRIMARYLANGID(language))
            return candidate;
    }
    return FallbackLanguage;
}

} // namespace messages
