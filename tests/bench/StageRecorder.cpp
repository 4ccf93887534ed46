// Keeps the start-up milestones of the program it is linked into, and at
// the program's end writes them (performance-counter ticks) to the file
// named by TARNWICK_STAGE_FILE, for the benchmark to read.
#include <windows.h>

#include <cstdio>

#include "app/StartupStages.h"

namespace tarnwick {
namespace {

struct Recorder {
    LONGLONG ticks[3] = {};
    ~Recorder() {
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
}

}  // namespace tarnwick
