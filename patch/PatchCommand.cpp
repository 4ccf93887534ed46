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

std::wstring KeptFileText(const KeptFile& file) {
    return file.prefs + L" had been changed since the patch, so Tarnwick kept it as " + file.kept +
           L".";
}

void PatchEngine::ShowKeptFiles() {
    for (const KeptFile& file : kept_)
        Show(Prompt::ChangedFileKept, KeptFileText(file), Style::OkInformation);
}

Result PatchEngine::Finish(Outcome outcome) {
    Result result{outcome, BrowserFolder, {}, {}, {}, {}, {}};
    result.kept = std::move(kept_);
    return result;
}

// A browser is where its profile defaults folder is, in the default folder
// first; failing that, where its program file is. An empty folder left by
// an uninstaller, or a browser too new to have the profile defaults, never
// hides an older browser in the other folder.
const KnownInstall* PatchEngine::LocateKnownInstall() {
    for (const KnownInstall* install : KnownInstalls)
        if (DirectoryExists(std::wstring(install->profileFolder))) return install;
    for (const KnownInstall* install : KnownInstalls)
        if (FileExists(std::wstring(install->programFile))) return install;
    return nullptr;
}

const KnownInstall* PatchEngine::KnownInstallAt(const std::wstring& folder) {
    for (const KnownInstall* install : KnownInstalls)
        if (platform_.SamePath(folder, std::wstring(install->folder))) return install;
    return nullptr;
}

const KnownInstall* PatchEngine::FirstMarkedInstall() {
    for (const KnownInstall* install : KnownInstalls)
        if (DirectoryExists(std::wstring(install->marker))) return install;
    return nullptr;
}

bool PatchEngine::IsPatched() { return FirstMarkedInstall() != nullptr; }

Result PatchEngine::Command(Request request) {
    kept_.clear();
    if (const KnownInstall* marked = FirstMarkedInstall()) {
        switch (request) {
            case Request::Undo:
                return Undo();
            case Request::Patch:
                if (Result already = StillPatched(*marked); already.outcome == Outcome::AlreadyPatched)
                    return already;
                break;  // an undo took it out meanwhile: patch as usual
            case Request::Toggle:
                // Asked before any lock is taken: nobody waits on a person's answer.
                if (Show(Prompt::ConfirmUndo, std::wstring(ConfirmUndo), Style::YesNoExclamation) !=
                    Answer::Yes)
                    return Finish(Outcome::UndoDeclined);
                return Undo();
        }
    } else if (request == Request::Undo) {
        return Undo();  // it may still finish a patch that was cut short
    }

    if (const KnownInstall* known = LocateKnownInstall()) {
        BrowserFolder = known->folder;
    } else {
        if (Show(Prompt::LocateBrowser, std::wstring(CannotFindFolder), Style::YesNoExclamation) !=
            Answer::Yes)
            return Finish(Outcome::NotLocated);
        BrowserFolder = conversation_.ChooseBrowserFolder();
        if (BrowserFolder.empty()) return Finish(Outcome::NotLocated);
    }
    return ApplyPatch();
}

// Looked at again once no other run can change the folder.
Result PatchEngine::StillPatched(const KnownInstall& install) {
    Result result = Finish(Outcome::NotPatched);
    if (auto browser = HoldBrowserFolder(std::wstring(install.folder))) {
        const auto lock = LockRun(*browser);
        if (IsMarked(*browser)) {
            result = Finish(Outcome::AlreadyPatched);
            result.folder = install.folder;
            result.marker = install.marker;
        }
    }
    return result;
}

// Every known folder in turn, whichever a click would patch: a tweak is
// never stranded in one folder because a browser turned up in another.
Result PatchEngine::Undo() {
    Result result = Finish(Outcome::NotPatched);
    for (const KnownInstall* install : KnownInstalls) UndoIn(*install, result);
    if (!result.undone.empty()) result.outcome = Outcome::Undone;
    Show(Prompt::TweakRemoved, std::wstring(TweakRemoved), Style::OkSystemModal);
    ShowKeptFiles();
    result.kept = std::move(kept_);
    return result;
}

// The marker stays until the file is right, and the kept original until
// the marker is gone: an undo that fails or is cut short leaves the tweak
// recorded, and the next undo finishes the job. Without a marker, a patch
// that was cut short is finished instead.
void PatchEngine::UndoIn(const KnownInstall& install, Result& result) {
    const std::wstring folder(install.folder);
    const auto browser = HoldBrowserFolder(folder);
    if (!browser) return;
    const auto lock = LockRun(*browser);
    const WorkFolders work = HoldWorkFolders(*browser, folder);
    if (IsMarked(*browser)) {
        if (!FormFileSystem) FormFileSystem = platform_.NewFileSystemObject();
        // Read-only content in the marker stops the undo before the file
        // is touched.
        FormFileSystem->CheckDeleteFolder(*browser, std::wstring(MarkerName), false);
        auto kept = RestorePreferences(work);
        FormFileSystem->DeleteFolder(*browser, std::wstring(MarkerName), false);
        if (kept) kept->Remove();
    } else if (!FinishCutShortPatch(work)) {
        return;
    }
    result.undone.push_back(folder);
}

// The user.js kept from before the tweak is written back in place;
// otherwise the file goes, if it is the program's own. One that holds
// anything else was changed since the patch: it is kept aside, never
// deleted or overwritten. A file that is already gone is the state undo
// wants. The kept original itself stays until the marker has gone, and is
// handed back for that.
std::unique_ptr<ExistingFile> PatchEngine::RestorePreferences(const WorkFolders& work) {
    if (!work.defaults) return nullptr;
    auto kept = OpenKeptOriginal(work);
    if (!work.profile) {
        if (kept)
            throw Failure(FailureCode::PathNotFound,
                          L"The kept user.js has no folder to go back to.\n" + work.folder +
                              std::wstring(ProfileRelativePath));
        return nullptr;
    }
    std::optional<std::string> original;
    if (kept) original = kept->ReadAll();
    if (auto current = OpenBelowBrowser(*work.profile, PrefsName,
                                        work.folder + std::wstring(PrefsRelativePath))) {
        const std::string bytes = current->ReadAll();
        if (bytes == original) return kept;  // already back
        if (bytes != OwnBytes()) {
            KeepChanged(work, std::move(current));
        } else if (!original) {
            current->Remove();
        }
    }
    if (original) {
        auto file = NewTemporaryFile(*work.defaults);
        file->Write(*original);
        file->Commit(*work.profile, std::wstring(PrefsName), true);
    }
    return kept;
}

// With no marker, a patch cut short may still have left its work behind:
// the payload with the original kept beside it (finished here by putting
// the original back), the payload alone where there was no user.js before
// (finished by removing it), or a copy of the original that it never used.
// True when the tweak was found and taken out.
bool PatchEngine::FinishCutShortPatch(const WorkFolders& work) {
    if (!work.profile) return false;
    auto kept = OpenKeptOriginal(work);
    std::optional<std::string> current;
    if (auto file = OpenBelowBrowser(*work.profile, PrefsName,
                                     work.folder + std::wstring(PrefsRelativePath))) {
        current = file->ReadAll();
        if (!kept && *current == OwnBytes()) {
            file->Remove();
            return true;
        }
    }
    if (!kept) return false;
    if (!current || *current == OwnBytes()) {
        kept->MoveOnto(*work.profile, std::wstring(PrefsName), true);
        return true;
    }
    if (*current == kept->ReadAll()) kept->Remove();
    return false;
}

}  // namespace tarnwick
