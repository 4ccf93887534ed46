#include "patch/Locations.h"
#include "patch/PatchEngine.h"
#include "platform/Failure.h"

namespace tarnwick {

namespace {
constexpr std::wstring_view PatchingComplete = L"Patching is complete.";
constexpr std::wstring_view LookAgain =
    L"Tarnwick could not find Firefox in this folder, would you like to look again?";
}  // namespace

// Tries the chosen folder until the patch is in, the user gives up, or
// cancels the folder dialog. Each folder's browser is asked its version
// before anything is written there. The files are changed under the run
// lock, and every question waits outside it. The failure handler itself is
// not guarded: a failure in the dialog passes to the caller.
Result PatchEngine::ApplyPatch(bool patchedAtProbe) {
    for (;;) {
        const KnownInstall* known = KnownInstallAt(BrowserFolder);
        if (!patchedAtProbe) {
            const auto version =
                platform_.ProductVersion(BrowserFolder + std::wstring(BrowserProgramName));
            if (version && TweakEffectOn(*version) != TweakEffect::Works &&
                Show(Prompt::PatchAnyway, PatchAnywayText(*version), Style::YesNoExclamation) !=
                    Answer::Yes) {
                Result declined = Finish(Outcome::VersionDeclined);
                declined.version = version;
                return declined;
            }
        }
        patchedAtProbe = false;

        bool already = false;
        std::optional<Failure> failure;
        {
            const auto lock = platform_.LockRun();
            // Another run may have put the tweak in place meanwhile.
            already = known && DirectoryExists(std::wstring(known->marker));
            if (!already) failure = TryApplyOnce(known);
        }
        if (!failure) {
            Show(Prompt::PatchingComplete, std::wstring(PatchingComplete), Style::OkInformation);
            Result patched = Finish(already ? Outcome::AlreadyPatched : Outcome::Patched);
            if (known) patched.marker = known->marker;
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

// Only a known folder is marked: undo reaches nothing else.
std::optional<Failure> PatchEngine::TryApplyOnce(const KnownInstall* known) {
    try {
        WritePreferences(BrowserFolder);
        if (known && !DirectoryExists(std::wstring(known->marker)))
            platform_.CreateFolder(std::wstring(known->marker));
        return std::nullopt;
    } catch (const Failure& failure) {
        return failure;
    }
}

// Writes the new file beside the profile folder and swaps it in whole, so
// a failed write never leaves a cut-off user.js. A different user.js found
// there is kept once, the first time, so undo can put the original back.
void PatchEngine::WritePreferences(const std::wstring& folder) {
    const WorkFolders held = HoldWorkFolders(folder);
    if (!held.profile)
        throw Failure(FailureCode::PathNotFound,
                      L"There is no such folder.\n" + folder + std::wstring(ProfileRelativePath));

    const std::wstring prefsPath = folder + std::wstring(PrefsRelativePath);
    std::optional<std::string> earlier;
    if (auto existing = OpenBelowBrowser(prefsPath)) earlier = existing->ReadAll();

    const std::string bytes = OwnBytes();
    auto file = NewTemporaryFile(folder + std::wstring(DefaultsRelativePath));
    file->Write(bytes);
    KeepOriginal(folder, earlier, bytes);
    file->Commit(prefsPath, true);
}

// An original kept by an earlier version inside the profile folder is
// moved up out of it, where the browser does not copy it into profiles.
void PatchEngine::KeepOriginal(const std::wstring& folder, const std::optional<std::string>& earlier,
                               const std::string& bytes) {
    const std::wstring keptPath = folder + std::wstring(KeptOriginalRelativePath);
    if (IsFileBelowBrowser(keptPath)) return;
    if (auto kept = OpenBelowBrowser(folder + std::wstring(EarlierKeptOriginalRelativePath))) {
        kept->MoveOnto(keptPath);
        return;
    }
    if (!earlier || *earlier == bytes) return;
    auto copy = NewTemporaryFile(folder + std::wstring(DefaultsRelativePath));
    copy->Write(*earlier);
    copy->Commit(keptPath, false);
}

}  // namespace tarnwick
