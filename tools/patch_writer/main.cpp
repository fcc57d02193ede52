// Writes a patch package: an OLE compound file with the installer's patch class.
#include <windows.h>

#include <objbase.h>

namespace {

// {000C1086-0000-0000-C000-000000000046}
const CLSID PatchClass = {0x000C1086, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2)
        return 2;
    if (FAILED(CoInitialize(nullptr)))
        return 1;
    IStorage* root = nullptr;
    HRESULT hr = StgCreateDocfile(argv[1], STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE | STGM_DIRECT, 0, &root);
    if (SUCCEEDED(hr)) {
        hr = root->SetClass(PatchClass);
        root->Release();
    }
    CoUninitialize();
    return SUCCEEDED(hr) ? 0 : 1;
}
