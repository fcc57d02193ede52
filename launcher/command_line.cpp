#include "common/holder.h"
#include "common/program_state.h"
#include "launcher/launcher.h"

#include <windows.h>

#include <shellapi.h>

#include <new>
#include <stdexcept>

RunMode TheRunMode;

namespace {

wchar_t ToLowerAscii(wchar_t c) {
    return (c >= L'A' && c <= L'Z') ? wchar_t(c - L'A' + L'a') : c;
}

// Whole-argument comparison, case-insensitive for A-Z only.
bool IsSwitch(const wchar_t* argument, const wchar_t* lowerSwitch) {
    for (; *argument && *lowerSwitch; ++argument, ++lowerSwitch) {
        if (ToLowerAscii(*argument) != *lowerSwitch)
            return false;
    }
    return *argument == L'\0' && *lowerSwitch == L'\0';
}

// The arguments of a command line, split by the platform; none when the
// line cannot be split.
class Arguments {
  public:
    explicit Arguments(const wchar_t* commandLine)
        : vector_(CommandLineToArgvW(commandLine, &count_)) {
        if (!vector_)
            count_ = 0;
    }

    int count() const { return count_; }
    const wchar_t* operator[](int index) const { return vector_.get()[index]; }

  private:
    int count_ = 0;
    ArgumentVector vector_;
};

// Stores a switch's path argument; false when storing it ran out of memory
// (or length), which ends parsing with `target` as it was.
bool StorePath(std::wstring& target, const wchar_t* argument) {
    try {
        target = argument;
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
}

// Notes an argument that is no switch for the log; one that cannot be kept
// (out of memory) is ignored without a note.
void NoteIgnored(const wchar_t* argument) {
    try {
        TheRunMode.ignoredArguments.emplace_back(argument);
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
}

void ParseArguments(const Arguments& arguments) {
    for (int index = 1; index < arguments.count(); ++index) {
        const wchar_t* argument = arguments[index];
        if (IsSwitch(argument, L"/q")) {
            QuietMode = true;
        } else if (IsSwitch(argument, L"/qn") || IsSwitch(argument, L"/quiet")) {
            QuietMode = true;
            TheRunMode.silentMode = true;
        } else if (IsSwitch(argument, L"/uninstall")) {
            TheRunMode.uninstallMode = true;
        } else if (IsSwitch(argument, L"/norestart")) {
            TheRunMode.noRestart = true;
        } else if (IsSwitch(argument, L"/e")) {
            TheRunMode.extractMode = true;
            TheRunMode.installMode = false;
            if (index + 1 < arguments.count() &&
                !StorePath(TheRunMode.extractPath, arguments[++index]))
                return;
        } else if (IsSwitch(argument, L"/log")) {
            // The next argument is the path, whatever it holds; "/log" as
            // the last argument gives no log.
            if (index + 1 >= arguments.count()) {
                TheRunMode.logPath.clear();
                continue;
            }
            if (!StorePath(TheRunMode.logPath, arguments[++index]))
                return;
        } else if (IsSwitch(argument, L"/exitcode")) {
            TheRunMode.exitCodeMode = true;
        } else if (IsSwitch(argument, L"/i")) {
            TheRunMode.installMode = false;
            TheRunMode.infoMode = true;
            return;
        } else if (IsSwitch(argument, L"/pi")) {
            TheRunMode.installMode = false;
            TheRunMode.infoMode = false;
            return;
        } else if (IsSwitch(argument, L"/?") || IsSwitch(argument, L"/h") ||
                   IsSwitch(argument, L"/help")) {
            // Asking for help never installs, extracts or shows anything else.
            TheRunMode.helpMode = true;
            TheRunMode.installMode = false;
            TheRunMode.uninstallMode = false;
            TheRunMode.extractMode = false;
            TheRunMode.infoMode = false;
            return;
        } else {
            NoteIgnored(argument);
        }
    }
}

} // namespace

void ParseCommandLine(const wchar_t* commandLine) {
    const Arguments arguments(commandLine);
    QuietMode = false;
    TheRunMode.extractMode = false;
    TheRunMode.extractPath.clear();
    TheRunMode.installMode = true;
    TheRunMode.uninstallMode = false;
    TheRunMode.infoMode = false;
    TheRunMode.helpMode = false;
    TheRunMode.silentMode = false;
    TheRunMode.noRestart = false;
    TheRunMode.logPath.clear();
    TheRunMode.exitCodeMode = false;
    TheRunMode.ignoredArguments.clear();
    ParseArguments(arguments);
}

void ParseCommandLine() {
    ParseCommandLine(GetCommandLineW());
}
