#include "kit/catalogue_brand.h"

#include "kit/package/bytes.h"
#include "kit/text/text.h"

#include <array>

namespace kit {

namespace {

// Empty when `name` can stand in the texts; otherwise why not.
std::wstring NameProblem(const std::wstring& option, const std::wstring& name) {
    bool control = false;
    for (wchar_t ch : name)
        control = control || ch < 0x20 || (ch >= 0x7F && ch <= 0x9F);
    std::wstring problem;
    if (!IsWellFormedText(name))
        problem = L"is not well-formed text: it has a UTF-16 surrogate without its pair, which "
                  L"no UTF-8 text (a command line of the build, a log) can carry";
    else if (control)
        problem = L"contains a control character";
    else if (name.find(L'%') != std::wstring::npos)
        problem = L"contains \"%\", which the message formatting would read as a placeholder";
    else if (name.find(L'"') != std::wstring::npos)
        problem = L"contains a double quote, which the command lines that pass the name on "
                  L"(cmd.exe, the build) would take apart";
    else if (name.find(L'\\') != std::wstring::npos)
        problem = L"contains a backslash, which the command lines that pass the name on read as "
                  L"an escape";
    return problem.empty()
               ? problem
               : option + L" '" + Shorten(name) + L"' " + problem + L"; choose a name without it.";
}

bool SplitBlock(const std::vector<std::uint8_t>& block,
                std::array<std::wstring, messages::StringsPerBlock>& strings) {
    std::size_t at = 0;
    for (std::wstring& text : strings) {
        if (at + 2 > block.size())
            return false;
        const std::size_t length = block[at] | std::size_t(block[at + 1]) << 8;
        at += 2;
        if (at + 2 * length > block.size())
            return false;
        text.resize(length);
        for (std::size_t i = 0; i < length; ++i, at += 2)
            text[i] = wchar_t(block[at] | block[at + 1] << 8);
    }
    return true;
}

// Each string as its length and its UTF-16 code units, little-endian.
std::vector<std::uint8_t>
JoinBlock(const std::array<std::wstring, messages::StringsPerBlock>& strings) {
    std::vector<std::uint8_t> block;
    for (const std::wstring& text : strings) {
        kit::AppendUint16(block, std::uint32_t(text.size()));
        for (wchar_t ch : text)
            kit::AppendUint16(block, ch);
    }
    return block;
}

// Replaces every `from` in `text` with `to`; false when there is none.
bool ReplaceAll(std::wstring& text, const std::wstring& from, const std::wstring& to) {
    bool found = false;
    for (std::size_t at = 0; (at = text.find(from, at)) != std::wstring::npos; at += to.size()) {
        text.replace(at, from.size(), to);
        found = true;
    }
    return found;
}

} // namespace

std::wstring BrandingProblem(const Branding& branding) {
    if (branding.maker.empty()) {
        return branding.makerJa.empty()
                   ? std::wstring()
                   : branding.makerJaOption + L" is given without " + branding.makerOption +
                         L"; give " + branding.makerOption + L" too.";
    }
    std::wstring problem = NameProblem(branding.makerOption, branding.maker);
    if (problem.empty() && !branding.makerJa.empty())
        problem = NameProblem(branding.makerJaOption, branding.makerJa);
    return problem;
}

bool BrandBlock(std::vector<std::uint8_t>& block, LANGID language, const Branding& branding,
                std::wstring& error) {
    if (branding.maker.empty())
        return true;
    std::array<std::wstring, messages::StringsPerBlock> strings;
    if (!SplitBlock(block, strings)) {
        error = L"its string table of language " + std::to_wstring(language) +
                L" that holds message 307 is not a string table.";
        return false;
    }
    const std::wstring makerJa = branding.makerJa.empty() ? branding.maker : branding.makerJa;
    std::wstring& text = strings[NoProductFoundSlot];
    if (!ReplaceAll(text, CatalogueMakerJa, makerJa) &&
        !ReplaceAll(text, CatalogueMaker, branding.maker)) {
        error = L"its message 307 in language " + std::to_wstring(language) +
                L" names no maker to replace.";
        return false;
    }
    if (text.size() > CatalogueTextLimit) {
        error = branding.makerOption + L" '" + Shorten(branding.maker) + L"' / " +
                branding.makerJaOption + L" '" + Shorten(makerJa) + L"': message 307 in language " +
                std::to_wstring(language) + L" would have " + std::to_wstring(text.size()) +
                L" characters, more than the " + std::to_wstring(CatalogueTextLimit) +
                L" that one catalogue load returns; choose a shorter name.";
        return false;
    }
    block = JoinBlock(strings);
    return true;
}

} // namespace kit
