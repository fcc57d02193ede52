// patchkit.exe: the vendor's tool. Checks a patch, stamps a copy of it with
// the launcher's keywords, packs a launcher around it from the launcher stub,
// and inspects a packed launcher. Exit code 0 when the command did what it
// was asked, 1 when it refused (the error stream says why), 2 for a command
// line it does not understand.
#include "kit/check/patch_check.h"
#include "kit/deployment_rules.h"
#include "kit/launcher_image.h"
#include "kit/stamp/patch_stamp.h"
#include "launcher/launcher.h"

#include <windows.h>

#include <string>
#include <vector>

namespace {

constexpr int Done = 0;
constexpr int Refused = 1;
constexpr int Misunderstood = 2;

constexpr wchar_t Usage[] =
    L"usage: patchkit COMMAND ...\n"
    L"  check PATCH.msp                                   whether the launcher can use the patch,\n"
    L"                                                    and whether it can be removed again\n"
    L"  stamp IN.msp OUT.msp [--keywords TEXT [--force]]  a copy of IN with the launcher's "
    L"keywords\n"
    L"  pack --patch PATCH.msp --out LAUNCHER.exe [--maker NAME] [--maker-ja NAME] "
    L"[--stub STUB.exe]\n"
    L"                                                    a launcher around the patch\n"
    L"  inspect LAUNCHER.exe                              what a launcher carries, how to deploy "
    L"it\n"
    L"  --version                                         the kit's version";

bool IsConsole(DWORD stream) {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(stream), &mode) != FALSE;
}

// Writes `text` and a line end: to a console as it is, elsewhere (a file, a
// pipe, a build log) in UTF-8.
void Print(DWORD stream, const std::wstring& text) {
    const HANDLE handle = GetStdHandle(stream);
    DWORD written = 0;
    if (IsConsole(stream)) {
        const std::wstring line = text + L"\n";
        WriteConsoleW(handle, line.data(), DWORD(line.size()), &written, nullptr);
        return;
    }
    std::wstring line;
    for (wchar_t ch : text + L"\n")
        line += ch == L'\n' ? std::wstring(L"\r\n") : std::wstring(1, ch);
    const int size = WideCharToMultiByte(CP_UTF8, 0, line.data(), int(line.size()), nullptr, 0,
                                         nullptr, nullptr);
    if (size <= 0)
        return;
    std::string bytes(std::size_t(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, line.data(), int(line.size()), &bytes[0], size, nullptr,
                        nullptr);
    WriteFile(handle, bytes.data(), DWORD(bytes.size()), &written, nullptr);
}

void Say(const std::wstring& text) {
    Print(STD_OUTPUT_HANDLE, text);
}

int Refuse(const std::wstring& text) {
    Print(STD_ERROR_HANDLE, L"patchkit: " + text);
    return Refused;
}

int Misread(const std::wstring& text) {
    Print(STD_ERROR_HANDLE, L"patchkit: " + text + L"\n" + Usage);
    return Misunderstood;
}

// "the launcher can use it", and for a small update what it decides by.
std::wstring UsableNote(const kit::PatchFacts& facts) {
    const std::wstring keywords = facts.upgradeVersion + L";" + facts.targetVersions;
    return L"the launcher can use it" +
           (facts.smallUpdate ? L": " + kit::SmallUpdateNote(keywords, facts.patchCode)
                              : std::wstring()) +
           L".";
}

int Check(const std::vector<std::wstring>& arguments) {
    if (arguments.size() != 1)
        return Misread(L"check takes PATCH.msp");
    kit::PatchFacts facts;
    const std::wstring problem = kit::CheckPatchPackage(arguments[0], facts);
    if (!problem.empty())
        return Refuse(arguments[0] + L": " + problem);
    Say(L"patchkit: " + arguments[0] + L": " + UsableNote(facts));
    Say(L"patchkit: " + arguments[0] + L": " + kit::RemovalNote(facts.removal));
    return Done;
}

// "stamp IN OUT [--keywords TEXT] [--force]".
int Stamp(const std::vector<std::wstring>& arguments) {
    if (arguments.size() < 2)
        return Misread(L"stamp takes IN.msp OUT.msp [--keywords TEXT [--force]]");
    const std::wstring& input = arguments[0];
    const std::wstring& output = arguments[1];
    std::wstring keywords;
    bool keywordsGiven = false;
    bool force = false;
    for (std::size_t i = 2; i < arguments.size(); ++i) {
        const std::wstring& option = arguments[i];
        if (option == L"--keywords" && i + 1 < arguments.size() && !keywordsGiven) {
            keywords = arguments[++i];
            keywordsGiven = true;
            if (keywords.empty())
                return Misread(L"--keywords needs a text");
        } else if (option == L"--force" && !force) {
            force = true;
        } else if (option == L"--keywords") {
            return Misread(keywordsGiven ? L"--keywords is given twice"
                                         : L"--keywords needs a text");
        } else {
            return Misread(L"unknown option '" + option + L"' for stamp");
        }
    }
    if (force && !keywordsGiven)
        return Misread(L"--force goes with --keywords TEXT");
    kit::StampResult result;
    std::wstring error;
    if (!kit::StampPatchPackage(input, output, keywords, force, result, error))
        return Refuse(L"cannot stamp '" + input + L"': " + error);
    Say(L"patchkit: wrote '" + output + L"' with Keywords '" + result.keywords + L"'");
    if (result.smallUpdate)
        Say(L"patchkit: " + kit::SmallUpdateNote(result.keywords, result.patchCode));
    if (result.signatureInvalidated)
        Print(STD_ERROR_HANDLE,
              L"patchkit: warning: '" + input +
                  L"' carries a digital signature (\\005DigitalSignature); the copy's signature "
                  L"no longer matches its contents and must be renewed: sign '" +
                  output + L"' again.");
    return Done;
}

// The stub beside patchkit.exe (ModuleInstance is null here: this program).
std::wstring DefaultStub() {
    const std::wstring path = ModulePath();
    return path.substr(0, path.find_last_of(L"\\/") + 1) + kit::StubFileName;
}

int Pack(const std::vector<std::wstring>& arguments) {
    struct Option {
        const wchar_t* name;
        std::wstring value;
        bool given;
    } options[] = {{L"--patch", {}, false},
                   {L"--out", {}, false},
                   {L"--maker", {}, false},
                   {L"--maker-ja", {}, false},
                   {L"--stub", {}, false}};
    for (std::size_t i = 0; i < arguments.size(); i += 2) {
        Option* option = nullptr;
        for (Option& known : options)
            option = arguments[i] == known.name ? &known : option;
        if (option == nullptr)
            return Misread(L"unknown option '" + arguments[i] + L"' for pack");
        if (option->given)
            return Misread(arguments[i] + L" is given twice");
        if (i + 1 >= arguments.size() || arguments[i + 1].empty())
            return Misread(arguments[i] + L" needs a value");
        option->value = arguments[i + 1];
        option->given = true;
    }
    if (!options[0].given || !options[1].given)
        return Misread(L"pack takes --patch PATCH.msp and --out LAUNCHER.exe");
    const std::wstring& patch = options[0].value;
    const std::wstring& output = options[1].value;
    kit::Branding branding;
    branding.maker = options[2].value;
    branding.makerJa = options[3].value;
    const std::wstring stub = options[4].given ? options[4].value : DefaultStub();

    kit::PatchFacts facts;
    kit::PackedLauncher packed;
    std::wstring error;
    if (!kit::PackLauncher(
            stub, patch, branding, output,
            [&facts](const std::wstring& path) { return kit::CheckPatchPackage(path, facts); },
            packed, error))
        return Refuse(error);
    for (const std::wstring& note : packed.notes)
        Say(L"patchkit: " + note);
    Say(L"patchkit: " + patch + L": " + UsableNote(facts));
    const std::wstring japanese = branding.makerJa.empty() ? branding.maker : branding.makerJa;
    Say(L"patchkit: wrote " + output + L": the patch (" + std::to_wstring(packed.payloadSize) +
        L" bytes, from offset " + std::to_wstring(packed.payloadOffset) +
        L"), message 307 naming " +
        (branding.maker.empty() ? std::wstring(L"the catalogue's own maker")
                                : L"'" + branding.maker + L"' ('" + japanese + L"' in Japanese)") +
        L".");
    // The next steps, for a vendor at a prompt; a build or a pipeline that
    // reads the output knows them.
    if (IsConsole(STD_OUTPUT_HANDLE))
        Say(L"patchkit: sign it now, then inspect it with \"patchkit inspect " + output + L"\".");
    return Done;
}

int Inspect(const std::vector<std::wstring>& arguments) {
    if (arguments.size() != 1)
        return Misread(L"inspect takes LAUNCHER.exe");
    const std::wstring& path = arguments[0];
    kit::LauncherFacts facts;
    std::wstring error;
    if (!kit::InspectLauncher(path, facts, error))
        return Refuse(path + L": " + error);
    const kit::PatchFacts& patch = facts.patch;
    const std::wstring keywords = patch.upgradeVersion + L";" + patch.targetVersions;
    // What "/i" shows in its box, from the launcher's own code.
    Say(PatchInfoText(ProductLines(patch.products), patch.targetVersions, patch.upgradeVersion));
    Say(L"Patch code: " + (patch.patchCode.empty() ? L"none" : patch.patchCode));
    Say(L"Decides by: " + (patch.smallUpdate ? L"the patch's applied state, as " +
                                                   kit::SmallUpdateNote(keywords, patch.patchCode)
                                             : std::wstring(L"the product's version")));
    Say(L"Payload: " + std::to_wstring(facts.payloadSize) + L" bytes, SHA-256 " +
        facts.payloadSha256);
    Say(L"Signature: " + (facts.signatureFound
                              ? L"Authenticode; \"signtool verify /pa " + path +
                                    L"\" (or osslsigncode verify) says whether it is valid"
                              : std::wstring(L"none")));
    if (!facts.patchProblem.empty())
        return Refuse(path + L": its patch: " + facts.patchProblem);
    Say(L"Removal: " + kit::RemovalNote(patch.removal));
    const std::wstring name = path.substr(path.find_last_of(L"\\/:") + 1);
    Say(kit::DeploymentRules(name, patch, facts.platforms));
    Say(L"patchkit: " + path + L": the launcher can use its patch.");
    return Done;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring command = argc > 1 ? argv[1] : L"";
    const std::vector<std::wstring> arguments(argv + (argc > 1 ? 2 : 1), argv + argc);
    if (command == L"check")
        return Check(arguments);
    if (command == L"stamp")
        return Stamp(arguments);
    if (command == L"pack")
        return Pack(arguments);
    if (command == L"inspect")
        return Inspect(arguments);
    if (command == L"--version" && arguments.empty()) {
        Say(L"patchkit " PATCHKIT_VERSION);
        return Done;
    }
    if (command.empty() || command == L"/?" || command == L"--help" || command == L"-h") {
        Say(std::wstring(L"patchkit " PATCHKIT_VERSION ": makes PatchLauncher.exe around your "
                         L"patch.\n") +
            Usage);
        return Done;
    }
    return Misread(L"unknown command '" + command + L"'");
}
