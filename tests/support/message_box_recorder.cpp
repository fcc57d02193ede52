#include "tests/support/message_box_recorder.h"

namespace test {

namespace {

std::vector<RecordedBox> TheBoxes;
std::function<void(const RecordedBox&)> TheCallback;

int WINAPI RecordMessageBox(HWND owner, LPCWSTR text, LPCWSTR title, UINT style) {
    RecordedBox box;
    box.owner = owner;
    box.text = text != nullptr ? text : L"";
    box.title = title != nullptr ? title : L"";
    box.style = style;
    TheBoxes.push_back(box);
    if (TheCallback)
        TheCallback(box);
    return IDOK;
}

} // namespace

MessageBoxRecorder::MessageBoxRecorder(std::function<void(const RecordedBox&)> onBox)
    : redirect_(L"user32.dll", "MessageBoxW", reinterpret_cast<void*>(&RecordMessageBox)) {
    TheBoxes.clear();
    TheCallback = std::move(onBox);
}

MessageBoxRecorder::~MessageBoxRecorder() {
    TheCallback = nullptr;
}

const std::vector<RecordedBox>& MessageBoxRecorder::boxes() const {
    return TheBoxes;
}

} // namespace test
