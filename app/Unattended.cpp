#include "app/Unattended.h"

#include <new>

#include "patch/Locations.h"
#include "patch/Payload.h"
#include "platform/Decimal.h"
#include "platform/Failure.h"

namespace tarnwick {

namespace {

constexpr int No = 7;
constexpr int Ok = 1;

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

// A log keeps the first line and the exit code, which an installer running
// the program turns into its own.
void AppendToLog(Platform& platform, const std::wstring& log, int exitCode, const std::wstring& line) {
    if (log.empty()) return;
    platform.AppendToLog(log, L"exit " + DecimalText(exitCode) + L": " + line.substr(0, line.find(L'\r')));
}

int ExitCodeOf(const Failure& failure) {
    return failure.Code() == FailureCode::AnotherRunInProgress ? ExitCode::AnotherRunInProgress
                                                               : ExitCode::Failed;
}

Report Describe(const Result& result, bool x86) {
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

Report Run(Platform& platform, const std::vector<std::wstring>& arguments, Output& output) {
    const CommandLine command = ParseCommandLine(arguments);
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
    SwitchedConversation conversation(command);
    PatchEngine engine(platform, conversation, [] { return std::wstring(PreferencePayload); });
    const auto watchdog = platform.StartWatchdog(RunLimit, [&](const std::wstring& stuckOn) {
        const Done done = engine.Stop();
        const int exitCode = RunLimitExitCode(done.changed);
        const std::wstring line = L"Run-time error " + DecimalText(exitCode) + L": " +
                                  OneLine(RunLimitText(stuckOn, done));
        output.Write(line + L"\r\n");
        AppendToLog(platform, command.log, exitCode, line);
        return exitCode;
    });
    return Describe(engine.Command(command.verb == CommandLine::Verb::Patch ? Request::Patch
                                                                            : Request::Undo),
                    platform.HasX86ProgramFiles());
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
    Report report{ExitCode::Failed, {}};
    try {
        report = Run(platform, arguments, output);
    } catch (const Failure& failure) {
        report = {ExitCodeOf(failure), ErrorLine(failure)};
    } catch (const std::bad_alloc&) {
        report = {ExitCode::Failed, L"Run-time error 8: out of memory."};
    } catch (...) {
        report = {ExitCode::Failed, L"Run-time error: unexpected failure."};
    }
    try {
        if (!report.line.empty()) {
            if (report.line.size() < 2 || report.line.compare(report.line.size() - 2, 2, L"\r\n") != 0)
                report.line += L"\r\n";
            output.Write(report.line);
        }
    } catch (...) {
        // Nowhere to report to: the exit code still tells.
    }
    try {
        AppendToLog(platform, ParseCommandLine(arguments).log, report.exitCode, report.line);
    } catch (...) {
    }
    return report.exitCode;
}

}  // namespace tarnwick
