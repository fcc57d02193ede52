// Launcher control: the command line and run modes, the install flow and the
// info mode.
#pragma once

#include <string>

struct RunMode {
    bool installMode = true;
    bool extractMode = false;
    std::wstring extractPath; // empty: extract to a fresh temporary name
    bool infoMode = false;
    std::wstring logPath;      // "/log": where the run log goes; empty: no log
    bool exitCodeMode = false; // "/exitcode": the exit code says what happened
};

// The one run mode of the process, written by ParseCommandLine.
extern RunMode TheRunMode;

// Fills TheRunMode and QuietMode from the process's wide command line.
void ParseCommandLine();

// Fills TheRunMode and QuietMode from the given command line text (the program
// path first, as GetCommandLineW gives it).
void ParseCommandLine(const wchar_t* commandLine);

// Install mode: extract the patch, find the target products and apply it.
void InstallServicePack();

// Info mode: show the patch's target products and versions in a box.
void ShowPatchInfo();

// What WinMain does once ModuleInstance is stored; returns the exit code:
// 0, unless "/exitcode" asks for the outcome of the run.
int RunLauncher();

// The same for the given command line (the program path first).
int RunLauncher(const wchar_t* commandLine);
