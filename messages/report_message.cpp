#include "common/program_state.h"
#include "messages/languages.h"
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

// The string table is asked for in the thread locale's catalogue language
// with FindResourceExW. LoadStringW would leave the language to the loader,
// which on Windows follows the thread's UI language, not its locale.
int LoadCatalogueText(HINSTANCE module, UINT id, std::wstring& text, int capacity) {
    text.clear();
    if (capacity < 1)
        return 0; // not even room for the terminator
    const LANGID language = messages::CatalogueLanguageFor(GetThreadLocale());
    const WORD block = static_cast<WORD>(LOWORD(id) / messages::StringsPerBlock + 1);
    const HRSRC found = FindResourceExW(module, RT_STRING, MAKEINTRESOURCEW(block), language);
    if (found == nullptr)
        return 0;
    const HGLOBAL loaded = LoadResource(module, found);
    if (loaded == nullptr)
        return 0;
    const auto* entry = static_cast<const wchar_t*>(LockResource(loaded));
    if (entry == nullptr)
        return 0;
    // The block: for each of its 16 strings a count, then that many characters.
    const wchar_t* const end = entry + SizeofResource(module, found) / sizeof(wchar_t);
    for (UINT slot = LOWORD(id) % messages::StringsPerBlock; slot > 0; --slot) {
        if (entry == end || *entry >= end - entry)
            return 0; // a block cut short holds no further strings
        entry += 1 + *entry;
    }
    if (entry == end || *entry >= end - entry)
        return 0;
    const std::size_t length =
        std::min<std::size_t>(*entry, static_cast<std::size_t>(capacity) - 1);
    text.assign(entry + 1, length);
    const std::size_t nul = text.find(L'\0'); // the text ends at its first NUL
    if (nul != std::wstring::npos)
        text.erase(nul);
    return static_cast<int>(length);
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
    case messages::PatchRemoved:
    case messages::NotInstalledOn:
        wsprintfW(text.data(), format.c_str(), CurrentProductName.c_str());
        titleId = messages::TitleRemoval;
        style = StyleInformation;
        break;
    case messages::NothingToRemove:
        wsprintfW(text.data(), format.c_str());
        titleId = messages::TitleRemoval;
        style = StyleInformation;
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
