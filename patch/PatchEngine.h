#pragma once

#include <chrono>
#include <functional>
#include <memory>
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

// A user.js that had been changed since the patch, and where it is kept now.
struct KeptFile {
    std::wstring prefs;  // where it was
    std::wstring kept;   // where it is: defaults\user.js.changed-<n>
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
    std::vector<KeptFile> kept;        // Patched, Undone: changed files kept aside
};

// What the person is told of a file kept aside, in a box and on the line.
std::wstring KeptFileText(const KeptFile& file);

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

private:
    // The known folder a click patches without asking; null when there is none.
    const KnownInstall* LocateKnownInstall();
    const KnownInstall* KnownInstallAt(const std::wstring& folder);
    const KnownInstall* FirstMarkedInstall();

    Result ApplyPatch();
    // One attempt at the main path of ApplyPatch, in the held folder: the
    // failure, if a step failed.
    std::optional<Failure> TryApplyOnce(HeldFolder& browser, const KnownInstall* known);
    std::optional<FileVersion> BrowserVersionIn(HeldFolder& browser);
    void WritePreferences(HeldFolder& browser);
    Result StillPatched(const KnownInstall& install);
    Result Undo();
    void UndoIn(const KnownInstall& install, Result& result);

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
    std::unique_ptr<RunLock> LockRun(HeldFolder& browser);
    std::unique_ptr<TemporaryFile> NewTemporaryFile(HeldFolder& defaults);
    void SweepTemporaryFiles(const WorkFolders& work);
    void KeepOriginal(const WorkFolders& work, std::unique_ptr<ExistingFile> current,
                      const std::optional<std::string>& earlier, const std::string& bytes);
    void KeepChanged(const WorkFolders& work, std::unique_ptr<ExistingFile> file);
    std::unique_ptr<ExistingFile> RestorePreferences(const WorkFolders& work);
    bool FinishCutShortPatch(const WorkFolders& work);
    std::string OwnBytes();

    Result Finish(Outcome outcome);
    int Show(Prompt prompt, std::wstring text, unsigned style);
    void ShowKeptFiles();

    Platform& platform_;
    Conversation& conversation_;
    std::function<std::wstring()> preferences_;
    std::vector<KeptFile> kept_;  // this command's files kept aside

    std::wstring BrowserFolder;
    std::unique_ptr<FileSystemObject> FormFileSystem;
};

}  // namespace tarnwick
