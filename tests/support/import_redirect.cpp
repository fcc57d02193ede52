#include "tests/support/import_redirect.h"

#include <gtest/gtest.h>

namespace test {

namespace {

// The import-address-table slot of this executable that holds `target`.
void** FindImportSlot(void* target) {
    auto* base = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (directory.VirtualAddress == 0)
        return nullptr;
    for (auto* descriptor =
             reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
         descriptor->Name != 0; ++descriptor) {
        for (auto* slot = reinterpret_cast<void**>(base + descriptor->FirstThunk); *slot != nullptr;
             ++slot) {
            if (*slot == target)
                return slot;
        }
    }
    return nullptr;
}

bool WriteSlot(void** slot, void* value) {
    DWORD protection = 0;
    if (!VirtualProtect(slot, sizeof(void*), PAGE_READWRITE, &protection))
        return false;
    *slot = value;
    DWORD ignored = 0;
    VirtualProtect(slot, sizeof(void*), protection, &ignored);
    return true;
}

} // namespace

ImportRedirect::ImportRedirect(const wchar_t* module, const char* function, void* standIn) {
    HMODULE exporter = GetModuleHandleW(module);
    original_ =
        exporter != nullptr ? reinterpret_cast<void*>(GetProcAddress(exporter, function)) : nullptr;
    slot_ = original_ != nullptr ? FindImportSlot(original_) : nullptr;
    if (slot_ == nullptr) {
        ADD_FAILURE() << "this executable does not import " << function;
    } else if (!WriteSlot(slot_, standIn)) {
        ADD_FAILURE() << "the import of " << function << " cannot be redirected";
        slot_ = nullptr;
    }
}

ImportRedirect::~ImportRedirect() {
    if (slot_ != nullptr)
        WriteSlot(slot_, original_);
}

} // namespace test
