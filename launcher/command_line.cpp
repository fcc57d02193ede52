#include "launcher/launcher.h"
#include "launcher/program_state.h"

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

// Owns the vector CommandLineToArgvW allocates.
class ArgumentVector {
  public:
    explicit ArgumentVector(const wchar_t* commandLine)
        : arguments_(CommandLineToArgvW(commandLine, &count_)) {
        if (arguments_ == nullptr)
            count_ = 0;
    }
    ~ArgumentVector() {
        if (arguments_ != nullptr)
            GlobalFree(arguments_);
    }
    ArgumentVector(const ArgumentVector&) = delete;
    ArgumentVector& operator=(const ArgumentVector&) = delete;

    int count() const { return count_; }
    const wchar_t* operator[](int index) const { return arguments_[index]; }

  private:
    int count_ = 0;
    wchar_t** arguments_;
};

void ParseArguments(const ArgumentVector& arguments) {
    for (int index = 1; index < arguments.count(); ++index) {
        const wchar_t* argument = arguments[index];
        if (IsSwitch(argument, L"/q")) {
            QuietMode = true;
        } else if (IsSwitch(argument, L"/e")) {
            TheRunMode.extractMode = true;
            TheRunMode.installMode = false;
            if (index + 1 < arguments.count()) {
                ++index;
                try {
                    TheRunMode.extractPath = arguments[index];
                } catch (const std::bad_alloc&) {
                    return;
                } catch (const std::length_error&) {
                    return;
                }
            }
        } else if (IsSwitch(argument, L"/i")) {
            TheRunMode.installMode = false;
            TheRunMode.infoMode = true;
            return;
        } else if (IsSwitch(argument, L"/pi")) {
            TheRunMode.installMode = false;
            TheRunMode.infoMode = false;
            return;
        }
    }
}

} // namespace

void ParseCommandLine(const wchar_t* commandLine) {
    ArgumentVector arguments(commandLine);
    QuietMode = false;
    TheRunMode.extractMode = false;
    TheRunMode.extractPath.clear();
    TheRunMode.installMode = true;
    TheRunMode.infoMode = false;
    ParseArguments(arguments);
}

void ParseCommandLine() {
    ParseCommandLine(GetCommandLineW());
}
