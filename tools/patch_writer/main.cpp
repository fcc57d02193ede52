// patch_writer.exe: writes a patch package, or (with --summary-only) a
// compound file that carries nothing but chosen summary properties: the
// sample patch and the patches of the tests. (A vendor stamps a patch with
// "patchkit stamp".)
#include "common/holder.h"
#include "tools/patch_writer/patch_writer.h"

#include <cstdio>
#include <cwchar>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr wchar_t About[] =
    L"patch_writer: writes a patch package for the tests, the sample and the demo: its\n"
    L"targets (product code, upgrade code, language, new package code), patch code,\n"
    L"versions and summary text, or a file of nothing but chosen summary properties.\n";

constexpr wchar_t Usage[] =
    L"usage:\n"
    L"  patch_writer OUTPUT --target {PRODUCT}:{UPGRADE}[:LANGUAGE[:{NEWPACKAGE}]] [--target ...]\n"
    L"               --patch-code {GUID} --from VERSION --to VERSION\n"
    L"               [--keywords TEXT] [--obsoletes {GUID}] [--allow-removal 1|0]\n"
    L"               [--title TEXT] [--subject TEXT] [--author TEXT] [--comments TEXT]\n"
    L"               [--stream NAME=FILE]\n"
    L"  patch_writer OUTPUT --summary-only [--codepage N] [--text ID=TEXT] [--int ID=NUMBER]\n";

int Fail(const std::wstring& message) {
    std::fwprintf(stderr, L"patch_writer: %ls\n", message.c_str());
    return 1;
}

int FailUsage(const std::wstring& message) {
    std::fwprintf(stderr, L"patch_writer: %ls\n%ls", message.c_str(), Usage);
    return 2;
}

// "ID=VALUE" split at the first "="; false when ID is not a number.
bool SplitAssignment(const std::wstring& text, UINT& property, std::wstring& value) {
    const std::wstring::size_type equals = text.find(L'=');
    if (equals == std::wstring::npos || equals == 0)
        return false;
    wchar_t* end = nullptr;
    const unsigned long number = std::wcstoul(text.c_str(), &end, 10);
    if (end != text.c_str() + equals)
        return false;
    property = UINT(number);
    value = text.substr(equals + 1);
    return true;
}

// "{PRODUCT}:{UPGRADE}[:LANGUAGE[:{NEWPACKAGE}]]"; false without the upgrade code.
bool ParseTarget(const std::wstring& text, patchwriter::PatchTarget& target) {
    std::vector<std::wstring> fields;
    std::wstring::size_type start = 0;
    for (;;) {
        const std::wstring::size_type colon = text.find(L':', start);
        fields.push_back(text.substr(start, colon == std::wstring::npos ? colon : colon - start));
        if (colon == std::wstring::npos)
            break;
        start = colon + 1;
    }
    if (fields.size() < 2 || fields.size() > 4)
        return false;
    target.productCode = fields[0];
    target.upgradeCode = fields[1];
    target.language = fields.size() > 2 ? fields[2] : std::wstring();
    target.newPackageCode = fields.size() > 3 ? fields[3] : std::wstring();
    return true;
}

// "NAME=FILE": the bytes of FILE as root stream NAME (stored under the
// installer's compressed stream name).
bool ReadStreamArgument(const std::wstring& text,
                        std::pair<std::wstring, std::vector<std::uint8_t>>& stream) {
    const std::wstring::size_type equals = text.find(L'=');
    if (equals == std::wstring::npos || equals == 0)
        return false;
    const CrtStream file(_wfopen(text.substr(equals + 1).c_str(), L"rb"));
    if (!file)
        return false;
    std::vector<std::uint8_t> bytes;
    std::uint8_t chunk[65536]; // bytes per read
    std::size_t read = 0;
    while ((read = std::fread(chunk, 1, sizeof chunk, file.get())) > 0)
        bytes.insert(bytes.end(), chunk, chunk + read);
    if (std::ferror(file.get()) != 0)
        return false;
    stream = {kit::EncodeStreamName(text.substr(0, equals), false), std::move(bytes)};
    return true;
}

int WriteSummaryOnly(const std::wstring& output, int argc, wchar_t** argv, int next) {
    std::int16_t codepage = 1252;
    for (int i = next; i < argc; ++i) {
        if (std::wstring(argv[i]) == L"--codepage" && i + 1 < argc) {
            codepage = std::int16_t(std::wcstol(argv[++i], nullptr, 10));
        }
    }
    patchwriter::SummaryInformation summary(codepage);
    for (int i = next; i < argc; ++i) {
        const std::wstring option = argv[i];
        if (option == L"--codepage") {
            ++i;
            continue;
        }
        if ((option != L"--text" && option != L"--int") || i + 1 >= argc)
            return FailUsage(L"unexpected argument '" + option + L"'");
        UINT property = 0;
        std::wstring value;
        if (!SplitAssignment(argv[++i], property, value))
            return FailUsage(L"expected ID=VALUE, got '" + std::wstring(argv[i]) + L"'");
        if (option == L"--text")
            summary.SetText(property, value);
        else
            summary.SetInteger(property, std::int32_t(std::wcstol(value.c_str(), nullptr, 10)));
    }
    if (!patchwriter::WriteSummaryPackage(output, summary))
        return Fail(L"cannot write '" + output + L"'");
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring output = argc > 1 ? argv[1] : L"";
    if (output.empty() || output == L"/?" || output == L"--help" || output == L"-h") {
        std::fwprintf(stdout, L"%ls%ls", About, Usage);
        return 0;
    }
    if (argc > 2 && std::wstring(argv[2]) == L"--summary-only")
        return WriteSummaryOnly(output, argc, argv, 3);

    patchwriter::PatchDefinition definition;
    for (int i = 2; i < argc; ++i) {
        const std::wstring option = argv[i];
        if (i + 1 >= argc)
            return FailUsage(L"'" + option + L"' needs a value");
        const std::wstring value = argv[++i];
        if (option == L"--target") {
            patchwriter::PatchTarget target;
            if (!ParseTarget(value, target))
                return FailUsage(L"expected {PRODUCT}:{UPGRADE}[:LANGUAGE[:{NEWPACKAGE}]], got '" +
                                 value + L"'");
            definition.targets.push_back(target);
        } else if (option == L"--patch-code") {
            definition.patchCode = value;
        } else if (option == L"--from") {
            definition.fromVersion = value;
        } else if (option == L"--to") {
            definition.toVersion = value;
        } else if (option == L"--keywords") {
            definition.keywords = value;
        } else if (option == L"--allow-removal") {
            definition.allowRemoval = value;
        } else if (option == L"--obsoletes") {
            definition.obsoletedPatchCodes.push_back(value);
        } else if (option == L"--title") {
            definition.title = value;
        } else if (option == L"--subject") {
            definition.subject = value;
        } else if (option == L"--author") {
            definition.author = value;
        } else if (option == L"--comments") {
            definition.comments = value;
        } else if (option == L"--stream") {
            std::pair<std::wstring, std::vector<std::uint8_t>> stream;
            if (!ReadStreamArgument(value, stream))
                return FailUsage(L"expected NAME=FILE of a readable file, got '" + value + L"'");
            definition.streams.push_back(std::move(stream));
        } else {
            return FailUsage(L"unknown option '" + option + L"'");
        }
    }
    std::wstring error;
    if (!patchwriter::WritePatchPackage(output, definition, error))
        return Fail(error);
    return 0;
}
