// Program-wide state shared by every folder: set once at start-up or by the
// install flow just before it reports, read by the operations that need it.
#pragma once

#include <windows.h>

#include <string>

// The program's own module: the embedded patch and the message catalogue live here.
extern HINSTANCE ModuleInstance;

// Set by "/q": result messages are not shown.
extern bool QuietMode;

// Name of the product the install flow is working on; fills "%s" in messages.
extern std::wstring CurrentProductName;
