#include "patch/Locations.h"
#include "patch/PatchEngine.h"
#include "platform/Failure.h"

namespace tarnwick {

namespace {
constexpr std::wstring_view CannotFindFolder =
    L"Tarnwick cannot find your Firefox folder, would you like to locate it?";
constexpr std::wstring_view ConfirmUndo =
    L"This will undo the patch, are you sure you want to do this?";
constexpr std::wstring_view TweakRemoved = L"Tweak Removed. Thankyou for trying out the patch.";
}  // namespace

PatchEngine::PatchEngine(Platform& platform, Conversation& conversation,
                         std::function<std::wstring()> preferences)
    : platform_(platform), conversation_(conversation), preferences_(std::move(preferences)) {}

int PatchEngine::Show(Prompt prompt, std::wstring text, unsigned style) {
    return conversation_.Show(Message{prompt, std::move(text), style});
}

Result PatchEngine::Finish(Outcome outcome) { return Result{outcome, BrowserFolder, {}, {}, false}; }

Result PatchEngine::Command(Request request) {
    if (DirectoryExists(std::wstring(DefaultFolder))) {
        BrowserFolder = DefaultFolder;
    } else if (FileExists(std::wstring(DefaultPrefsFile))) {
        // The folder turned up between the two probes: the file was found
        // there, so that is the folder to patch.
        BrowserFolder = DefaultFolder;
    } else {
        if (Show(Prompt::LocateBrowser, std::wstring(CannotFindFolder), Style::YesNoExclamation) !=
            Answer::Yes)
            return Finish(Outcome::NotLocated);
        BrowserFolder = conversation_.ChooseBrowserFolder();
        if (BrowserFolder.empty()) return Finish(Outcome::NotLocated);
    }

    if (!DirectoryExists(std::wstring(MarkerFolder))) {
        // A command line asking for undo never gets a patch instead.
        if (request == Request::Undo) return Finish(Outcome::NotPatched);
        return ApplyPatch();
    }
    if (request == Request::Patch) return Finish(Outcome::AlreadyPatched);
    if (Show(Prompt::ConfirmUndo, std::wstring(ConfirmUndo), Style::YesNoExclamation) != Answer::Yes)
        return Finish(Outcome::UndoDeclined);
    if (!FormFileSystem) FormFileSystem = platform_.NewFileSystemObject();
    FormFileSystem->DeleteFolder(std::wstring(MarkerFolder), false);
    RestoreOrRemovePreferences();
    Show(Prompt::TweakRemoved, std::wstring(TweakRemoved), Style::OkSystemModal);
    return Finish(Outcome::Undone);
}

// A user.js kept from before the tweak goes back in place; otherwise the
// file goes. A file that is already gone is the state undo wants.
void PatchEngine::RestoreOrRemovePreferences() {
    const std::wstring prefs(DefaultPrefsFile);
    const std::wstring backup = prefs + std::wstring(PrefsBackupSuffix);
    if (FormFileSystem->FileExists(backup)) {
        platform_.MoveReplacing(backup, prefs);
        return;
    }
    try {
        platform_.RemoveFile(prefs);
    } catch (const Failure& failure) {
        if (!failure.IsNotFound()) throw;
    }
}

}  // namespace tarnwick
