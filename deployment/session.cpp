#include "deployment/session.h"

#include "common/holder.h"

#include <windows.h>

#include <wtsapi32.h>

namespace {

// Memory that a WTSQuery... call allocated.
struct WtsMemoryTraits {
    using Type = LPWSTR;
    static Type None() { return nullptr; }
    static bool Close(Type value) {
        WTSFreeMemory(value);
        return true;
    }
};
using WtsMemory = Holder<WtsMemoryTraits>;

// False only when the session is known not to be active: a locked console
// is active, a disconnected remote session is not. Where the state cannot be
// had, the window station decides alone.
bool SessionIsActive() {
    WtsMemory buffer;
    DWORD bytes = 0;
    if (!WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, WTS_CURRENT_SESSION,
                                     WTSConnectState, buffer.put(), &bytes) ||
        !buffer || bytes < sizeof(int))
        return true;
    return *reinterpret_cast<const int*>(buffer.get()) == WTSActive;
}

} // namespace

const wchar_t* WhyNoOneSeesTheDesktop() {
    USEROBJECTFLAGS flags = {};
    DWORD needed = 0;
    if (!GetUserObjectInformationW(GetProcessWindowStation(), UOI_FLAGS, &flags, sizeof flags,
                                   &needed))
        return L"the window station cannot be asked";
    if ((flags.dwFlags & WSF_VISIBLE) == 0)
        return L"the window station is not visible";
    // Session 0 holds the services; since Windows Vista no user sees it, even
    // through its interactive window station.
    DWORD session = 0;
    if (!ProcessIdToSessionId(GetCurrentProcessId(), &session) || session == 0)
        return L"session 0";
    if (!SessionIsActive())
        return L"the session is not connected to a screen";
    return nullptr;
}
