#include "app/Form1.h"
#include "patch/Locations.h"
#include "picker/Module1.h"
#include "platform/Failure.h"

namespace tarnwick {

namespace {
constexpr std::wstring_view CannotFindFolder =
    L"Tarnwick cannot find your Firefox folder, would you like to locate it?";
constexpr std::wstring_view ConfirmUndo =
    L"This will undo the patch, are you sure you want to do this?";
constexpr std::wstring_view TweakRemoved = L"Tweak Removed. Thankyou for trying out the patch.";
constexpr std::wstring_view FolderPrompt = L"Please select your FireFox Directory";
}  // namespace

std::wstring Form1::AskForBrowserFolder() {
    return Module1::PickFolder(platform_, std::wstring(FolderPrompt), *this);
}

void Form1::Command1_Click() {
    if (DirectoryExists(std::wstring(DefaultFolder))) {
        BrowserFolder = DefaultFolder;
    } else if (FileExists(std::wstring(DefaultPrefsFile))) {
        // The folder turned up between the two probes: the file was found
        // there, so that is the folder to patch.
        BrowserFolder = DefaultFolder;
    } else {
        if (platform_.ShowMessage(std::wstring(CannotFindFolder), Style::YesNoExclamation) !=
            Answer::Yes) {
            platform_.EndProgram();
        }
        BrowserFolder = AskForBrowserFolder();
        if (BrowserFolder.empty()) platform_.EndProgram();
    }

    if (DirectoryExists(std::wstring(MarkerFolder))) {
        if (platform_.ShowMessage(std::wstring(ConfirmUndo), Style::YesNoExclamation) ==
            Answer::Yes) {
            if (!FormFileSystem) FormFileSystem = platform_.NewFileSystemObject();
            FormFileSystem->DeleteFolder(std::wstring(MarkerFolder), false);
            RestoreOrRemovePreferences();
            platform_.ShowMessage(std::wstring(TweakRemoved), Style::OkSystemModal);
        }
    } else {
        ApplyPatch();
    }
    platform_.EndProgram();
}

// A user.js kept from before the tweak goes back in place; otherwise the
// file goes. A file that is already gone is the state undo wants.
void Form1::RestoreOrRemovePreferences() {
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
