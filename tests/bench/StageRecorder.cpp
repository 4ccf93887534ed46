// Keeps the start-up milestones of the program it is linked into, and at
// the program's end writes them (performance-counter ticks) to the file
// named by TARNWICK_STAGE_FILE, for the benchmark to read (at the first
// paint already with TARNWICK_STAGES_AT_ONCE). In the program's
// timed build it also leaves out the pieces of the window that
// TARNWICK_LEAVE_OUT names, separated by commas.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <iterator>

#include "app/StartupStages.h"

namespace tarnwick {
namespace {

struct Recorder {
    LONGLONG ticks[3] = {};
    bool written = false;
    void Write() noexcept {
        written = true;
        wchar_t path[MAX_PATH] = {};
        if (!::GetEnvironmentVariableW(L"TARNWICK_STAGE_FILE", path, MAX_PATH)) return;
        if (FILE* file = ::_wfopen(path, L"w")) {
            std::fprintf(file, "%lld %lld %lld\n", ticks[0], ticks[1], ticks[2]);
            std::fclose(file);
        }
    }
    ~Recorder() {
        if (!written) Write();
    }
};
Recorder recorder;

// In the order of the enumeration.
const wchar_t* const PieceNames[] = {L"icon",      L"centring",   L"label1",     L"label2",
                                     L"text1",     L"logo",       L"labelfont",  L"italicfont",
                                     L"messagefont", L"subclassing"};
static_assert(std::size(PieceNames) == static_cast<size_t>(Piece::Subclassing) + 1);

}  // namespace

void MarkStage(Stage stage) noexcept {
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    recorder.ticks[static_cast<int>(stage)] = now.QuadPart;
    // Asked for by a benchmark that ends the process once it has them.
    if (stage == Stage::FirstPainted && ::GetEnvironmentVariableW(L"TARNWICK_STAGES_AT_ONCE", nullptr, 0))
        recorder.Write();
}

bool LeftOut(Piece piece) noexcept {
    wchar_t list[256] = L",";
    const DWORD length = ::GetEnvironmentVariableW(L"TARNWICK_LEAVE_OUT", list + 1, 250);
    if (length == 0 || length >= 250) return false;
    std::wcscat(list, L",");
    wchar_t name[32] = L",";
    std::wcscat(std::wcscat(name, PieceNames[static_cast<size_t>(piece)]), L",");
    return std::wcsstr(list, name) != nullptr;
}

}  // namespace tarnwick
