// A run that a step blocks for ever (a file held by another program that
// never lets go, a network share that stops answering) would keep a
// deployment tool's SYSTEM job waiting for ever. So a thread of its own
// ends the process once the limit has passed. Ending it at any moment is
// safe: every change is one rename or delete that either happened or did
// not, the lock file goes when its handle is closed with the process, and
// the next run finishes whatever the cut left, as after a power cut.

#include "platform/win32/Win32Watchdog.h"

#include <windows.h>

#include <utility>

#include "platform/win32/Errors.h"
#include "platform/win32/Handles.h"

namespace tarnwick::win32 {

namespace {

SRWLOCK stepLock = SRWLOCK_INIT;
const std::wstring* stepInFlight = nullptr;  // the innermost StepAt's path

std::wstring CurrentStep() {
    ::AcquireSRWLockShared(&stepLock);
    std::wstring path;
    try {
        if (stepInFlight) path = *stepInFlight;
    } catch (...) {
        // No memory for the name: the last word goes without it.
    }
    ::ReleaseSRWLockShared(&stepLock);
    return path;
}

class ThreadWatchdog final : public Watchdog {
public:
    ThreadWatchdog(std::chrono::milliseconds limit, std::function<int(const std::wstring&)> lastWord)
        : limit_(limit), lastWord_(std::move(lastWord)) {
        letGo_.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        if (letGo_) thread_.reset(::CreateThread(nullptr, 0, &Watch, this, 0, nullptr));
    }
    ~ThreadWatchdog() override {
        if (!thread_) return;
        ::SetEvent(letGo_.get());
        ::WaitForSingleObject(thread_.get(), INFINITE);
    }
    bool Started() const noexcept { return static_cast<bool>(thread_); }

private:
    static DWORD WINAPI Watch(void* self) noexcept {
        auto& dog = *static_cast<ThreadWatchdog*>(self);
        if (::WaitForSingleObject(dog.letGo_.get(), static_cast<DWORD>(dog.limit_.count())) !=
            WAIT_TIMEOUT)
            return 0;
        int exitCode = 1;
        try {
            exitCode = dog.lastWord_(CurrentStep());
        } catch (...) {
            // The run ends all the same; the exit code still says it failed.
        }
        // Not ExitProcess: the blocked thread must not run another step,
        // nor any destructor of the program.
        ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(exitCode));
        return 0;
    }

    std::chrono::milliseconds limit_;
    std::function<int(const std::wstring&)> lastWord_;
    UniqueHandle letGo_, thread_;
};

}  // namespace

StepAt::StepAt(const std::wstring& path) noexcept {
    ::AcquireSRWLockExclusive(&stepLock);
    outer_ = std::exchange(stepInFlight, &path);
    ::ReleaseSRWLockExclusive(&stepLock);
}

StepAt::~StepAt() {
    ::AcquireSRWLockExclusive(&stepLock);
    stepInFlight = outer_;
    ::ReleaseSRWLockExclusive(&stepLock);
}

std::unique_ptr<Watchdog> StartWatchdogThread(std::chrono::milliseconds limit,
                                              std::function<int(const std::wstring&)> lastWord) {
    auto dog = std::make_unique<ThreadWatchdog>(limit, std::move(lastWord));
    if (!dog->Started()) throw LastErrorFailure(L"The watchdog of the run could not be started.");
    return dog;
}

}  // namespace tarnwick::win32
