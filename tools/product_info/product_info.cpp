// product_info.exe {PRODUCTCODE}
//
// Prints what the installer service knows of an installed product: its name,
// version and language, and the patches applied to it, as UTF-8 lines.
#include "tools/process/process.h"

#include <windows.h>

#include <msi.h>

#include <string>

namespace {

void WriteOut(const std::wstring& text) {
    const std::string bytes = test::Narrow(text);
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()),
              &written, nullptr);
}

std::wstring ProductProperty(const wchar_t* product, const wchar_t* property) {
    wchar_t value[1024] = {}; // terminator included
    DWORD length = 1024;
    if (MsiGetProductInfoW(product, property, value, &length) != ERROR_SUCCESS)
        return L"(unknown)";
    return value;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        WriteOut(L"usage: product_info.exe {PRODUCTCODE}\n");
        return 2;
    }
    const wchar_t* product = argv[1];
    WriteOut(L"state: " + std::to_wstring(int(MsiQueryProductStateW(product))) + L"\n");
    WriteOut(L"name: " + ProductProperty(product, L"ProductName") + L"\n");
    WriteOut(L"version: " + ProductProperty(product, L"VersionString") + L"\n");
    WriteOut(L"language: " + ProductProperty(product, L"Language") + L"\n");
    for (DWORD index = 0;; ++index) {
        wchar_t patch[39] = {};        // a GUID in braces, terminator included
        wchar_t transforms[1024] = {}; // terminator included
        DWORD length = 1024;
        if (MsiEnumPatchesW(product, index, patch, transforms, &length) != ERROR_SUCCESS)
            break;
        WriteOut(std::wstring(L"patch: ") + patch + L"\n");
    }
    return 0;
}
