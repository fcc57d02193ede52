#include "tests/messages/catalogue_data.h"

#include "messages/languages.h"

#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <set>

namespace test {

namespace {

std::wstring Unescape(const std::wstring& text) {
    std::wstring plain;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\\' && i + 1 < text.size() && text[i + 1] == L'n') {
            plain += L'\n';
            ++i;
        } else {
            plain += text[i];
        }
    }
    return plain;
}

std::map<CatalogueKey, std::wstring> ReadCatalogue() {
    const std::vector<std::uint8_t> bytes = ReadFileBytes(CATALOGUE_FILE);
    const std::wstring content = Widen(std::string(bytes.begin(), bytes.end()));
    std::map<CatalogueKey, std::wstring> catalogue;
    std::size_t start = 0;
    while (start < content.size()) {
        std::size_t end = content.find(L'\n', start);
        if (end == std::wstring::npos)
            end = content.size();
        const std::wstring line = content.substr(start, end - start);
        start = end + 1;
        if (line.empty() || line[0] == L'#')
            continue;
        const std::size_t first = line.find(L'\t');
        const std::size_t second = line.find(L'\t', first + 1);
        if (first == std::wstring::npos || second == std::wstring::npos) {
            ADD_FAILURE() << "catalogue line without two tabs: " << Narrow(line);
            continue;
        }
        const LCID lcid = std::wcstoul(line.substr(0, first).c_str(), nullptr, 10);
        const UINT id =
            std::wcstoul(line.substr(first + 1, second - first - 1).c_str(), nullptr, 10);
        catalogue[{lcid, id}] = Unescape(line.substr(second + 1));
    }
    return catalogue;
}

std::string CodeUnit(const std::wstring& text, std::size_t position) {
    if (position >= text.size())
        return "end of text";
    char hex[16] = {}; // "U+" and four digits, terminator included
    std::snprintf(hex, sizeof hex, "U+%04X", static_cast<unsigned>(text[position]));
    return hex;
}

} // namespace

const std::map<CatalogueKey, std::wstring>& ExpectedCatalogue() {
    static const std::map<CatalogueKey, std::wstring> catalogue = ReadCatalogue();
    return catalogue;
}

std::wstring ExpectedText(LCID lcid, UINT id) {
    const auto found = ExpectedCatalogue().find({lcid, id});
    if (found == ExpectedCatalogue().end()) {
        ADD_FAILURE() << "the catalogue data has no string " << id << " for LCID " << lcid;
        return std::wstring();
    }
    return found->second;
}

const std::vector<LCID>& CatalogueLanguages() {
    static const std::vector<LCID> languages(std::begin(messages::CatalogueLanguages),
                                             std::end(messages::CatalogueLanguages));
    return languages;
}

std::string DescribeDifference(const std::wstring& expected, const std::wstring& actual) {
    if (expected == actual)
        return std::string();
    std::size_t position = 0;
    while (position < expected.size() && position < actual.size() &&
           expected[position] == actual[position])
        ++position;
    return "first difference at position " + std::to_string(position) + ": expected " +
           CodeUnit(expected, position) + ", actual " + CodeUnit(actual, position) + " (lengths " +
           std::to_string(expected.size()) + " and " + std::to_string(actual.size()) +
           ")\n  expected: " + Narrow(expected) + "\n  actual:   " + Narrow(actual);
}

std::wstring Substitute(const std::wstring& format, const std::wstring& value) {
    std::size_t placeholder = format.find(L"%s");
    if (placeholder == std::wstring::npos)
        placeholder = format.find(L"%d");
    if (placeholder == std::wstring::npos)
        return format;
    return format.substr(0, placeholder) + value + format.substr(placeholder + 2);
}

} // namespace test
