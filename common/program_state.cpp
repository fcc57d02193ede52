#include "common/program_state.h"

HINSTANCE ModuleInstance = nullptr;
bool QuietMode = false;
std::wstring CurrentProductName;
