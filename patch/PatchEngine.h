#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "patch/BrowserVersion.h"
#include "patch/Locations.h"
#include "platform/Failure.h"
#include "platform/Platform.h"

namespace tarnwick {

// Everything the engine says or asks on its way, each with its own text and
// box style. Whoever is at the other end answers: a person at the window,
// or a command line that settled every answer before the run began.
enum class Prompt {
    LocateBrowser,     // Yes/No: the browser is not in its default folder
    LookAgain,         // Yes/No: the folder could not be patched
    PatchAnyway,       // Yes/No: the browser's version would ignore the tweak
    ConfirmUndo,       // Yes/No
    PatchingComplete,  // OK
    TweakRemoved,      // OK
    ChangedFileKept,   // OK: a user.js changed since the patch was kept under a new name
};

struct Message {
    Prompt prompt;
    std::wstring text;
    unsigned style;
};

class Conversation {
public:
    virtual ~Conversation() = default;
    // Shows or answers the message; returns the button pressed. Only Yes
    // is acted on.
    virtual int Show(const Message& message) = 0;
    // The browser's folder, ending in a backslash; "" when none was given.
    virtual std::wstring ChooseBrowserFolder() = 0;
    // Another run is changing files in the browser's folder, and this one
    // waits for it, a minute at most: told how long it has waited each time
    // it is about to look again, and told once when the wait is over.
    virtual void WaitingForAnotherRun(std::chrono::milliseconds waited) = 0;
    virtual void DoneWaiting() = 0;
};

// What a command is allowed to do. The button toggles: it undoes when the
// tweak is in place and applies it otherwise. A command line names one.
enum class Request { Toggle, Patch, Undo };

enum class Outcome {
    Patched,          // the file is written (and marked, in a known folder)
    Undone,           // file removed or the kept original put back, marker removed
    AlreadyPatched,   // a marker in place, once the lock is had: nothing done
    NotPatched,       // undo with no marker and no patch cut short: nothing done
    NotLocated,       // no browser found, and none chosen
    UndoDeclined,     // No to the undo question
    GaveUp,           // No (or cancel) after a folder could not be patched
    VersionDeclined,  // No to patching a browser that would ignore the tweak
};

// A file that had been changed since the patch, and where it is kept now.
struct KeptFile {
    std::wstring prefs;    // where it was
    std::wstring kept;     // where it is: defaults\user.js.changed-<n>
    bool already = false;  // the same bytes were kept there before: nothing new was written
    bool staleOriginal = false;  // it was a kept original that user.js has outgrown
};

// A known folder whose undo failed, or that could not be looked into.
struct FolderProblem {
    std::wstring folder;
    Failure failure;
    bool tweakLeft;  // the tweak is still there: the undo is not done
    bool changed;    // something was changed there before the failure
};

struct Result {
    Outcome outcome;
    std::wstring folder;             // the browser folder in use at the end
    std::optional<Failure> failure;  // GaveUp: what went wrong in that folder
    std::optional<FileVersion> version;  // VersionDeclined: what was found
    // Patched, AlreadyPatched: the marker of the folder; empty when the
    // folder is not a known one and nothing records the tweak.
    std::wstring marker;
    std::vector<std::wstring> undone;  // Undone: each folder the tweak was taken out of
    std::vector<KeptFile> kept;        // changed files kept aside, whatever the outcome
    // Undone, NotPatched: folders without the tweak that could not be looked into.
    std::vector<FolderProblem> notes;
};

// What the person is told of a file kept aside, in a box and on the line.
std::wstring KeptFileText(const KeptFile& file);

// A kept original larger than this cannot be told from the file it is
// compared with, so that file is kept aside too.
inline constexpr std::size_t MaxKeptBytes = 64 * 1024 * 1024;

// "user.js.changed-<n>", any letter case.
bool IsChangedName(std::wstring_view name);

// The patch engine: finds the browser, then applies or removes the tweak.
// It reaches the OS only through Platform and the user only through
// Conversation, so the window and the command line run one algorithm.
// A failure it does not handle itself passes to the caller uncaught.
class PatchEngine {
public:
    // `preferences` gives the text to write, read at the moment of writing.
    PatchEngine(Platform& platform, Conversation& conversation,
                std::function<std::wstring()> preferences);

    Result Command(Request request);

    bool DirectoryExists(const std::wstring& Dir);
    bool FileExists(const std::wstring& File);

    // Whether the tweak is in place: a known folder's marker is there. What
    // the button offers at start-up, and what a click does.
    bool IsPatched();

    const std::wstring& browserFolder() const { return BrowserFolder; }

    // What the command has done so far; asked from another thread, the
    // watchdog's, while the command may be blocked.
    bool ChangedAnything() const;
    std::vector<KeptFile> KeptSoFar() const;

    // The known folders on this machine, in the order a click looks at them;
    // only `install` once OnlyIn has named it.
    std::vector<const KnownInstall*> KnownInstallsHere();
    void OnlyIn(const KnownInstall* install) { only_ = install; }

private:
    // The known folder a click patches without asking; null when there is none.
    const KnownInstall* LocateKnownInstall();
    const KnownInstall* KnownInstallAt(const std::wstring& folder);
    const KnownInstall* FirstMarkedInstall();

    Result PatchOrToggle(Request request);
    Result ApplyPatch();
    // One attempt at the main path of ApplyPatch, in the held folder.
    void ApplyOnce(HeldFolder& browser, const KnownInstall* known);
    // Runs `step` again while a file it needs is busy, for a minute at most.
    void WhileBusy(const std::function<void()>& step);
    std::optional<FileVersion> BrowserVersionIn(HeldFolder& browser);
    void WritePreferences(HeldFolder& browser, const KnownInstall* known);
    Result StillPatched(const KnownInstall& install);
    Result Undo();
    void UndoIn(const KnownInstall& install, Result& result, bool& tweakHere);

    // The file layer below a browser folder: every name is opened through
    // the folder that holds it, and no link is followed.
    struct WorkFolders {
        std::wstring folder;  // the browser's folder, as messages name it
        std::unique_ptr<HeldFolder> defaults, profile;  // null: not there
    };
    WorkFolders HoldWorkFolders(HeldFolder& browser, const std::wstring& folder);
    std::unique_ptr<HeldFolder> HoldBrowserFolder(const std::wstring& folder);
    std::unique_ptr<HeldFolder> HoldBelowBrowser(HeldFolder& in, std::wstring_view name,
                                                 const std::wstring& path);
    std::unique_ptr<ExistingFile> OpenBelowBrowser(HeldFolder& in, std::wstring_view name,
                                                   const std::wstring& path);
    PathFacts InspectBelowBrowser(HeldFolder& in, std::wstring_view name, const std::wstring& path);
    std::unique_ptr<ExistingFile> OpenKeptOriginal(const WorkFolders& work);
    bool IsMarked(HeldFolder& browser);
    std::unique_ptr<RunLock> LockRun(HeldFolder& browser, const std::wstring& folder);
    std::unique_ptr<TemporaryFile> NewTemporaryFile(HeldFolder& defaults);
    void SweepTemporaryFiles(const WorkFolders& work);
    // A copy of `bytes` kept aside in defaults\ unless the same is kept
    // there already; returns the name of a copy it made, "" when none.
    std::wstring KeepAside(const WorkFolders& work, const std::string& bytes, const std::wstring& from,
                           const std::optional<std::string>& keptOriginal, bool staleOriginal = false);
    std::wstring CopyInto(HeldFolder& folder, const std::wstring& name, const std::string& bytes,
                          bool replace);
    void RemoveCopy(HeldFolder& folder, const std::wstring& name) noexcept;
    void RefuseTakenMarkerName(HeldFolder& browser);
    std::unique_ptr<ExistingFile> RestorePreferences(const WorkFolders& work);
    bool FinishCutShortPatch(const WorkFolders& work, bool& tweakFound);
    std::string OwnBytes();
    void Changed();
    void Kept(KeptFile file);
    Failure TellingWhatWasDone(const Failure& failure, bool changed);

    Result Finish(Outcome outcome);
    int Show(Prompt prompt, std::wstring text, unsigned style);
    void ShowKeptFiles();

    Platform& platform_;
    Conversation& conversation_;
    std::function<std::wstring()> preferences_;
    mutable std::mutex journal_;  // guards the two below
    std::vector<KeptFile> kept_;  // this command's files kept aside
    unsigned changes_ = 0;        // changes made by this command
    bool undoing_ = false;        // the command is an undo: it reports for itself
    const KnownInstall* only_ = nullptr;  // the one known folder to use; null: all

    std::wstring BrowserFolder;
    std::unique_ptr<FileSystemObject> FormFileSystem;
};

}  // namespace tarnwick
