// The expected catalogue texts (tests/data/catalogue.txt) and ways to compare
// texts code unit by code unit.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace test {

using CatalogueKey = std::pair<LCID, UINT>; // language, string ID

// Every line of the data file: "LCID<TAB>ID<TAB>text", "\n" in the text being
// one line feed. Lines starting with "#" are comments.
const std::map<CatalogueKey, std::wstring>& ExpectedCatalogue();

// The text of `id` in `lcid`; fails the test when the data file lacks it.
std::wstring ExpectedText(LCID lcid, UINT id);

// The 14 languages of the catalogue, in ascending order.
const std::vector<LCID>& CatalogueLanguages();

// Empty when the texts are equal; otherwise where they first differ and the
// code units there, in hexadecimal.
std::string DescribeDifference(const std::wstring& expected, const std::wstring& actual);

// `format` with its one placeholder ("%s" or "%d") replaced by `value`.
std::wstring Substitute(const std::wstring& format, const std::wstring& value);

} // namespace test
