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

Result PatchEngine::Finish(Outcome outcome) { return Result{outcome, BrowserFolder, {}, {}, {}}; }

const KnownInstall* PatchEngine::LocateKnownInstall() {
    if (DirectoryExists(std::wstring(DefaultFolder))) return &DefaultInstall;
    // The folder turned up between the two probes: the file was found
    // there, so that is the folder to patch.
    if (FileExists(std::wstring(DefaultPrefsFile))) return &DefaultInstall;
    // Only where the default folder is missing: with browsers in both, the
    // default one is used and the other left alone.
    if (DirectoryExists(std::wstring(X86Folder))) return &X86Install;
    return nullptr;
}

const KnownInstall* PatchEngine::KnownInstallAt(const std::wstring& folder) {
    for (const KnownInstall* install : {&DefaultInstall, &X86Install})
        if (platform_.SamePath(folder, std::wstring(install->folder))) return install;
    return nullptr;
}

bool PatchEngine::IsPatched() {
    const KnownInstall* known = LocateKnownInstall();
    return DirectoryExists(std::wstring((known ? *known : DefaultInstall).marker));
}

Result PatchEngine::Command(Request request) {
    if (const KnownInstall* known = LocateKnownInstall()) {
        BrowserFolder = known->folder;
    } else {
        if (Show(Prompt::LocateBrowser, std::wstring(CannotFindFolder), Style::YesNoExclamation) !=
            Answer::Yes)
            return Finish(Outcome::NotLocated);
        BrowserFolder = conversation_.ChooseBrowserFolder();
        if (BrowserFolder.empty()) return Finish(Outcome::NotLocated);
    }

    // A chosen folder that is not a known one has no marker of its own: the
    // default folder's answers for it, as it always has.
    const KnownInstall* known = KnownInstallAt(BrowserFolder);
    const KnownInstall& recorded = known ? *known : DefaultInstall;
    const bool patched = DirectoryExists(std::wstring(recorded.marker));
    switch (request) {
        case Request::Patch:
            return ApplyPatch(patched);
        case Request::Undo:
            // Decided again once no other run can change the folder.
            return Undo(recorded);
        case Request::Toggle:
            break;
    }
    if (!patched) return ApplyPatch(false);
    // Asked before the lock is taken: nobody waits on a person's answer.
    if (Show(Prompt::ConfirmUndo, std::wstring(ConfirmUndo), Style::YesNoExclamation) != Answer::Yes)
        return Finish(Outcome::UndoDeclined);
    return Undo(recorded);
}

// The marker stays until the file is back: an undo that fails or is cut
// short leaves the tweak recorded, and the next undo finishes the job.
// Undo deletes only a user.js that holds exactly the program's own bytes,
// so it never deletes an original that an earlier undo already put back.
Result PatchEngine::Undo(const KnownInstall& install) {
    const std::wstring folder(install.folder);
    const std::wstring marker(install.marker);
    Outcome outcome = Outcome::Undone;
    {
        const auto lock = platform_.LockRun();
        if (DirectoryExists(marker)) {
            if (!FormFileSystem) FormFileSystem = platform_.NewFileSystemObject();
            // Read-only content in the marker stops the undo before the file
            // is touched.
            FormFileSystem->CheckDeleteFolder(marker, false);
            RestoreOrRemovePreferences(folder);
            FormFileSystem->DeleteFolder(marker, false);
        } else if (!FinishCutShortPatch(folder)) {
            outcome = Outcome::NotPatched;
        }
    }
    Show(Prompt::TweakRemoved, std::wstring(TweakRemoved), Style::OkSystemModal);
    Result result = Finish(outcome);
    result.folder = folder;
    result.marker = marker;
    return result;
}

// A user.js kept from before the tweak goes back in place; otherwise the
// file goes, if it is the program's own. A file that is already gone is
// the state undo wants.
void PatchEngine::RestoreOrRemovePreferences(const std::wstring& folder) {
    const WorkFolders held = HoldWorkFolders(folder);
    if (!held.defaults) return;
    const std::wstring prefs = folder + std::wstring(PrefsRelativePath);
    if (auto kept = OpenKeptOriginal(folder)) {
        if (!held.profile)
            throw Failure(FailureCode::PathNotFound,
                          L"The kept user.js has no folder to go back to.\n" + folder +
                              std::wstring(ProfileRelativePath));
        kept->MoveOnto(prefs);
        return;
    }
    if (!held.profile) return;
    if (auto file = OpenBelowBrowser(prefs); file && file->ReadAll() == OwnBytes()) file->Remove();
}

// With no marker, a patch cut short may still have left its work behind:
// the payload with the original kept beside it (finished here by putting
// the original back), or a copy of the original that it never used.
// True when the tweak was found and taken out.
bool PatchEngine::FinishCutShortPatch(const std::wstring& folder) {
    const WorkFolders held = HoldWorkFolders(folder);
    if (!held.profile) return false;
    auto kept = OpenKeptOriginal(folder);
    if (!kept) return false;
    const std::wstring prefs = folder + std::wstring(PrefsRelativePath);
    std::optional<std::string> current;
    if (auto file = OpenBelowBrowser(prefs)) current = file->ReadAll();
    if (!current || *current == OwnBytes()) {
        kept->MoveOnto(prefs);
        return true;
    }
    if (*current == kept->ReadAll()) kept->Remove();
    return false;
}

}  // namespace tarnwick
