// A run that a step blocks for ever (a file held by another program that
// never lets go, a network share that stops answering) would keep a
// deployment tool's SYSTEM job waiting for ever. So a thread of its own
// ends the process once the limit has passed. Ending it at any moment is
// safe: every change is one rename or delete that either happened or did
// not, the lock file goes when its handle is closed with the process, and
// the next run finishes whatever the cut left, as after a power cut.

#include "platform/win32/Win32Watchdog.h"

#include <windows.h>

#include <memory>
#include <optional>
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

// What the watchdog and its threads share. Each holds a share of its own,
// and the last to let go of its share frees it: letting the watchdog go
// never waits for a thread.
struct Watch {
    enum State : LONG { Armed, LetGo, Fired };
    std::chrono::milliseconds limit;
    std::optional<std::chrono::milliseconds> wordLimit;
    std::function<LastWord(const std::wstring&)> lastWord;
    UniqueHandle letGo;
    std::wstring stuckOn;
    volatile LONG shares = 1;
    volatile LONG state = Armed;
    volatile LONG exitCode = 1;  // until the last word settles one: the run failed
};

class WatchShare {
public:
    explicit WatchShare(Watch* watch) noexcept : watch_(watch) {}  // takes over one share
    ~WatchShare() {
        if (::InterlockedDecrement(&watch_->shares) == 0) {
            const std::unique_ptr<Watch> last(watch_);
        }
    }
    WatchShare(const WatchShare&) = delete;
    WatchShare& operator=(const WatchShare&) = delete;
    Watch* operator->() const noexcept { return watch_; }

    // Runs `routine` on a thread of its own, with a share of its own.
    UniqueHandle StartThread(LPTHREAD_START_ROUTINE routine) const noexcept {
        ::InterlockedIncrement(&watch_->shares);
        UniqueHandle thread(::CreateThread(nullptr, 0, routine, watch_, 0, nullptr));
        if (!thread) ::InterlockedDecrement(&watch_->shares);  // the caller still holds one
        return thread;
    }

private:
    Watch* watch_;
};

DWORD WINAPI Speak(void* watch) noexcept {
    const WatchShare share(static_cast<Watch*>(watch));
    try {
        LastWord word = share->lastWord(share->stuckOn);
        ::InterlockedExchange(&share->exitCode, word.exitCode);
        if (word.say) word.say();
    } catch (...) {
        // The run ends all the same, with the exit code settled so far.
    }
    return 0;
}

DWORD WINAPI Guard(void* watch) noexcept {
    const WatchShare share(static_cast<Watch*>(watch));
    if (::WaitForSingleObject(share->letGo.get(), static_cast<DWORD>(share->limit.count())) != WAIT_TIMEOUT)
        return 0;
    if (::InterlockedCompareExchange(&share->state, Watch::Fired, Watch::Armed) != Watch::Armed)
        return 0;  // let go just now
    share->stuckOn = CurrentStep();
    // The last word may block for ever (a log or an output nobody reads):
    // it has its time on a thread of its own, and no more.
    if (const UniqueHandle word = share.StartThread(&Speak))
        ::WaitForSingleObject(word.get(), share->wordLimit ? static_cast<DWORD>(share->wordLimit->count())
                                                           : INFINITE);
    // Not ExitProcess: the blocked thread must not run another step, nor
    // any destructor of the program.
    WatchdogEnd()(static_cast<UINT>(::InterlockedCompareExchange(&share->exitCode, 0, 0)));
    return 0;
}

void EndNow(UINT exitCode) { ::TerminateProcess(::GetCurrentProcess(), exitCode); }

class ThreadWatchdog final : public Watchdog {
public:
    explicit ThreadWatchdog(std::unique_ptr<Watch> watch) : share_(watch.release()) {}
    ~ThreadWatchdog() override { LetGo(); }
    bool LetGo() noexcept override {
        const LONG was = ::InterlockedCompareExchange(&share_->state, Watch::LetGo, Watch::Armed);
        if (was == Watch::Armed) ::SetEvent(share_->letGo.get());
        return was != Watch::Fired;
    }
    bool Started() const noexcept { return static_cast<bool>(share_.StartThread(&Guard)); }

private:
    WatchShare share_;
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

void (*&WatchdogEnd())(UINT exitCode) {
    static void (*end)(UINT) = &EndNow;
    return end;
}

std::unique_ptr<Watchdog> StartWatchdogThread(std::chrono::milliseconds limit,
                                              std::optional<std::chrono::milliseconds> wordLimit,
                                              std::function<LastWord(const std::wstring&)> lastWord) {
    auto watch = std::make_unique<Watch>();
    watch->limit = limit;
    watch->wordLimit = wordLimit;
    watch->lastWord = std::move(lastWord);
    watch->letGo.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    const bool signals = static_cast<bool>(watch->letGo);
    auto dog = std::make_unique<ThreadWatchdog>(std::move(watch));
    if (!signals || !dog->Started()) throw LastErrorFailure(L"The watchdog of the run could not be started.");
    return dog;
}

}  // namespace tarnwick::win32
