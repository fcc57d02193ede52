#include "deployment/session.h"

#include <windows.h>

bool SessionHasVisibleDesktop() {
    USEROBJECTFLAGS flags = {};
    DWORD needed = 0;
    if (!GetUserObjectInformationW(GetProcessWindowStation(), UOI_FLAGS, &flags, sizeof flags,
                                   &needed))
        return false;
    if ((flags.dwFlags & WSF_VISIBLE) == 0)
        return false;
    // Session 0 holds the services; since Windows Vista no user sees it, even
    // through its interactive window station.
    DWORD session = 0;
    return ProcessIdToSessionId(GetCurrentProcessId(), &session) && session != 0;
}
