#include "app/Form1.h"
#include "patch/Locations.h"
#include "platform/Failure.h"

namespace tarnwick {

namespace {
constexpr std::wstring_view PatchingComplete = L"Patching is complete.";
constexpr std::wstring_view LookAgain =
    L"Tarnwick could not find Firefox in this folder, would you like to look again?";

std::wstring FolderOf(const std::wstring& path) {
    const auto slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}
}  // namespace

// Tries the chosen folder until the patch is in, the user gives up, or
// cancels the folder dialog. The failure handler itself is not guarded: a
// failure in the dialog goes to the run-time error box.
void Form1::ApplyPatch() {
    while (!TryApplyOnce()) {
        if (platform_.ShowMessage(std::wstring(LookAgain), Style::YesNoExclamation) !=
            Answer::Yes) {
            platform_.EndProgram();
        }
        BrowserFolder = AskForBrowserFolder();
        if (BrowserFolder.empty()) platform_.EndProgram();
    }
}

bool Form1::TryApplyOnce() {
    try {
        WritePreferences(BrowserFolder + std::wstring(PrefsRelativePath));
        // Undo only knows the default folder, so only a patch there is
        // recorded; a marker elsewhere would promise an undo that cannot be.
        if (platform_.SamePath(BrowserFolder, std::wstring(DefaultFolder)) &&
            !DirectoryExists(std::wstring(MarkerFolder))) {
            platform_.CreateFolder(std::wstring(MarkerFolder));
        }
        platform_.ShowMessage(std::wstring(PatchingComplete), Style::OkInformation);
        return true;
    } catch (const Failure&) {
        return false;
    }
}

// Writes the new file beside the old one and swaps it in whole, so a failed
// write never leaves a cut-off user.js. A different user.js found there is
// kept once, the first time, so undo can put the original back.
void Form1::WritePreferences(const std::wstring& prefsPath) {
    const std::wstring folder = FolderOf(prefsPath);
    const std::optional<std::string> earlier = platform_.ReadFileForReplace(prefsPath);

    auto file = platform_.CreateTemporaryFile(folder);
    const std::string bytes = platform_.ToAnsi(controls_.Text1.Text()) + "\r\n";
    file->Write(bytes);

    if (earlier && *earlier != bytes) {
        const std::wstring backupPath = prefsPath + std::wstring(PrefsBackupSuffix);
        if (!FileExists(backupPath)) {
            auto backup = platform_.CreateTemporaryFile(folder);
            backup->Write(*earlier);
            backup->Commit(backupPath, false);
        }
    }
    file->Commit(prefsPath, true);
}

}  // namespace tarnwick
