// What the box watcher and box_icon_probe.dll agree on: the probe answers a
// WM_NULL carrying the marker in both parameters by setting the property to
// the box's BoxIcon plus 1 (0 being "no answer").
#pragma once

#include "tools/box_driver/box_watcher.h"

namespace test {

constexpr WPARAM IconProbeMarker = 0x426F78; // "Box"
constexpr const wchar_t* IconProbeProperty = L"BoxWatcher.Icon";
constexpr const char* IconProbeProcedure = "ProbeBoxIcon";

} // namespace test
