#pragma once

// The watchdog that keeps a run from lasting for ever, and the record of
// the step it names when it ends one.

#include <chrono>
#include <functional>
#include <memory>
#include <string>

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
                                              std::function<int(const std::wstring&)> lastWord);

}  // namespace tarnwick::win32
