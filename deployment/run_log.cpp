#include "deployment/run_log.h"

#include "common/decimal.h"
#include "common/growing_text.h"
#include "common/holder.h"
#include "common/program_state.h"
#include "deployment/run_settings.h"
#include "installer/installer.h"
#include "messages/languages.h"

#include <algorithm>
#include <vector>

namespace {

FileHandle TheLogFile;
std::wstring TheLogPath;

// The UTF-8 bytes of `text`; none when it cannot be converted.
std::vector<char> ToUtf8(const std::wstring& text) {
    if (text.empty())
        return {};
    const int size = static_cast<int>(text.size());
    const int needed =
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), size, nullptr, 0, nullptr, nullptr);
    if (needed <= 0)
        return {};
    std::vector<char> bytes(static_cast<std::size_t>(needed), '\0');
    const int converted =
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), size, bytes.data(), needed, nullptr, nullptr);
    return converted == needed ? bytes : std::vector<char>();
}

std::wstring TwoDigits(WORD value) {
    return DecimalText(value, 2);
}

// Append-only access: every write goes to the end, also when another run
// appends to the same file at the same time.
FileHandle OpenForAppending(const std::wstring& path) {
    return FileHandle(CreateFileW(path.c_str(), FILE_APPEND_DATA,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
}

// Makes the folders of the file `path` that are missing, outermost first.
// Prefixes that are no folder to make (a drive, a server) just fail; the open
// that follows tells whether the folder is there.
void MakeFoldersFor(const std::wstring& path) {
    std::wstring full = path;
    ReadFullPath(path, full);
    for (std::wstring::size_type separator = full.find_first_of(L"\\/", 1);
         separator != std::wstring::npos; separator = full.find_first_of(L"\\/", separator + 1))
        CreateDirectoryW(full.substr(0, separator).c_str(), nullptr);
}

} // namespace

void OpenRunLog(const std::wstring& path) {
    const LastErrorKeeper keeper;
    TheLogFile.reset();
    TheLogPath = path;
    if (path.empty())
        return;
    TheLogFile = OpenForAppending(path);
    if (!TheLogFile && GetLastError() == ERROR_PATH_NOT_FOUND) {
        MakeFoldersFor(path);
        TheLogFile = OpenForAppending(path);
    }
}

void CloseRunLog() {
    const LastErrorKeeper keeper;
    TheLogFile.reset();
    TheLogPath.clear();
}

bool RunLogIsOpen() {
    return static_cast<bool>(TheLogFile);
}

const std::wstring& RunLogPath() {
    return TheLogPath;
}

std::wstring FormatLogTime(const SYSTEMTIME& time) {
    const std::wstring milliseconds = DecimalText(time.wMilliseconds, 3);
    return DecimalText(time.wYear) + L"-" + TwoDigits(time.wMonth) + L"-" + TwoDigits(time.wDay) +
           L" " + TwoDigits(time.wHour) + L":" + TwoDigits(time.wMinute) + L":" +
           TwoDigits(time.wSecond) + L"." + milliseconds;
}

void WriteLogLine(const std::wstring& text) {
    if (!TheLogFile)
        return;
    const LastErrorKeeper keeper;
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    std::wstring line = FormatLogTime(now) + L" " + text;
    // One event, one line, whatever the texts it quotes hold.
    for (wchar_t& c : line)
        if (c == L'\r' || c == L'\n')
            c = L' ';
    line += L"\r\n";
    const std::vector<char> bytes = ToUtf8(line);
    DWORD written = 0;
    WriteFile(TheLogFile.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

void LogPart::AppendTo(std::wstring& line) const {
    if (text_ != nullptr)
        line.append(text_, length_);
    else
        line += SignedDecimalText(number_);
}

void WriteLogParts(std::initializer_list<LogPart> parts) {
    if (!TheLogFile)
        return;
    const LastErrorKeeper keeper;
    std::wstring line;
    for (const LogPart& part : parts)
        part.AppendTo(line);
    WriteLogLine(line);
}

std::wstring InstallerLogPath(const std::wstring& logPath) {
    const LastErrorKeeper keeper;
    const std::wstring path = logPath + L".msi.log";
    // The service may write from another process with another current
    // directory, so it gets a full path.
    std::wstring full;
    if (!ReadFullPath(path, full))
        return path;
    return full;
}

void EnableInstallerLog() {
    if (TheLogPath.empty())
        return;
    const LastErrorKeeper keeper;
    const std::wstring path = InstallerLogPath(TheLogPath);
    const UINT result = installer::MsiEnableLogW(installer::LogEveryMessageKind, path.c_str(),
                                                 installer::LogAppendFlushed);
    LogLine(L"installer log: ", path, L" (MsiEnableLogW returned ", result, L")");
}

void LogMessageBox(UINT id) {
    // The language of the text itself: the catalogue's nearest to the locale.
    const LANGID language = messages::CatalogueLanguageFor(GetThreadLocale());
    if (QuietMode)
        LogLine(L"message ", id, L" in language ", language, L" not shown: ", WhyBoxesAreOff());
    else
        LogLine(L"message ", id, L" shown in language ", language);
}
