// Keeps the start-up milestones of the program it is linked into, and at
// the program's end writes them (performance-counter ticks) to the file
// named by TARNWICK_STAGE_FILE, for the benchmark to read. In the timed
// build it leaves out the pieces of the window whose bits TARNWICK_LEAVE_OUT
// sets; given that (0 too), it writes them at the first paint as well, for
// a benchmark that ends the process then.
#include <windows.h>

#include <cstdio>
#include <cwchar>

#include "app/StartupStages.h"

namespace tarnwick {
namespace {

struct Recorder {
    LONGLONG ticks[3] = {};
    ~Recorder() { Write(); }
    void Write() noexcept {
        wchar_t path[MAX_PATH] = {};
        if (!::GetEnvironmentVariableW(L"TARNWICK_STAGE_FILE", path, MAX_PATH)) return;
        if (FILE* file = ::_wfopen(path, L"w")) {
            std::fprintf(file, "%lld %lld %lld\n", ticks[0], ticks[1], ticks[2]);
            std::fclose(file);
        }
    }
};
Recorder recorder;

}  // namespace

void MarkStage(Stage stage) noexcept {
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    recorder.ticks[static_cast<int>(stage)] = now.QuadPart;
    if (stage == Stage::FirstPainted && ::GetEnvironmentVariableW(L"TARNWICK_LEAVE_OUT", nullptr, 0))
        recorder.Write();
}

bool LeftOut(Piece piece) noexcept {
    wchar_t bits[16] = {};
    ::GetEnvironmentVariableW(L"TARNWICK_LEAVE_OUT", bits, 16);
    return (std::wcstoul(bits, nullptr, 0) >> static_cast<int>(piece)) & 1;
}

}  // namespace tarnwick
