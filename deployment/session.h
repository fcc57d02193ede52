// What the session the launcher runs in offers: a desktop that someone sees.
#pragma once

// Why no one can see and close a box of this process, or nullptr when someone
// can: the process's window station is not the visible one of an interactive
// session (a service's or a scheduled task's), it is session 0 (which no user
// sees), the session is not connected to a screen (a disconnected remote
// session), or the station cannot be asked.
const wchar_t* WhyNoOneSeesTheDesktop();
