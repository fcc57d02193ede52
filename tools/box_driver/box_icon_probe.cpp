// box_icon_probe.dll: a hook that the box watcher sets on the thread of a box
// of another process, to learn which icon the box shows. Only the box's own
// process can compare its icon with the system icons (the platform does not
// let another process read an icon), so the hook runs there, tells the icon
// apart and leaves the answer as a window property of the box.
#include "tools/box_driver/box_icon_probe.h"

namespace {

test::BoxIcon MatchOwnIcon(HWND box) {
    for (HWND child = GetWindow(box, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) != SS_ICON)
            continue;
        const HICON icon = reinterpret_cast<HICON>(SendMessageW(child, STM_GETICON, 0, 0));
        if (icon == nullptr)
            return test::BoxIcon::None;
        if (icon == LoadIconW(nullptr, IDI_HAND))
            return test::BoxIcon::Stop;
        if (icon == LoadIconW(nullptr, IDI_QUESTION))
            return test::BoxIcon::Question;
        if (icon == LoadIconW(nullptr, IDI_EXCLAMATION))
            return test::BoxIcon::Exclamation;
        if (icon == LoadIconW(nullptr, IDI_ASTERISK))
            return test::BoxIcon::Information;
        return test::BoxIcon::Unknown;
    }
    return test::BoxIcon::None;
}

} // namespace

extern "C" __declspec(dllexport) LRESULT CALLBACK
    ProbeBoxIcon(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION) {
        const CWPSTRUCT& message = *reinterpret_cast<const CWPSTRUCT*>(lParam);
        if (message.message == WM_NULL && message.wParam == test::IconProbeMarker &&
            message.lParam == static_cast<LPARAM>(test::IconProbeMarker)) {
            const INT_PTR answer = static_cast<INT_PTR>(MatchOwnIcon(message.hwnd)) + 1;
            SetPropW(message.hwnd, test::IconProbeProperty, reinterpret_cast<HANDLE>(answer));
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}
