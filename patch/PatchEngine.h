#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
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
    bool staleOriginal = false;    // it was a kept original that user.js has outgrown
    bool earlierOriginal = false;  // an earlier version's kept original, beside the one kept now
};

// What is known of the tweak in a known folder whose undo failed.
enum class TweakThere {
    Still,    // the marker, or the state of a patch cut short, is there
    Maybe,    // the folder could not be looked into
    Removed,  // this run took it out; what failed came after
    No,       // it was not there
};

// A known folder whose undo failed, or that could not be looked into.
struct FolderProblem {
    std::wstring folder;
    Failure failure;
    TweakThere tweak;
    bool changed;  // something was changed there before the failure
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
    bool noBrowser = false;  // GaveUp: no browser there, found before anything was changed
};

// What a command has done so far: what its failure and the watchdog's last
// word tell.
struct Done {
    bool changed = false;  // a change made, or, for a run stopped, one issued that may land yet
    std::vector<std::wstring> undone;     // folders the tweak was taken out of
    std::vector<FolderProblem> problems;  // folders an undo could not finish
    std::vector<KeptFile> kept;
};

// How the telling ends a command's text.
enum class Told {
    Failed,        // a failure: whether anything was changed
    Stopped,       // the run limit: the same, and to try again when nothing was
    FolderByFolder // an undo at its end: each problem folder says it for itself
};

// The one telling of what a command did: `head` (what stopped it), then
// the sentences of `done`. Lines are joined with "\n".
std::wstring TellWhatWasDone(const std::wstring& head, const Done& done, Told told);

// What the person is told of a file kept aside, in a box and on the line.
std::wstring KeptFileText(const KeptFile& file);

// Raised where a changing step would be issued after the watchdog stopped
// the run. Deliberately not a std::exception: no failure handler takes it
// for a failure, and nothing more is done or said.
struct RunStopped {};

// A kept original larger than this cannot be told from the file it is
// compared with, so that file is kept aside too.
inline constexpr std::size_t MaxKeptBytes = 64 * 1024 * 1024;

// "user.js.changed-<n>", any letter case, with any number of digits.
bool IsChangedName(std::wstring_view name);
// The number after `digits`, as digits: numbers of any length, leading
// zeros ignored ("" is zero).
std::wstring NextNumber(std::wstring_view digits);
// Whether `a` is the smaller number.
bool NumberLess(std::wstring_view a, std::wstring_view b);

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

    // What the command has done so far.
    Done DoneSoFar() const;
    // The watchdog's, from its own thread while a step may be blocked: from
    // now on no changing step is issued (it raises RunStopped instead), and
    // what the command had done is read at the same moment, a step issued
    // and not yet returned counting as a change.
    Done Stop();

    // The known folders on this machine, in the order a click looks at them;
    // only `install` once OnlyIn has named it.
    std::vector<const KnownInstall*> KnownInstallsHere();
    void OnlyIn(const KnownInstall* install) { only_ = install; }

private:
    // A step lent to the engine for one call, which runs it at once and keeps
    // nothing of it: no copy, no allocation.
    class Step {
    public:
        template <typename Run>
        Step(Run&& run)
            : run_(&run), call_([](void* run) { (*static_cast<std::remove_reference_t<Run>*>(run))(); }) {}
        void operator()() const { call_(run_); }

    private:
        void* run_;
        void (*call_)(void*);
    };

    // The known folder a click patches without asking; null when there is none.
    const KnownInstall* LocateKnownInstall();
    const KnownInstall* KnownInstallAt(const std::wstring& folder);
    const KnownInstall* FirstMarkedInstall();

    Result PatchOrToggle(Request request);
    Result ApplyPatch();
    // One attempt at the main path of ApplyPatch, in the held folder; false
    // when there is no profile defaults folder there.
    bool ApplyOnce(HeldFolder& browser, const KnownInstall* known);
    // Runs `step` again while a file it needs is busy, for a minute at most.
    void WhileBusy(Step step);
    std::optional<FileVersion> BrowserVersionIn(HeldFolder& browser);
    bool WritePreferences(HeldFolder& browser, const KnownInstall* known);
    Result StillPatched(const KnownInstall& install);
    Result Undo(const KnownInstall* markedFirst);

    // What one folder's undo knows so far; kept across the tries of a busy folder.
    struct FolderUndo {
        TweakThere tweak = TweakThere::Maybe;
        bool removed = false;  // this run took the tweak out
    };
    void UndoIn(const KnownInstall& install, FolderUndo& state);

    // The file layer below a browser folder: every name is opened through
    // the folder that holds it, and no link is followed.
    struct WorkFolders {
        std::wstring folder;  // the browser's folder, as messages name it
        std::unique_ptr<HeldFolder> defaults, profile;  // null: not there
    };
    // A folder's kept originals, opened to be changed: the one in defaults\,
    // or else an earlier version's in defaults\profile; and that earlier one
    // beside the first, a leftover.
    struct KeptOriginals {
        std::unique_ptr<ExistingFile> original, leftover;
        std::wstring originalPath, leftoverPath;
        std::optional<std::string> originalBytes, leftoverBytes;
    };
    WorkFolders HoldWorkFolders(HeldFolder& browser, const std::wstring& folder);
    std::unique_ptr<HeldFolder> HoldBrowserFolder(const std::wstring& folder);
    std::unique_ptr<HeldFolder> HoldBelowBrowser(HeldFolder& in, std::wstring_view name,
                                                 const std::wstring& path);
    std::unique_ptr<ExistingFile> OpenBelowBrowser(HeldFolder& in, std::wstring_view name,
                                                   const std::wstring& path);
    std::unique_ptr<ExistingFile> OpenLeftover(HeldFolder& in, const std::wstring& path);
    PathFacts InspectBelowBrowser(HeldFolder& in, std::wstring_view name, const std::wstring& path);
    KeptOriginals OpenKeptOriginals(const WorkFolders& work, bool withLeftover);
    bool IsMarked(HeldFolder& browser);
    std::unique_ptr<RunLock> LockRun(HeldFolder& browser, const std::wstring& folder);
    std::unique_ptr<TemporaryFile> NewTemporaryFile(HeldFolder& defaults);
    void SweepTemporaryFiles(const WorkFolders& work);
    // A copy of `bytes` kept aside in defaults\ unless the same is in place
    // (`inPlace`) or kept there already; returns the name of a copy it made,
    // "" when none. `kind` gives the flags the kept file is told with.
    std::wstring KeepAside(const WorkFolders& work, const std::string& bytes, const std::wstring& from,
                           const std::optional<std::string>& inPlace, const KeptFile& kind = {});
    // A kept original no longer needed: kept aside, then removed.
    void RemoveLeftover(const WorkFolders& work, ExistingFile& file, const std::string& bytes,
                        const std::wstring& path, const std::optional<std::string>& inPlace,
                        const KeptFile& kind);
    std::wstring CopyInto(HeldFolder& folder, const std::wstring& name, const std::string& bytes,
                          bool replace);
    void RemoveCopy(HeldFolder& folder, const std::wstring& name) noexcept;
    void RefuseTakenMarkerName(HeldFolder& browser);
    void UndoMarked(HeldFolder& browser, const WorkFolders& work, FolderUndo& state);
    std::optional<std::string> RestorePreferences(const WorkFolders& work, const KeptOriginals& kept);
    void FinishCutShortPatch(const WorkFolders& work, FolderUndo& state);
    std::string OwnBytes();
    // Issues one step that changes the disk: only while the run is not
    // stopped, and counted from the moment it is issued. Uncounted steps
    // take back or tidy up.
    void Change(Step step, bool counted = true);
    bool ChangedAnything() const;
    std::vector<KeptFile> KeptSoFar() const;
    void Kept(KeptFile file);
    Failure TellingWhatWasDone(const Failure& failure);

    Result Finish(Outcome outcome);
    int Show(Prompt prompt, std::wstring text, unsigned style);
    void ShowKeptFiles();

    Platform& platform_;
    Conversation& conversation_;
    std::function<std::wstring()> preferences_;
    // The journal of what this command did, read by the watchdog's thread.
    mutable std::mutex journal_;  // guards the members up to undoing_
    std::vector<KeptFile> kept_;  // files kept aside
    unsigned changes_ = 0;        // changes made
    unsigned inFlight_ = 0;       // changing steps issued that have not returned
    bool stopped_ = false;        // the watchdog stopped the run: no more changes
    std::vector<std::wstring> undone_;
    std::vector<FolderProblem> problems_;
    bool undoing_ = false;  // the command is an undo: it reports for itself
    const KnownInstall* only_ = nullptr;  // the one known folder to use; null: all

    std::wstring BrowserFolder;
    std::unique_ptr<FileSystemObject> FormFileSystem;
};

}  // namespace tarnwick
