#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

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
};

// What a command is allowed to do. The button toggles: it undoes when the
// tweak is in place and applies it otherwise. A command line names one.
enum class Request { Toggle, Patch, Undo };

enum class Outcome {
    Patched,          // the file is written (and marked, in a known folder)
    Undone,           // file removed or the kept original put back, marker removed
    AlreadyPatched,   // the marker in place, before or once the lock is had: nothing done
    NotPatched,       // undo with no marker and no patch cut short: nothing done
    NotLocated,       // no browser found, and none chosen
    UndoDeclined,     // No to the undo question
    GaveUp,           // No (or cancel) after a folder could not be patched
    VersionDeclined,  // No to patching a browser that would ignore the tweak
};

struct Result {
    Outcome outcome;
    std::wstring folder;             // the browser folder in use at the end
    std::optional<Failure> failure;  // GaveUp: what went wrong in that folder
    std::optional<FileVersion> version;  // VersionDeclined: what was found
    // Patched, AlreadyPatched, Undone, NotPatched: the marker of the folder;
    // empty when the folder is not a known one and nothing records the tweak.
    std::wstring marker;
};

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

    // Whether the marker of the folder a click would use is there: what the
    // button offers at start-up.
    bool IsPatched();

    const std::wstring& browserFolder() const { return BrowserFolder; }

private:
    // The known folder a click uses without asking; null when there is none.
    const KnownInstall* LocateKnownInstall();
    const KnownInstall* KnownInstallAt(const std::wstring& folder);

    Result ApplyPatch(bool patchedAtProbe);
    // One attempt at the main path of ApplyPatch: the failure, if a step failed.
    std::optional<Failure> TryApplyOnce(const KnownInstall* known);
    void WritePreferences(const std::wstring& folder);
    void KeepOriginal(const std::wstring& folder, const std::optional<std::string>& earlier,
                      const std::string& bytes);
    Result Undo(const KnownInstall& install);
    void RestoreOrRemovePreferences(const std::wstring& folder);
    bool FinishCutShortPatch(const std::wstring& folder);

    // The file layer below a browser folder, where no link is followed.
    struct WorkFolders {
        std::unique_ptr<HeldFolder> defaults, profile;  // null: not there
    };
    WorkFolders HoldWorkFolders(const std::wstring& folder);
    std::unique_ptr<HeldFolder> HoldBelowBrowser(const std::wstring& path);
    std::unique_ptr<ExistingFile> OpenBelowBrowser(const std::wstring& path);
    std::unique_ptr<ExistingFile> OpenKeptOriginal(const std::wstring& folder);
    bool IsFileBelowBrowser(const std::wstring& path);
    std::unique_ptr<TemporaryFile> NewTemporaryFile(const std::wstring& folder);
    void SweepTemporaryFiles(const std::wstring& folder);
    std::string OwnBytes();

    Result Finish(Outcome outcome);
    int Show(Prompt prompt, std::wstring text, unsigned style);

    Platform& platform_;
    Conversation& conversation_;
    std::function<std::wstring()> preferences_;

    std::wstring BrowserFolder;
    std::unique_ptr<FileSystemObject> FormFileSystem;
};

}  // namespace tarnwick
