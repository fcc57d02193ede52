// Launcher control: the command line and run modes, the install flow and the
// info mode.
#pragma once

#include "deployment/run_settings.h"

#include <string>
#include <vector>

struct RunMode {
    bool installMode = true;
    bool uninstallMode = false; // "/uninstall": the install mode removes the patch instead
    bool extractMode = false;
    std::wstring extractPath; // empty: extract to a fresh temporary name
    bool infoMode = false;
    bool helpMode = false;     // "/?", "/h", "/help": list the switches, do nothing else
    bool silentMode = false;   // "/qn", "/quiet": no box of any kind, no installer interface
    bool noRestart = false;    // "/norestart": never restart the computer
    std::wstring logPath;      // "/log": where the run log goes; empty: no log
    bool exitCodeMode = false; // "/exitcode": the exit code says what happened
    std::vector<std::wstring> ignoredArguments; // arguments that are no switch, for the log
};

// The one run mode of the process, written by ParseCommandLine.
extern RunMode TheRunMode;

// The settings for `mode`, with "/q" given or not, on a session whose desktop
// someone can or cannot see.
RunSettings DecideRunSettings(const RunMode& mode, bool quiet, bool desktopVisible);

// Shows a box of the program's own that is no catalogue message (`what`: "info"
// for "/i", "help" for "/?"), with no owner, and logs that it did; without info
// boxes it logs only why it did not.
void ShowOwnBox(const wchar_t* what, const std::wstring& text, const std::wstring& title,
                UINT style);

// "/?": the box that lists the switches, titled with the program's name (not
// shown without info boxes).
void ShowHelp();

// The text of that box for the program file `programFile` ("PatchLauncher.exe").
std::wstring HelpText(const std::wstring& programFile);

// The path of the program's own module; empty when it cannot be had.
std::wstring ModulePath();

// Fills TheRunMode and QuietMode from the process's wide command line.
void ParseCommandLine();

// Fills TheRunMode and QuietMode from the given command line text (the program
// path first, as GetCommandLineW gives it).
void ParseCommandLine(const wchar_t* commandLine);

// Install mode: extract the patch, find the target products and apply it.
void InstallServicePack();

// Install mode with "/uninstall": extract the patch, find the target products
// and remove it from every one it is applied to, each removal verified.
void RemoveServicePack();

// Info mode: show the patch's target products and versions in a box.
void ShowPatchInfo();

// The patch's product list with every ";" turned into a line feed, except a
// lone ";" left at the very start.
std::wstring ProductLines(std::wstring products);

// The text of the info box: the product lines, the target versions as stored
// and the upgrade version, under their captions.
std::wstring PatchInfoText(const std::wstring& productLines, const std::wstring& targetVersions,
                           const std::wstring& upgradeVersion);

// What WinMain does once ModuleInstance is stored; returns the exit code:
// 0, unless "/exitcode" asks for the outcome of the run.
int RunLauncher();

// The same for the given command line (the program path first).
int RunLauncher(const wchar_t* commandLine);
