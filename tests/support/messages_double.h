// A stand-in for the result messages, linked into a test binary in place of
// the real ReportMessage: records what would have been shown and in which
// surroundings, and shows nothing.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace test {

struct Report {
    UINT id = 0;
    LCID locale = 0;          // the thread locale when reporting
    std::wstring productName; // CurrentProductName when reporting
    DWORD lastError = 0;      // the thread's last-error code when reporting
    bool quiet = false;       // QuietMode when reporting
};

std::vector<Report>& Reports();
void ResetReports();

// Called at each report, after it is recorded.
void OnReport(std::function<void(const Report&)> callback);

} // namespace test
