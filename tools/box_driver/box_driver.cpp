// box_driver.exe [--cwd DIR] [--env NAME=VALUE]... [--timeout MS] PROGRAM [ARGS...]
//
// Runs PROGRAM, closes each message box it shows with OK, and prints every box
// to stdout as UTF-8 lines (see DescribeBox), then "exit: N" with the
// program's exit code. Exits 0 when the program ran to its end, 2 for a bad
// command line, 3 when the program could not be started, 4 when it was still
// running at the timeout (default 120000 ms) and was ended.
#include "tools/box_driver/box_watcher.h"
#include "tools/process/process.h"

#include <string>
#include <vector>

namespace {

void WriteOut(const std::string& bytes) {
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()),
              &written, nullptr);
}

int Usage() {
    WriteOut("usage: box_driver.exe [--cwd DIR] [--env NAME=VALUE]... [--timeout MS] "
             "PROGRAM [ARGS...]\n");
    return 2;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    std::wstring directory;
    std::vector<std::wstring> environment;
    DWORD timeout = 120000;
    int first = 1;
    for (; first < argc; ++first) {
        const std::wstring option = argv[first];
        if (option.compare(0, 2, L"--") != 0)
            break;
        if (first + 1 >= argc)
            return Usage();
        if (option == L"--cwd")
            directory = argv[++first];
        else if (option == L"--env")
            environment.push_back(argv[++first]);
        else if (option == L"--timeout")
            timeout = static_cast<DWORD>(wcstoul(argv[++first], nullptr, 10));
        else
            return Usage();
    }
    if (first >= argc)
        return Usage();

    std::wstring commandLine;
    for (int i = first; i < argc; ++i)
        commandLine += (i > first ? L" " : L"") + test::Quote(argv[i]);
    const test::WatchedRun run =
        test::RunWatchingBoxes(commandLine, directory, environment, timeout);
    if (!run.started) {
        WriteOut("error: cannot start the program (error " + std::to_string(GetLastError()) +
                 ")\n");
        return 3;
    }
    for (const test::ObservedBox& box : run.boxes)
        WriteOut(test::DescribeBox(box));
    if (run.timedOut)
        WriteOut("timed out\n");
    WriteOut("exit: " + std::to_string(run.exitCode) + "\n");
    return run.timedOut ? 4 : 0;
}
