// Launcher control: the command line and run modes, the install flow and the
// info mode.
#pragma once

#include <string>

struct RunMode {
    bool installMode = true;
    bool extractMode = false;
    std::wstring extractPath; // empty: extract to a fresh temporary name
    bool infoMode = false;
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

// What WinMain does once ModuleInstance is stored; returns the exit code.
int RunLauncher();
