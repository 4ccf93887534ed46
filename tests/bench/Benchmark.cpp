// Start-up, memory and one apply / undo of the real program, against the
// baseline window. Prints figures; it asserts nothing.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "tests/e2e/Driver.h"

namespace tarnwick::e2e {
namespace {

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to) {
    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);
    return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

LARGE_INTEGER Now() {
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    return now;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct StartFigures {
    double seconds;
    SIZE_T peakWorkingSet;
};

struct Found {
    DWORD pid;
    HWND hwnd;
};

BOOL CALLBACK FindVisible(HWND hwnd, LPARAM parameter) {
    auto* found = reinterpret_cast<Found*>(parameter);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(hwnd, &owner);
    if (owner == found->pid && ::IsWindowVisible(hwnd)) {
        found->hwnd = hwnd;
        return FALSE;
    }
    return TRUE;
}

// From process creation to its window shown and the process idle.
StartFigures StartOnce(const std::wstring& exe) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    std::wstring commandLine = L"\"" + exe + L"\"";
    const LARGE_INTEGER start = Now();
    if (!::CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          nullptr, &startup, &info)) {
        std::fprintf(stderr, "cannot start %ls\n", exe.c_str());
        std::exit(1);
    }
    ::WaitForInputIdle(info.hProcess, 20000);
    Found found{info.dwProcessId, nullptr};
    while (!found.hwnd) {
        ::EnumWindows(&FindVisible, reinterpret_cast<LPARAM>(&found));
        if (!found.hwnd) ::Sleep(1);
    }
    ::WaitForInputIdle(info.hProcess, 20000);
    const LARGE_INTEGER shown = Now();
    ::Sleep(300);  // settled at the idle window before the memory is read
    PROCESS_MEMORY_COUNTERS memory{};
    memory.cb = sizeof memory;
    ::GetProcessMemoryInfo(info.hProcess, &memory, sizeof memory);
    const LARGE_INTEGER close = Now();
    ::PostMessageW(found.hwnd, WM_CLOSE, 0, 0);
    ::WaitForSingleObject(info.hProcess, 20000);
    if (::GetEnvironmentVariableW(L"TARNWICK_BENCH_STEPS", nullptr, 0))
        std::printf("  %ls: close to exit %.1f ms\n", exe.c_str(), Seconds(close, Now()) * 1000);
    ::CloseHandle(info.hThread);
    ::CloseHandle(info.hProcess);
    return {Seconds(start, shown), memory.PeakWorkingSetSize};
}

// From the click to the end of the process, the boxes answered at once.
double OneCommand(const std::vector<int>& answers) {
    App app;
    if (!app.Window()) std::exit(1);
    const LARGE_INTEGER click = Now();
    app.ClickButton();
    for (int answer : answers) {
        Box box = app.NextBox();
        if (::GetEnvironmentVariableW(L"TARNWICK_BENCH_STEPS", nullptr, 0))
            std::printf("  box after %.1f ms\n", Seconds(click, Now()) * 1000);
        app.Press(box, answer);
    }
    app.WaitForExit();
    if (::GetEnvironmentVariableW(L"TARNWICK_BENCH_STEPS", nullptr, 0))
        std::printf("  exit after %.1f ms\n", Seconds(click, Now()) * 1000);
    return Seconds(click, Now());
}

int Run(int runs) {
    const std::wstring tarnwick = DriverFolder() + L"tarnwick.exe";
    const std::wstring baseline = DriverFolder() + L"tarnwick_baseline.exe";
    LayOutBrowser();
    StartOnce(tarnwick);  // the first start of a prefix pays for Wine's own warm-up
    StartOnce(baseline);
    std::vector<double> ourStart, baseStart, ourPeak, basePeak;
    for (int i = 0; i < runs; ++i) {
        const StartFigures ours = StartOnce(tarnwick);
        const StartFigures base = StartOnce(baseline);
        ourStart.push_back(ours.seconds);
        baseStart.push_back(base.seconds);
        ourPeak.push_back(static_cast<double>(ours.peakWorkingSet));
        basePeak.push_back(static_cast<double>(base.peakWorkingSet));
    }
    std::vector<double> apply, undo;
    for (int i = 0; i < std::max(10, runs * 2 / 3); ++i) {
        LayOutBrowser();
        apply.push_back(OneCommand({IDOK}));
        undo.push_back(OneCommand({IDYES, IDOK}));
    }
    const double startRatio = Median(ourStart) / Median(baseStart);
    const double memoryRatio = Median(ourPeak) / Median(basePeak);
    std::printf("start-up (median of %d): tarnwick %.1f ms, baseline %.1f ms, ratio %.3f (budget 1.10)\n",
                runs, Median(ourStart) * 1000, Median(baseStart) * 1000, startRatio);
    std::printf("peak working set at idle: tarnwick %.0f KiB, baseline %.0f KiB, ratio %.3f (budget 1.5)\n",
                Median(ourPeak) / 1024, Median(basePeak) / 1024, memoryRatio);
    std::printf("apply, click to exit (median of %zu): %.1f ms\n", apply.size(), Median(apply) * 1000);
    std::printf("undo, click to exit (median of %zu): %.1f ms\n", undo.size(), Median(undo) * 1000);
    return 0;
}

}  // namespace
}  // namespace tarnwick::e2e

// `--compare A.exe B.exe ...`: start-up of any programs, alternating, for
// finding where start-up time goes.
int Compare(int argc, wchar_t** argv) {
    using namespace tarnwick::e2e;
    std::vector<std::vector<double>> times(static_cast<size_t>(argc - 2));
    for (int i = 2; i < argc; ++i) StartOnce(argv[i]);
    for (int run = 0; run < 15; ++run)
        for (int i = 2; i < argc; ++i) times[static_cast<size_t>(i - 2)].push_back(StartOnce(argv[i]).seconds);
    for (int i = 2; i < argc; ++i)
        std::printf("%8.1f ms  %ls\n", Median(times[static_cast<size_t>(i - 2)]) * 1000, argv[i]);
    return 0;
}

int wmain(int argc, wchar_t** argv) {
    if (argc > 2 && std::wstring(argv[1]) == L"--compare") return Compare(argc, argv);
    const int runs = argc > 1 ? _wtoi(argv[1]) : 15;
    return tarnwick::e2e::Run(std::max(runs, 15));
}
