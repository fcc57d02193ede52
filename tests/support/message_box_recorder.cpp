#include "tests/support/message_box_recorder.h"

#include <gtest/gtest.h>

namespace test {

namespace {

using MessageBoxFunction = int(WINAPI*)(HWND, LPCWSTR, LPCWSTR, UINT);

std::vector<RecordedBox> TheBoxes;

int WINAPI RecordMessageBox(HWND owner, LPCWSTR text, LPCWSTR title, UINT style) {
    RecordedBox box;
    box.owner = owner;
    box.text = text != nullptr ? text : L"";
    box.title = title != nullptr ? title : L"";
    box.style = style;
    TheBoxes.push_back(box);
    return IDOK;
}

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

void* RealMessageBox() {
    return reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "MessageBoxW"));
}

} // namespace

MessageBoxRecorder::MessageBoxRecorder() {
    TheBoxes.clear();
    void** slot = FindImportSlot(RealMessageBox());
    if (slot == nullptr)
        ADD_FAILURE() << "this executable does not import MessageBoxW";
    else if (!WriteSlot(slot, reinterpret_cast<void*>(&RecordMessageBox)))
        ADD_FAILURE() << "the import of MessageBoxW cannot be redirected";
}

MessageBoxRecorder::~MessageBoxRecorder() {
    if (void** slot = FindImportSlot(reinterpret_cast<void*>(&RecordMessageBox)))
        WriteSlot(slot, RealMessageBox());
}

const std::vector<RecordedBox>& MessageBoxRecorder::boxes() const {
    return TheBoxes;
}

} // namespace test
