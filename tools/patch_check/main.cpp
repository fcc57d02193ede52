// patch_check.exe PATCH: exit code 0 when the launcher can use PATCH; 1 with
// a message on the error stream saying what is wrong with it.
// patch_check.exe --launcher PatchLauncher.exe: prints what the launcher
// carries (what "/i" shows, the patch code, how it decides, the payload's
// size and SHA-256, whether it is signed) without running it; exit code 0
// when the launcher can use its patch, 1 otherwise or when the file is no
// launcher.
#include "launcher/launcher.h"
#include "tools/patch_check/patch_check.h"

#include <windows.h>

#include <cstdio>
#include <string>

namespace {

// Writes `text` and a line feed to `stream` in UTF-8.
void WriteLine(std::FILE* stream, const std::wstring& text) {
    const std::wstring line = text + L"\n";
    const int size = WideCharToMultiByte(CP_UTF8, 0, line.data(), int(line.size()), nullptr, 0,
                                         nullptr, nullptr);
    if (size <= 0)
        return;
    std::string bytes(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, line.data(), int(line.size()), &bytes[0], size, nullptr,
                        nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), stream);
    std::fflush(stream);
}

int CheckPatch(const std::wstring& path) {
    patchcheck::PatchFacts facts;
    const std::wstring problem = patchcheck::CheckPatchPackage(path, facts);
    if (!problem.empty()) {
        WriteLine(stderr, L"patch_check: " + path + L": " + problem);
        return 1;
    }
    const std::wstring keywords = facts.upgradeVersion + L";" + facts.targetVersions;
    WriteLine(stdout, L"patch_check: " + path + L": the launcher can use it" +
                          (facts.smallUpdate
                               ? L": " + patchcheck::SmallUpdateNote(keywords, facts.patchCode)
                               : std::wstring()) +
                          L".");
    return 0;
}

int InspectLauncher(const std::wstring& path) {
    patchcheck::LauncherFacts facts;
    std::wstring error;
    if (!patchcheck::InspectLauncher(path, facts, error)) {
        WriteLine(stderr, L"patch_check: " + path + L": " + error);
        return 1;
    }
    const patchcheck::PatchFacts& patch = facts.patch;
    const std::wstring keywords = patch.upgradeVersion + L";" + patch.targetVersions;
    // What "/i" shows in its box, from the launcher's own code.
    WriteLine(stdout, PatchInfoText(ProductLines(patch.products), patch.targetVersions,
                                    patch.upgradeVersion));
    WriteLine(stdout, L"Patch code: " + (patch.patchCode.empty() ? L"none" : patch.patchCode));
    WriteLine(stdout,
              L"Decides by: " + (patch.smallUpdate
                                     ? L"the patch's applied state, as " +
                                           patchcheck::SmallUpdateNote(keywords, patch.patchCode)
                                     : std::wstring(L"the product's version")));
    WriteLine(stdout, L"Payload: " + std::to_wstring(facts.payloadSize) + L" bytes, SHA-256 " +
                          facts.payloadSha256);
    WriteLine(stdout,
              L"Signature: " + (facts.signatureFound
                                    ? L"Authenticode; \"osslsigncode verify -CAfile CA.pem -in " +
                                          path + L"\" says whether it is valid"
                                    : std::wstring(L"none")));
    if (!facts.patchProblem.empty()) {
        WriteLine(stderr, L"patch_check: " + path + L": its patch: " + facts.patchProblem);
        return 1;
    }
    WriteLine(stdout, L"patch_check: " + path + L": the launcher can use its patch.");
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 2 && std::wstring(argv[1]) != L"--launcher")
        return CheckPatch(argv[1]);
    if (argc == 3 && std::wstring(argv[1]) == L"--launcher")
        return InspectLauncher(argv[2]);
    WriteLine(stderr, L"usage: patch_check PATCH.msp\n       patch_check --launcher "
                      L"PatchLauncher.exe");
    return 2;
}
