#include "patch/Locations.h"
#include "patch/PatchEngine.h"
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
// cancels the folder dialog. Each folder's browser is asked its version
// before anything is written there. The failure handler itself is not
// guarded: a failure in the dialog passes to the caller.
Result PatchEngine::ApplyPatch() {
    for (;;) {
        const auto version =
            platform_.ProductVersion(BrowserFolder + std::wstring(BrowserProgramName));
        if (version && TweakEffectOn(*version) != TweakEffect::Works &&
            Show(Prompt::PatchAnyway, PatchAnywayText(*version), Style::YesNoExclamation) !=
                Answer::Yes) {
            Result declined = Finish(Outcome::VersionDeclined);
            declined.version = version;
            return declined;
        }
        bool marked = false;
        auto failure = TryApplyOnce(marked);
        if (!failure) {
            Result patched = Finish(Outcome::Patched);
            patched.marked = marked;
            return patched;
        }
        if (Show(Prompt::LookAgain, std::wstring(LookAgain), Style::YesNoExclamation) != Answer::Yes ||
            (BrowserFolder = conversation_.ChooseBrowserFolder()).empty()) {
            Result gaveUp = Finish(Outcome::GaveUp);
            gaveUp.failure = std::move(failure);
            return gaveUp;
        }
    }
}

std::optional<Failure> PatchEngine::TryApplyOnce(bool& marked) {
    try {
        WritePreferences(BrowserFolder + std::wstring(PrefsRelativePath));
        // Undo only knows the default folder, so only a patch there is
        // recorded; a marker elsewhere would promise an undo that cannot be.
        if (platform_.SamePath(BrowserFolder, std::wstring(DefaultFolder))) {
            if (!DirectoryExists(std::wstring(MarkerFolder)))
                platform_.CreateFolder(std::wstring(MarkerFolder));
            marked = true;
        }
        Show(Prompt::PatchingComplete, std::wstring(PatchingComplete), Style::OkInformation);
        return std::nullopt;
    } catch (const Failure& failure) {
        return failure;
    }
}

// Writes the new file beside the old one and swaps it in whole, so a failed
// write never leaves a cut-off user.js. A different user.js found there is
// kept once, the first time, so undo can put the original back.
void PatchEngine::WritePreferences(const std::wstring& prefsPath) {
    const std::wstring folder = FolderOf(prefsPath);
    const std::optional<std::string> earlier = platform_.ReadFileForReplace(prefsPath);

    auto file = platform_.CreateTemporaryFile(folder);
    const std::string bytes = platform_.ToAnsi(preferences_()) + "\r\n";
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
