#include "tests/support/messages_double.h"

#include "common/program_state.h"
#include "messages/messages.h"

namespace test {

namespace {

std::vector<Report> TheReports;
std::function<void(const Report&)> TheCallback;

} // namespace

std::vector<Report>& Reports() {
    return TheReports;
}

void ResetReports() {
    TheReports.clear();
    TheCallback = nullptr;
}

void OnReport(std::function<void(const Report&)> callback) {
    TheCallback = std::move(callback);
}

} // namespace test

void ReportMessage(UINT id) {
    test::Report report;
    report.lastError = GetLastError(); // first, as the real one does
    report.id = id;
    report.locale = GetThreadLocale();
    report.productName = CurrentProductName;
    report.quiet = QuietMode;
    test::TheReports.push_back(report);
    if (test::TheCallback)
        test::TheCallback(report);
}

int LoadCatalogueText(HINSTANCE, UINT, std::wstring& text, int) {
    text.clear();
    return 0;
}
