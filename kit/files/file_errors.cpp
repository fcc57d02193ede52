#include "kit/files/file_errors.h"

#include "kit/files/long_path.h"

namespace kit {

namespace {

// The platform's text for `error`, without its closing full stop and line end;
// empty when it has none.
std::wstring SystemText(DWORD error) {
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text = length > 0 && buffer != nullptr ? std::wstring(buffer, length) : L"";
    LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ' ||
                             text.back() == L'.'))
        text.pop_back();
    return text;
}

std::wstring Words(DWORD error, const std::wstring& path) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
        return L"it does not exist";
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
        return L"its folder does not exist";
    case ERROR_ACCESS_DENIED: {
        const DWORD attributes =
            path.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(LongPathForm(path).c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
            return L"it is a folder";
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0)
            return L"it is read-only";
        return L"access is denied";
    }
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return L"it is in use by another program";
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return L"the disk is full";
    case ERROR_FILENAME_EXCED_RANGE:
        return L"the path is too long";
    case ERROR_INVALID_NAME:
        return L"the name is not valid";
    case ERROR_WRITE_PROTECT:
        return L"the disk is write-protected";
    default: {
        const std::wstring text = SystemText(error);
        return text.empty() ? L"it cannot be used" : text;
    }
    }
}

} // namespace

std::wstring ErrorWords(DWORD error, const std::wstring& path) {
    return Words(error, path) + L" (error " + std::to_wstring(error) + L")";
}

} // namespace kit
