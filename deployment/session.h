// What the session the launcher runs in offers: a desktop that someone sees.
#pragma once

// True when the process's window station is the visible one of an interactive
// session: a box shown there can be closed by someone. False for a service's
// or a scheduled task's station, for session 0 (which no user sees), and when
// the station cannot be asked.
bool SessionHasVisibleDesktop();
