// Start-up, memory and one apply / undo of the real program, against two
// yardsticks: the one-button window with the program's own manifest (the
// fair one) and without any. Prints figures; it asserts nothing.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <iterator>
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
    double seconds;  // from creating the process to its window shown and idle
    SIZE_T peakWorkingSet;
    // From creating the process to each milestone the program marks (entry,
    // window created, first painted); negative when it marks none.
    std::array<double, 3> stages{-1, -1, -1};
    int windows = 0;  // the window's own child windows, once idle
};

const wchar_t StageFile[] = L"C:\\tarnwick-stages.txt";

struct Found {
    DWORD pid;
    HWND hwnd;
};

BOOL CALLBACK CountChild(HWND, LPARAM count) {
    ++*reinterpret_cast<int*>(count);
    return TRUE;
}

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

// How long touching 32 MB of fresh memory takes, as a start does much of:
// a reading of the host's speed at that moment.
double ProbeHost() {
    const SIZE_T bytes = SIZE_T{32} << 20;
    const LARGE_INTEGER from = Now();
    auto* memory = static_cast<char*>(::VirtualAlloc(nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    if (!memory) {
        std::fprintf(stderr, "cannot read the host: error %lu\n", ::GetLastError());
        std::exit(1);
    }
    for (SIZE_T at = 0; at < bytes; at += 4096) static_cast<volatile char*>(memory)[at] = 1;
    ::VirtualFree(memory, 0, MEM_RELEASE);
    return Seconds(from, Now());
}

// From process creation to its window shown and the process idle, with the
// host's speed read just before and just after. Every start is ended once
// measured, its stages written at the first paint (the real program ignores
// TARNWICK_LEAVE_OUT; the timed build leaves out what it names, and 0 is
// nothing): Wine takes some 2 s to end a process whose window is closed.
StartFigures StartMeasured(const std::wstring& exe, const wchar_t* leaveOut, std::array<double, 2>& probes) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    std::wstring commandLine = L"\"" + exe + L"\"";
    ::DeleteFileW(StageFile);
    ::SetEnvironmentVariableW(L"TARNWICK_STAGE_FILE", StageFile);
    ::SetEnvironmentVariableW(L"TARNWICK_LEAVE_OUT", leaveOut ? leaveOut : L"0");
    probes[0] = ProbeHost();
    // Wine now and then fails to start a process at all (error 1359): one
    // more try, timed from its own start.
    LARGE_INTEGER start = Now();
    const auto started = [&] {
        return ::CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                &startup, &info);
    };
    if (!started() && (::GetLastError() != ERROR_INTERNAL_ERROR || (start = Now(), !started()))) {
        std::fprintf(stderr, "cannot start %ls: error %lu\n", exe.c_str(), ::GetLastError());
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
    probes[1] = ProbeHost();
    int windows = 0;
    ::EnumChildWindows(found.hwnd, &CountChild, reinterpret_cast<LPARAM>(&windows));
    PROCESS_MEMORY_COUNTERS memory{};
    memory.cb = sizeof memory;
    if (!leaveOut) {
        ::Sleep(300);  // settled at the idle window before the memory is read
        ::GetProcessMemoryInfo(info.hProcess, &memory, sizeof memory);
    }
    ::TerminateProcess(info.hProcess, 0);
    ::WaitForSingleObject(info.hProcess, 20000);
    ::Sleep(250);  // Wine and X done with it before the next start
    if (::GetEnvironmentVariableW(L"TARNWICK_BENCH_STEPS", nullptr, 0))
        std::printf("  %ls: %.1f ms, host %.1f and %.1f ms\n", exe.c_str(), Seconds(start, shown) * 1000,
                    probes[0] * 1000, probes[1] * 1000);
    ::CloseHandle(info.hThread);
    ::CloseHandle(info.hProcess);
    StartFigures figures{Seconds(start, shown), memory.PeakWorkingSetSize, {-1, -1, -1}, windows};
    if (FILE* file = ::_wfopen(StageFile, L"r")) {
        long long ticks[3] = {};
        if (std::fscanf(file, "%lld %lld %lld", &ticks[0], &ticks[1], &ticks[2]) == 3)
            for (int i = 0; i < 3; ++i) {
                LARGE_INTEGER at;
                at.QuadPart = ticks[i];
                figures.stages[static_cast<size_t>(i)] = Seconds(start, at);
            }
        std::fclose(file);
    }
    return figures;
}

// This virtual machine's host has slow spells: for a while everything in
// it, the programs' own CPU time included, runs at down to half its speed
// (a record of the scheduler shows no other work then), in a third to a
// half of all starts. Where a median falls then depends on how many of a
// program's starts a spell caught. So a start is taken again when the host
// reads slow just before or just after it: by a fifth over the tenth
// percentile of every reading yet, which a single fast one cannot pull
// down. Once in a row of ten it is kept, so that a slow day still ends.
// The table of the pieces keeps every start: a spell that catches one
// start of a pair makes an outlier, which the median of the pairs leaves.
struct HostSpells {
    std::vector<double> readings;
    int kept = 0, takenAgain = 0;
    double Slow() const {
        std::vector<double> sorted = readings;
        std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 10, sorted.end());
        return sorted[sorted.size() / 10] * 6 / 5;
    }
} host;

StartFigures StartOnce(const std::wstring& exe, const wchar_t* leaveOut = nullptr, bool againInSpells = true) {
    for (int attempt = 1;; ++attempt) {
        std::array<double, 2> probes{};
        StartFigures figures = StartMeasured(exe, leaveOut, probes);
        host.readings.insert(host.readings.end(), probes.begin(), probes.end());
        if (!againInSpells || std::max(probes[0], probes[1]) < host.Slow() || attempt == 10) {
            ++host.kept;
            return figures;
        }
        ++host.takenAgain;
    }
}

// 20 readings of the host, some seconds apart in all, before any start.
void ReadTheHost() {
    for (int i = 0; i < 20; ++i, ::Sleep(250)) host.readings.push_back(ProbeHost());
}

void PrintSpells() {
    std::printf("starts taken again in a slow spell of the host: %d, besides %d kept\n", host.takenAgain, host.kept);
    host.kept = host.takenAgain = 0;
}

// The programs' order in a round: forwards, then backwards in turn.
size_t InTurn(int round, size_t i, size_t count) { return round % 2 ? count - 1 - i : i; }

// The medians of many starts of one program.
struct Medians {
    std::vector<StartFigures> runs;
    double Start() const { return Of([](const StartFigures& f) { return f.seconds; }); }
    double Peak() const {
        return Of([](const StartFigures& f) { return static_cast<double>(f.peakWorkingSet); });
    }
    double Stage(size_t i) const { return Of([i](const StartFigures& f) { return f.stages[i]; }); }
    // The stage columns, in ms; "-" for a program that marks none.
    void PrintStages(int width) const {
        for (size_t stage = 0; stage < 3; ++stage) {
            const double at = Stage(stage);
            if (at < 0) {
                std::printf(" %*s", width, "-");
            } else {
                std::printf(" %*.1f", width, at * 1000);
            }
        }
    }
    template <typename Field>
    double Of(Field field) const {
        std::vector<double> values;
        for (const auto& run : runs) values.push_back(field(run));
        return Median(values);
    }
};

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

// What each piece of the window costs at creation and at first paint: the
// timed build with a piece left out (a label is then drawn by the window
// itself, in the same font and colours), against the whole window started
// just before it. A saving is the median of those pairs' differences, timed
// from the entry point on, so that the jitter of creating a process does
// not count. The rounds go forwards and backwards in turn. The last column,
// the child windows left without the piece, shows it was left out.
void PrintPieces(int runs) {
    // What TARNWICK_LEAVE_OUT takes: a bit for each Piece of app/StartupStages.h.
    struct Row {
        const wchar_t* leaveOut;
        const char* name;
        const wchar_t* file = L"tarnwick_timed.exe";
        std::array<std::vector<double>, 3> saved{};  // creation, first paint, entry to idle
        int windows = 0;  // left to the window without the piece: a check that it was left out
    };
    Row rows[] = {{L"2", "the centring"}, {L"1", "the icon"}, {L"32", "the logo"},
                  {L"64", "the labels' font"}, {L"128", "the link's italic font"},
                  {L"256", "the button's font"}, {L"512", "subclassing the controls"},
                  {L"4", "the link's window"}, {L"8", "the instructions' window"}, {L"16", "the payload box"},
                  {L"28", "one paint: only the button a window"},
                  {L"0", "the yardstick (program's manifest)", L"tarnwick_baseline_manifested.exe"}};
    auto spans = [](const StartFigures& f) {
        return std::array<double, 3>{(f.stages[1] - f.stages[0]) * 1000, (f.stages[2] - f.stages[1]) * 1000,
                                     (f.seconds - f.stages[0]) * 1000};
    };
    const std::wstring whole = DriverFolder() + L"tarnwick_timed.exe";
    std::array<std::vector<double>, 3> takes;
    int wholeWindows = 0;
    StartOnce(whole, L"0", false);
    for (int round = 0; round < runs; ++round)
        for (size_t i = 0; i < std::size(rows); ++i) {
            Row& row = rows[InTurn(round, i, std::size(rows))];
            const StartFigures wholeStart = StartOnce(whole, L"0", false);
            const auto with = spans(wholeStart);
            wholeWindows = wholeStart.windows;
            const StartFigures started = StartOnce(DriverFolder() + row.file, row.leaveOut, false);
            const auto without = spans(started);
            row.windows = started.windows;
            for (size_t span = 0; span < 3; ++span) {
                takes[span].push_back(with[span]);
                row.saved[span].push_back(with[span] - without[span]);
            }
        }
    std::printf("what each piece of the window costs (what leaving it out saves), median of %d pairs, ms:\n"
                "  %-38s %9s %11s %13s %8s\n  %-38s %9.1f %11.1f %13.1f %8d\n",
                runs, "", "creation", "first paint", "entry to idle", "windows", "the whole window takes",
                Median(takes[0]), Median(takes[1]), Median(takes[2]), wholeWindows);
    for (const Row& row : rows)
        std::printf("  %-38s %9.1f %11.1f %13.1f %8d\n", row.name, Median(row.saved[0]), Median(row.saved[1]),
                    Median(row.saved[2]), row.windows);
}

int Run(int runs) {
    struct Program {
        const wchar_t* file;
        const char* name;
        Medians medians;
    };
    Program programs[] = {
        {L"tarnwick.exe", "tarnwick.exe", {}},
        {L"tarnwick_timed.exe", "tarnwick, timed build", {}},
        {L"tarnwick_baseline_manifested.exe", "baseline, program's manifest", {}},
        {L"tarnwick_baseline.exe", "baseline, no manifest", {}},
    };
    LayOutBrowser();
    // The first start of a prefix pays for Wine's own warm-up.
    for (auto& program : programs) StartOnce(DriverFolder() + program.file);
    for (int round = 0; round < runs; ++round)
        for (size_t i = 0; i < std::size(programs); ++i) {
            Program& program = programs[InTurn(round, i, std::size(programs))];
            program.medians.runs.push_back(StartOnce(DriverFolder() + program.file));
        }

    std::printf("start-up, median of %d alternating runs, ms from creating the process:\n", runs);
    std::printf("  %-30s %8s %8s %8s %8s %10s\n", "", "entry", "created", "painted", "idle",
                "peak KiB");
    for (const auto& program : programs) {
        std::printf("  %-30s", program.name);
        program.medians.PrintStages(8);
        std::printf(" %8.1f %10.0f\n", program.medians.Start() * 1000, program.medians.Peak() / 1024);
    }
    const Medians& ours = programs[0].medians;
    const Medians& fair = programs[2].medians;
    const Medians& plain = programs[3].medians;
    // A slow spell of the host that spans one round slows both starts of it.
    std::vector<double> ratios;
    for (size_t i = 0; i < ours.runs.size(); ++i) ratios.push_back(ours.runs[i].seconds / fair.runs[i].seconds);
    std::printf("against the baseline with the program's manifest: start-up %.3f (budget 1.15; median of "
                "each round's own ratio %.3f), peak working set %.3f (budget 1.30)\n",
                ours.Start() / fair.Start(), Median(ratios), ours.Peak() / fair.Peak());
    std::printf("against the plain baseline: start-up %.3f, peak working set %.3f\n",
                ours.Start() / plain.Start(), ours.Peak() / plain.Peak());

    PrintSpells();
    std::vector<double> apply, undo;
    for (int i = 0; i < std::max(10, runs * 2 / 3); ++i) {
        LayOutBrowser();
        apply.push_back(OneCommand({IDOK}));
        undo.push_back(OneCommand({IDYES, IDOK}));
    }
    std::printf("apply, click to exit (median of %zu): %.1f ms\n", apply.size(), Median(apply) * 1000);
    std::printf("undo, click to exit (median of %zu): %.1f ms\n", undo.size(), Median(undo) * 1000);
    PrintPieces(runs);
    return 0;
}

}  // namespace
}  // namespace tarnwick::e2e

// `--compare A.exe B.exe ...`: start-up of any programs, alternating (15
// runs, or TARNWICK_BENCH_RUNS), for finding where start-up time goes.
// `--pieces [N]`: only the table of what each piece costs, N pairs (21).
int Compare(int argc, wchar_t** argv) {
    using namespace tarnwick::e2e;
    std::vector<Medians> programs(static_cast<size_t>(argc - 2));
    for (int i = 2; i < argc; ++i) StartOnce(argv[i]);
    wchar_t runsText[16] = {};
    const int runs = ::GetEnvironmentVariableW(L"TARNWICK_BENCH_RUNS", runsText, 16) ? _wtoi(runsText) : 15;
    for (int run = 0; run < runs; ++run)
        for (size_t k = 0; k < programs.size(); ++k) {
            const size_t i = InTurn(run, k, programs.size());
            programs[i].runs.push_back(StartOnce(argv[i + 2]));
        }
    std::printf("  median   lowest  quartiles   entry created painted (ms, medians)\n");
    for (int i = 2; i < argc; ++i) {
        const Medians& program = programs[static_cast<size_t>(i - 2)];
        std::vector<double> sorted;
        for (const auto& run : program.runs) sorted.push_back(run.seconds);
        std::sort(sorted.begin(), sorted.end());
        const size_t n = sorted.size();
        std::printf("%8.1f %8.1f  %6.1f-%6.1f", Median(sorted) * 1000, sorted[0] * 1000,
                    sorted[n / 4] * 1000, sorted[3 * n / 4] * 1000);
        program.PrintStages(7);
        std::printf("  %ls\n", argv[i]);
    }
    PrintSpells();
    return 0;
}

int wmain(int argc, wchar_t** argv) {
    tarnwick::e2e::ReadTheHost();
    if (argc > 2 && std::wstring(argv[1]) == L"--compare") return Compare(argc, argv);
    if (argc > 1 && std::wstring(argv[1]) == L"--pieces") {
        tarnwick::e2e::PrintPieces(argc > 2 ? _wtoi(argv[2]) : 21);
        return 0;
    }
    const int runs = argc > 1 ? _wtoi(argv[1]) : 15;
    return tarnwick::e2e::Run(std::max(runs, 15));
}
