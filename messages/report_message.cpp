#include "common/program_state.h"
#include "messages/messages.h"

#include <algorithm>
#include <vector>

namespace {

using messages::StyleInformation;
using messages::StyleNoIcon;
using messages::StyleStop;

// wsprintfW writes at most 1024 characters and the terminator.
constexpr std::size_t FormattedCapacityFloor = 1025;

} // namespace

int LoadCatalogueText(HINSTANCE module, UINT id, std::wstring& text, int capacity) {
    // LoadStringW with a capacity of 0 stores a pointer into the resource in
    // place of a copy; nothing fits a capacity below 1 anyway.
    if (capacity < 1) {
        text.clear();
        return 0;
    }
    std::vector<wchar_t> buffer(capacity, L'\0'); // terminator included
    const int loaded = LoadStringW(module, id, buffer.data(), capacity);
    text = loaded > 0 ? std::wstring(buffer.data()) : std::wstring();
    return loaded;
}

void ReportMessage(UINT id) {
    if (QuietMode)
        return;
    const DWORD lastError = GetLastError();
    std::wstring title = L"Error";
    std::wstring format;
    LoadCatalogueText(ModuleInstance, id, format, messages::CatalogueCapacity);

    std::vector<wchar_t> text(std::max(format.size() + 512, FormattedCapacityFloor), L'\0');
    UINT titleId = 0;
    UINT style = StyleNoIcon;
    switch (id) {
    case messages::InstallFailed:
        wsprintfW(text.data(), format.c_str(), static_cast<int>(lastError));
        titleId = messages::TitleError;
        style = StyleStop;
        break;
    case messages::PatchApplied:
        wsprintfW(text.data(), format.c_str(), CurrentProductName.c_str());
        titleId = messages::TitleSuccess;
        style = StyleInformation;
        break;
    case messages::AlreadyUpToDate:
        wsprintfW(text.data(), format.c_str(), CurrentProductName.c_str());
        titleId = messages::TitleUnnecessary;
        style = StyleStop;
        break;
    case messages::VersionNotTargeted:
        wsprintfW(text.data(), format.c_str(), CurrentProductName.c_str());
        titleId = messages::TitleError;
        style = StyleStop;
        break;
    case messages::NoProductFound:
    case messages::CommandLineIncorrect:
    case messages::PatchListMissing:
        wsprintfW(text.data(), format.c_str());
        titleId = messages::TitleError;
        style = StyleStop;
        break;
    default:
        break; // no text, title "Error", no icon
    }
    if (titleId != 0)
        LoadCatalogueText(ModuleInstance, titleId, title, messages::CatalogueCapacity);
    MessageBoxW(nullptr, text.data(), title.c_str(), style);
}
