#pragma once

// The watchdog that keeps a run from lasting for ever, and the record of
// the step it names when it ends one.

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <windows.h>

#include "platform/Platform.h"

namespace tarnwick::win32 {

// Names the file or folder a step of the run is at while it lasts: what a
// watchdog's last word says the run was stuck on. Steps may nest; the
// innermost one is named.
class StepAt {
public:
    explicit StepAt(const std::wstring& path) noexcept;
    ~StepAt();
    StepAt(const StepAt&) = delete;
    StepAt& operator=(const StepAt&) = delete;

private:
    const std::wstring* outer_;
};

std::unique_ptr<Watchdog> StartWatchdogThread(std::chrono::milliseconds limit,
                                              std::optional<std::chrono::milliseconds> wordLimit,
                                              std::function<LastWord(const std::wstring&)> lastWord);

// How a watchdog that fired ends the process: TerminateProcess. A test may
// stand in for it, to see a last word out without ending itself.
void (*&WatchdogEnd())(UINT exitCode);

}  // namespace tarnwick::win32
