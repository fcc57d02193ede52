#include "tools/box_driver/box_watcher.h"

#include "tools/box_driver/box_icon_probe.h"
#include "tools/process/process.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace test {

struct BoxWatcher::State {
    explicit State(DWORD id) : processId(id) {}

    struct OpenBox {
        HWND window = nullptr;
        DWORD pressedAt = 0; // GetTickCount() of the last press
    };

    const DWORD processId;
    std::atomic<bool> stop{false};
    std::mutex lock; // guards boxes
    std::condition_variable boxAdded;
    std::vector<ObservedBox> boxes;
    std::vector<OpenBox> open; // read and pressed, not yet gone; the watcher thread's own
};

namespace {

constexpr DWORD MessageTimeoutMilliseconds = 2000; // for a message to a box of another process
constexpr DWORD PressAgainMilliseconds = 1000;     // a box still open this long is pressed again
constexpr DWORD ScanIntervalMilliseconds = 10;

std::wstring ReadClassName(HWND window) {
    wchar_t name[256] = {}; // longest class name plus the terminator
    GetClassNameW(window, name, 256);
    return name;
}

// The window's text through WM_GETTEXT, of any length, also from another process.
std::wstring ReadWindowText(HWND window) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG,
                             MessageTimeoutMilliseconds, &length))
        return std::wstring();
    std::vector<wchar_t> text(length + 1, L'\0'); // terminator included
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                             SMTO_ABORTIFHUNG, MessageTimeoutMilliseconds, &copied))
        return std::wstring();
    return std::wstring(text.data());
}

std::vector<HWND> ListChildren(HWND parent) {
    std::vector<HWND> children;
    for (HWND child = GetWindow(parent, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT))
        children.push_back(child);
    return children;
}

// The pixels and mask of an icon as 32-bit rows, for comparing two icons.
std::vector<std::uint8_t> ReadIconImage(HICON icon) {
    ICONINFO info = {};
    if (!GetIconInfo(icon, &info))
        return {};
    std::vector<std::uint8_t> image;
    HDC screen = GetDC(nullptr);
    for (HBITMAP bitmap : {info.hbmColor, info.hbmMask}) {
        if (bitmap == nullptr)
            continue;
        BITMAP shape = {};
        GetObjectW(bitmap, sizeof shape, &shape);
        BITMAPINFO format = {};
        format.bmiHeader.biSize = sizeof format.bmiHeader;
        format.bmiHeader.biWidth = shape.bmWidth;
        format.bmiHeader.biHeight = shape.bmHeight;
        format.bmiHeader.biPlanes = 1;
        format.bmiHeader.biBitCount = 32;
        format.bmiHeader.biCompression = BI_RGB;
        std::vector<std::uint8_t> bits(static_cast<std::size_t>(shape.bmWidth) * 4 *
                                           static_cast<std::size_t>(std::max(0L, shape.bmHeight)),
                                       0);
        if (!bits.empty())
            GetDIBits(screen, bitmap, 0, shape.bmHeight, bits.data(), &format, DIB_RGB_COLORS);
        image.insert(image.end(), bits.begin(), bits.end());
    }
    ReleaseDC(nullptr, screen);
    if (info.hbmColor != nullptr)
        DeleteObject(info.hbmColor);
    if (info.hbmMask != nullptr)
        DeleteObject(info.hbmMask);
    return image;
}

struct SystemIcon {
    BoxIcon kind;
    LPCWSTR resource;
};
const SystemIcon SystemIcons[] = {{BoxIcon::Stop, IDI_HAND},
                                  {BoxIcon::Question, IDI_QUESTION},
                                  {BoxIcon::Exclamation, IDI_EXCLAMATION},
                                  {BoxIcon::Information, IDI_ASTERISK}};

// Which system icon `shown` is: the same handle (a box of this process), or
// else the same image (when the platform lets this process read the icon).
BoxIcon MatchIcon(HICON shown) {
    if (shown == nullptr)
        return BoxIcon::None;
    for (const SystemIcon& icon : SystemIcons)
        if (LoadIconW(nullptr, icon.resource) == shown)
            return icon.kind;
    const std::vector<std::uint8_t> image = ReadIconImage(shown);
    if (image.empty())
        return BoxIcon::Unknown;
    for (const SystemIcon& icon : SystemIcons)
        if (ReadIconImage(LoadIconW(nullptr, icon.resource)) == image)
            return icon.kind;
    return BoxIcon::Unknown;
}

// box_icon_probe.dll: next to the running program, or where the build put it.
HMODULE LoadIconProbe() {
    wchar_t program[MAX_PATH] = {}; // terminator included
    GetModuleFileNameW(nullptr, program, MAX_PATH);
    std::wstring besideProgram = program;
    besideProgram.erase(besideProgram.find_last_of(L'\\') + 1);
    besideProgram += L"box_icon_probe.dll";
    if (HMODULE probe = LoadLibraryW(besideProgram.c_str()))
        return probe;
    // The build's path is a Unix one; Wine's drive Z: is the Unix root.
    std::wstring built = L"Z:" BOX_ICON_PROBE_DLL;
    std::replace(built.begin(), built.end(), L'/', L'\\');
    return LoadLibraryW(built.c_str());
}

// Asks the box's own thread, through box_icon_probe.dll, which icon it shows.
BoxIcon ProbeIcon(HWND box) {
    static const HMODULE probe = LoadIconProbe();
    const HOOKPROC procedure =
        probe != nullptr ? reinterpret_cast<HOOKPROC>(
                               reinterpret_cast<void*>(GetProcAddress(probe, IconProbeProcedure)))
                         : nullptr;
    if (procedure == nullptr)
        return BoxIcon::Unknown;
    HHOOK hook =
        SetWindowsHookExW(WH_CALLWNDPROC, procedure, probe, GetWindowThreadProcessId(box, nullptr));
    if (hook == nullptr)
        return BoxIcon::Unknown;
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(box, WM_NULL, IconProbeMarker, static_cast<LPARAM>(IconProbeMarker),
                        SMTO_ABORTIFHUNG, MessageTimeoutMilliseconds, &ignored);
    UnhookWindowsHookEx(hook);
    const INT_PTR answer = reinterpret_cast<INT_PTR>(GetPropW(box, IconProbeProperty));
    if (answer < 1 || answer > static_cast<INT_PTR>(BoxIcon::Unknown) + 1)
        return BoxIcon::Unknown;
    return static_cast<BoxIcon>(answer - 1);
}

BoxIcon ReadIcon(HWND box) {
    for (HWND child : ListChildren(box)) {
        if (ReadClassName(child) != L"Static" ||
            (GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) != SS_ICON)
            continue;
        DWORD_PTR icon = 0;
        if (!SendMessageTimeoutW(child, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG,
                                 MessageTimeoutMilliseconds, &icon))
            return BoxIcon::Unknown;
        const BoxIcon kind = MatchIcon(reinterpret_cast<HICON>(icon));
        if (kind != BoxIcon::Unknown)
            return kind;
        DWORD owner = 0;
        GetWindowThreadProcessId(box, &owner);
        return owner == GetCurrentProcessId() ? kind : ProbeIcon(box);
    }
    return BoxIcon::None;
}

ObservedBox ReadBox(HWND box, DWORD processId) {
    ObservedBox observed;
    observed.processId = processId;
    observed.title = ReadWindowText(box);
    observed.style = GetWindowLongW(box, GWL_STYLE);
    observed.exStyle = GetWindowLongW(box, GWL_EXSTYLE);
    observed.topmost = (observed.exStyle & WS_EX_TOPMOST) != 0;
    observed.foreground = GetForegroundWindow() == box;
    observed.owned = GetWindow(box, GW_OWNER) != nullptr;
    observed.icon = ReadIcon(box);
    for (HWND child : ListChildren(box)) {
        const int id = GetDlgCtrlID(child);
        if (id == 0xFFFF && ReadClassName(child) == L"Static")
            observed.text = ReadWindowText(child);
        else if (ReadClassName(child) == L"Button")
            observed.buttons.push_back({id, ReadWindowText(child)});
    }
    return observed;
}

// Presses OK, or the one button of a box without OK, without waiting for the
// box's thread.
void PressOk(HWND box) {
    HWND button = GetDlgItem(box, IDOK);
    int id = IDOK;
    if (button == nullptr) {
        for (HWND child : ListChildren(box)) {
            if (ReadClassName(child) == L"Button") {
                button = child;
                id = GetDlgCtrlID(child);
                break;
            }
        }
    }
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
}

struct Candidates {
    DWORD processId;
    std::vector<HWND> boxes;
};

BOOL CALLBACK CollectBox(HWND window, LPARAM parameter) {
    Candidates& candidates = *reinterpret_cast<Candidates*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == candidates.processId && ReadClassName(window) == L"#32770")
        candidates.boxes.push_back(window);
    return TRUE;
}

void ScanBoxes(BoxWatcher::State& state) {
    auto& open = state.open;
    open.erase(
        std::remove_if(open.begin(), open.end(),
                       [](const BoxWatcher::State::OpenBox& box) { return !IsWindow(box.window); }),
        open.end());
    Candidates candidates{state.processId, {}};
    EnumWindows(CollectBox, reinterpret_cast<LPARAM>(&candidates));
    for (HWND box : candidates.boxes) {
        auto known =
            std::find_if(open.begin(), open.end(), [box](const BoxWatcher::State::OpenBox& seen) {
                return seen.window == box;
            });
        if (known != open.end()) {
            if (GetTickCount() - known->pressedAt >= PressAgainMilliseconds) {
                PressOk(box);
                known->pressedAt = GetTickCount();
            }
            continue;
        }
        if (!IsWindowVisible(box))
            continue; // still being laid out
        ObservedBox observed = ReadBox(box, state.processId);
        PressOk(box);
        open.push_back({box, GetTickCount()});
        {
            std::lock_guard<std::mutex> guard(state.lock);
            state.boxes.push_back(std::move(observed));
        }
        state.boxAdded.notify_all();
    }
}

void WatchBoxes(std::shared_ptr<BoxWatcher::State> state) {
    while (!state->stop) {
        ScanBoxes(*state);
        Sleep(ScanIntervalMilliseconds);
    }
}

std::string EscapeLine(const std::wstring& text) {
    std::wstring escaped;
    for (wchar_t c : text) {
        if (c == L'\n')
            escaped += L"\\n";
        else if (c == L'\r')
            escaped += L"\\r";
        else if (c == L'\\')
            escaped += L"\\\\";
        else
            escaped += c;
    }
    return Narrow(escaped);
}

std::string Hex(LONG value) {
    char digits[16] = {}; // "0x" and eight digits, terminator included
    std::snprintf(digits, sizeof digits, "0x%lx", static_cast<unsigned long>(value));
    return digits;
}

} // namespace

const char* BoxIconName(BoxIcon icon) {
    switch (icon) {
    case BoxIcon::None:
        return "none";
    case BoxIcon::Stop:
        return "stop";
    case BoxIcon::Question:
        return "question";
    case BoxIcon::Exclamation:
        return "exclamation";
    case BoxIcon::Information:
        return "information";
    case BoxIcon::Unknown:
        break;
    }
    return "unknown";
}

BoxWatcher::BoxWatcher(DWORD processId)
    : state_(std::make_shared<State>(processId)), thread_(WatchBoxes, state_) {}

BoxWatcher::~BoxWatcher() {
    state_->stop = true;
    if (thread_.joinable())
        thread_.join();
}

bool BoxWatcher::WaitForBoxes(std::size_t count, DWORD milliseconds) {
    std::unique_lock<std::mutex> guard(state_->lock);
    return state_->boxAdded.wait_for(guard, std::chrono::milliseconds(milliseconds),
                                     [&] { return state_->boxes.size() >= count; });
}

std::vector<ObservedBox> BoxWatcher::Finish() {
    state_->stop = true;
    if (thread_.joinable())
        thread_.join();
    std::lock_guard<std::mutex> guard(state_->lock);
    return std::move(state_->boxes);
}

WatchedRun RunWatchingBoxes(const std::wstring& commandLine, const std::wstring& workingDirectory,
                            const std::vector<std::wstring>& environment,
                            DWORD timeoutMilliseconds) {
    std::unique_ptr<BoxWatcher> watcher;
    const ProcessResult process = RunProcess(
        commandLine, workingDirectory, timeoutMilliseconds, environment,
        [&watcher](DWORD processId) { watcher = std::make_unique<BoxWatcher>(processId); });
    WatchedRun run;
    run.started = process.started;
    run.timedOut = process.timedOut;
    run.exitCode = process.exitCode;
    if (watcher)
        run.boxes = watcher->Finish();
    return run;
}

std::string DescribeBox(const ObservedBox& box) {
    std::string lines;
    lines += "title: " + EscapeLine(box.title) + "\n";
    lines += "text: " + EscapeLine(box.text) + "\n";
    lines += std::string("icon: ") + BoxIconName(box.icon) + "\n";
    lines += "style: " + Hex(box.style) + "\n";
    lines += "exstyle: " + Hex(box.exStyle) + "\n";
    lines += std::string("topmost: ") + (box.topmost ? "yes" : "no") + "\n";
    lines += std::string("foreground: ") + (box.foreground ? "yes" : "no") + "\n";
    lines += "buttons:";
    for (const BoxButton& button : box.buttons)
        lines += " " + std::to_string(button.id) + "=" + EscapeLine(button.text);
    lines += "\n\n";
    return lines;
}

} // namespace test
