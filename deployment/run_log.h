// The run log that "/log PATH" asks for: one line per event of the run, for
// whoever deployed the launcher and has to find out later what it did.
//
// Every line is "<local date and time to the millisecond> <text>", UTF-8,
// ending in CRLF, appended to the file. Without an open log nothing is
// written, and a log that cannot be opened or written changes nothing else of
// the run: no call here reports a failure, and the thread's last-error code is
// the same after each call as before it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cwchar>
#include <initializer_list>
#include <string>
#include <type_traits>

// Keeps the thread's last-error code across the scope.
class LastErrorKeeper {
  public:
    LastErrorKeeper() : saved_(GetLastError()) {}
    ~LastErrorKeeper() { SetLastError(saved_); }
    LastErrorKeeper(const LastErrorKeeper&) = delete;
    LastErrorKeeper& operator=(const LastErrorKeeper&) = delete;

  private:
    DWORD saved_;
};

// Opens the log at `path` for appending, creating the file when it does not
// exist; an empty path means no log. Closes any log opened before.
void OpenRunLog(const std::wstring& path);

// Closes the log; later lines are not written.
void CloseRunLog();

bool RunLogIsOpen();

// The path last given to OpenRunLog, also when the file could not be opened.
const std::wstring& RunLogPath();

// Appends one line with the current local time in front of `text`.
void WriteLogLine(const std::wstring& text);

// "2026-12-09 13:46:16.123"
std::wstring FormatLogTime(const SYSTEMTIME& time);

// The path of the installer service's own log of a run logged to `logPath`:
// the full path with ".msi.log" added.
std::wstring InstallerLogPath(const std::wstring& logPath);

// With a run log path, asks the installer service to append its log of every
// message kind to InstallerLogPath() and logs that; nothing otherwise.
void EnableInstallerLog();

// Logs one result message: its ID and the catalogue language its text is
// taken in, and whether quiet mode kept the box back.
void LogMessageBox(UINT id);

// One piece of a log line: a text, referred to and not copied, or an integer.
class LogPart {
  public:
    LogPart(const std::wstring& text) : text_(text.c_str()), length_(text.size()) {}
    LogPart(const wchar_t* text) : text_(text), length_(std::wcslen(text)) {}
    template <typename Number, typename = std::enable_if_t<std::is_integral_v<Number>>>
    LogPart(Number number) : number_(static_cast<std::int64_t>(number)) {}

    void AppendTo(std::wstring& line) const;

  private:
    const wchar_t* text_ = nullptr; // nullptr: the part is number_
    std::size_t length_ = 0;
    std::int64_t number_ = 0;
};

// Writes one line made of `parts`, in order.
void WriteLogParts(std::initializer_list<LogPart> parts);

// Writes one line made of `parts` (texts and integers, in order). Builds
// nothing when no log is open.
template <typename... Parts> void LogLine(const Parts&... parts) {
    if (RunLogIsOpen())
        WriteLogParts({LogPart(parts)...});
}
