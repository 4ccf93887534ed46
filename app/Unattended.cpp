#include "app/Unattended.h"

#include <algorithm>
#include <mutex>
#include <new>
#include <utility>

#include "app/RunLog.h"
#include "patch/Locations.h"
#include "patch/Payload.h"
#include "platform/Decimal.h"
#include "platform/Failure.h"

namespace tarnwick {

namespace {

constexpr int No = 7;
constexpr int Ok = 1;

// How long a run waits for a log another program keeps busy; in the
// watchdog's last word, half its time, so that the line still goes out.
constexpr std::chrono::milliseconds LogBusyLimit{2000};
constexpr std::chrono::milliseconds LastWordLogLimit{1000};

// The conversation of a run without a window: every answer was settled by
// the command line before the run began.
class SwitchedConversation final : public Conversation {
public:
    explicit SwitchedConversation(const CommandLine& command) : command_(command) {}
    int Show(const Message& message) override { return UnattendedAnswer(message.prompt, command_); }
    std::wstring ChooseBrowserFolder() override { return command_.folder; }
    void WaitingForAnotherRun(std::chrono::milliseconds) override {}
    void DoneWaiting() override {}

private:
    const CommandLine& command_;
};

std::wstring OneLine(std::wstring text) {
    for (wchar_t& c : text)
        if (c == L'\r' || c == L'\n') c = L' ';
    std::wstring line;
    for (wchar_t c : text)
        if (!(c == L' ' && !line.empty() && line.back() == L' ')) line += c;
    while (!line.empty() && line.back() == L' ') line.pop_back();
    return line;
}

std::wstring ErrorLine(const Failure& failure) {
    return L"Run-time error " + DecimalText(failure.Code()) + L": " +
           OneLine(failure.Description());
}

struct Report {
    int exitCode;
    std::wstring line;
};

std::wstring KnownFolders(bool x86) {
    return x86 ? std::wstring(DefaultFolder) + L" or " + std::wstring(X86Folder) : std::wstring(DefaultFolder);
}

// Each file kept aside is named after what was done.
std::wstring WithKeptFiles(std::wstring line, const Result& result) {
    for (const KeptFile& file : result.kept) line += L" " + KeptFileText(file);
    return line;
}

int ExitCodeOf(const Failure& failure) {
    return failure.Code() == FailureCode::AnotherRunInProgress ? ExitCode::AnotherRunInProgress
                                                               : ExitCode::Failed;
}

// `only`: the one known folder the command line allowed, if any.
Report Describe(const Result& result, bool x86, const KnownInstall* only) {
    const std::wstring prefs = result.folder + std::wstring(PrefsRelativePath);
    switch (result.outcome) {
        case Outcome::Patched:
            return {ExitCode::Done,
                    WithKeptFiles(!result.marker.empty()
                                      ? L"Patched: " + prefs + L" is written."
                                      : L"Patched: " + prefs +
                                            L" is written. It is outside the browser's own "
                                            L"folders, so /undo will not remove it.",
                                  result)};
        case Outcome::Undone: {
            std::wstring folders;
            for (const std::wstring& folder : result.undone)
                folders += (folders.empty() ? L"" : L" and ") + folder;
            return {ExitCode::Done,
                    WithKeptFiles(L"Undone: the tweak is removed from " + folders + L".", result)};
        }
        case Outcome::AlreadyPatched:
            return {ExitCode::Done,
                    L"Already patched: " + result.marker + L" exists. Nothing was changed."};
        case Outcome::NotPatched:
            return {ExitCode::Done, WithKeptFiles(L"Not patched: there is nothing to undo in " +
                                                      KnownFolders(x86) + L".",
                                                  result)};
        case Outcome::UndoDeclined:
            return {ExitCode::Done, L"Nothing was changed."};
        case Outcome::NotLocated:
            if (only) return {ExitCode::NoBrowser, L"No browser in " + std::wstring(only->folder) + L"."};
            return {ExitCode::NoBrowser,
                    L"No browser in " + KnownFolders(x86) + L". Give its folder with /folder."};
        case Outcome::GaveUp:
            if (result.failure && !result.noBrowser)
                return {ExitCodeOf(*result.failure), ErrorLine(*result.failure)};
            return {ExitCode::NoBrowser, L"No browser in " + result.folder + L": it has no " +
                                             L"defaults\\profile folder."};
        case Outcome::VersionDeclined: {
            const FileVersion version = result.version.value_or(FileVersion{});
            const std::wstring why = TweakEffectOn(version) == TweakEffect::NoPipelining
                                         ? L"it has no HTTP pipelining"
                                         : L"it no longer copies the file into new profiles";
            return {ExitCode::VersionWouldIgnoreIt,
                    L"Not patched: Firefox " + VersionText(version) + L" in " + result.folder +
                        L" would ignore the tweak (" + why + L"). /force patches anyway."};
        }
    }
    return {ExitCode::Failed, L"Run-time error: unknown outcome."};
}

Report Work(PatchEngine& engine, const CommandLine& command, bool x86) {
    switch (command.verb) {
        case CommandLine::Verb::Window:  // not reached: no arguments means the window
        case CommandLine::Verb::Help:
            return {ExitCode::Done, Usage};
        case CommandLine::Verb::Invalid:
            return {ExitCode::NotUnderstood, command.error + L"\r\n\r\n" + Usage};
        case CommandLine::Verb::Patch:
        case CommandLine::Verb::Undo:
            break;
    }
    return Describe(engine.Command(command.verb == CommandLine::Verb::Patch ? Request::Patch
                                                                            : Request::Undo),
                    x86, command.only);
}

// Nothing of a run escapes as a failure: it is its line.
Report ReportOf(const std::function<Report()>& run) noexcept {
    try {
        return run();
    } catch (const Failure& failure) {
        return {ExitCodeOf(failure), ErrorLine(failure)};
    } catch (const std::bad_alloc&) {
        return {ExitCode::Failed, L"Run-time error 8: out of memory."};
    } catch (...) {
        return {ExitCode::Failed, L"Run-time error: unexpected failure."};
    }
}

// How far a run has come, shared with the watchdog's last word: what is
// left for it to say, and whether the run may still do anything.
class Progress {
public:
    enum class Stage { Working, Logging, Writing };
    // Moves on, with the run's report; false once the watchdog has stopped the run.
    bool MoveOn(Stage stage, const Report& report) {
        const std::lock_guard<std::mutex> guard(lock_);
        if (stopped_) return false;
        stage_ = stage;
        report_ = report;
        return true;
    }
    // For the watchdog: stops the run where it is, and tells where that is.
    std::pair<Stage, Report> Stop() {
        const std::lock_guard<std::mutex> guard(lock_);
        stopped_ = true;
        return {stage_, report_};
    }

private:
    std::mutex lock_;
    Stage stage_ = Stage::Working;
    bool stopped_ = false;
    Report report_{ExitCode::Failed, {}};
};

// A log keeps the first line and the exit code, which an installer running
// the program turns into its own; "" once it is written, else a clause of
// the output line that says why not.
std::wstring Log(Platform& platform, const CommandLine& command, const Report& report,
                 std::chrono::milliseconds busyLimit) noexcept {
    if (command.log.empty()) return {};
    try {
        const std::wstring line = report.line.substr(0, report.line.find(L'\r'));
        const std::wstring why =
            AppendToLog(platform, command.log, L"exit " + DecimalText(report.exitCode) + L": " + line, busyLimit);
        return why.empty() ? why : L" The log was not written: " + OneLine(why) + L".";
    } catch (...) {
        return {};  // no memory left to say so
    }
}

// The line, with what the log says of itself at the end of its first line.
void Write(Output& output, std::wstring line, const std::wstring& logClause) noexcept {
    try {
        line.insert(std::min(line.find(L'\r'), line.size()), logClause);
        if (line.size() < 2 || line.compare(line.size() - 2, 2, L"\r\n") != 0) line += L"\r\n";
        output.Write(line);
    } catch (...) {
        // Nowhere to report to: the exit code still tells.
    }
}

// The watchdog's last word: the line of a run stopped at its limit, or,
// when the work was done and only the log or the line was stuck, the run's
// own report with what is left of it.
LastWord Stopped(Platform& platform, Progress& progress, PatchEngine& engine,
                 const CommandLine& command, Output& output, const std::wstring& stuckOn) {
    auto [stage, report] = progress.Stop();
    if (stage == Progress::Stage::Working) {
        const Done done = engine.Stop();
        const int exitCode = RunLimitExitCode(done.changed);
        report = {exitCode, ErrorLine(Failure(exitCode, RunLimitText(stuckOn, done)))};
    }
    return {report.exitCode, [&platform, &command, &output, stage = stage, report = report] {
                if (stage == Progress::Stage::Writing) return;
                const std::wstring logClause =
                    stage == Progress::Stage::Working
                        ? Log(platform, command, report, LastWordLogLimit)
                        : L" The log was not written: " + command.log + L" did not answer.";
                Write(output, report.line, logClause);
            }};
}

}  // namespace

std::wstring RunLimitText(const std::wstring& stuckOn, const Done& done) {
    std::wstring text = L"Tarnwick stopped after 5 minutes: a step that should take a moment did not "
                        L"finish, held up by another program or the file system.";
    if (!stuckOn.empty()) text += L"\nIt was stuck on " + stuckOn;
    return TellWhatWasDone(text, done, Told::Stopped);
}

int RunLimitExitCode(bool changed) {
    return changed ? ExitCode::Failed : ExitCode::AnotherRunInProgress;
}

int UnattendedAnswer(Prompt prompt, const CommandLine& command) {
    switch (prompt) {
        case Prompt::LocateBrowser:
            return command.folder.empty() ? No : Answer::Yes;
        case Prompt::ConfirmUndo:
            return command.verb == CommandLine::Verb::Undo ? Answer::Yes : No;
        case Prompt::PatchAnyway:
            return command.force ? Answer::Yes : No;
        case Prompt::LookAgain:
            return No;
        case Prompt::PatchingComplete:
        case Prompt::TweakRemoved:
        case Prompt::ChangedFileKept:
            return Ok;
    }
    return No;
}

int RunUnattended(Platform& platform, const std::vector<std::wstring>& arguments,
                  Output& output) noexcept {
    try {
        const CommandLine command = ParseCommandLine(arguments);
        SwitchedConversation conversation(command);
        PatchEngine engine(platform, conversation, [] { return std::wstring(PreferencePayload); });
        engine.OnlyIn(command.only);
        Progress progress;
        // It watches over all the run does, the log and the line included.
        std::unique_ptr<Watchdog> watchdog;
        Report report = ReportOf([&] {
            watchdog = platform.StartWatchdog(RunLimit, LastWordLimit, [&](const std::wstring& stuckOn) {
                return Stopped(platform, progress, engine, command, output, stuckOn);
            });
            return Work(engine, command, platform.HasX86ProgramFiles());
        });
        if (!progress.MoveOn(Progress::Stage::Logging, report)) AwaitTheWatchdog(platform);
        const std::wstring logClause = Log(platform, command, report, LogBusyLimit);
        if (!progress.MoveOn(Progress::Stage::Writing, report)) AwaitTheWatchdog(platform);
        Write(output, report.line, logClause);
        if (watchdog && !watchdog->LetGo()) AwaitTheWatchdog(platform);
        return report.exitCode;
    } catch (...) {
        // Out of memory before the run began: the exit code says it.
        return ExitCode::Failed;
    }
}

void AwaitTheWatchdog(Platform& platform) {
    for (;;) platform.Pause(std::chrono::hours(1));
}

}  // namespace tarnwick
