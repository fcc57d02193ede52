// patch_check.exe PATCH: exit code 0 when the launcher can use PATCH; 1 with
// a message on the error stream saying what is wrong with it.
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

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        WriteLine(stderr, L"usage: patch_check PATCH.msp");
        return 2;
    }
    const std::wstring problem = patchcheck::CheckPatchPackage(argv[1]);
    if (!problem.empty()) {
        WriteLine(stderr, L"patch_check: " + std::wstring(argv[1]) + L": " + problem);
        return 1;
    }
    WriteLine(stdout, L"patch_check: " + std::wstring(argv[1]) + L": the launcher can use it.");
    return 0;
}
