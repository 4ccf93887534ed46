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
    if (file.already)
        return file.prefs + L" had been changed since the patch; the same file was kept already as " +
               file.kept + L".";
    if (file.staleOriginal)
        return file.prefs + L" was left by a patch that was never finished, and user.js has changed " +
               L"since, so Tarnwick kept it as " + file.kept + L".";
    return file.prefs + L" had been changed since the patch, so Tarnwick kept it as " + file.kept +
           L".";
}

void PatchEngine::ShowKeptFiles() {
    for (const KeptFile& file : KeptSoFar())
        Show(Prompt::ChangedFileKept, KeptFileText(file), Style::OkInformation);
}

bool PatchEngine::ChangedAnything() const {
    const std::lock_guard<std::mutex> guard(journal_);
    return changes_ != 0;
}

std::vector<KeptFile> PatchEngine::KeptSoFar() const {
    const std::lock_guard<std::mutex> guard(journal_);
    return kept_;
}

void PatchEngine::Changed() {
    const std::lock_guard<std::mutex> guard(journal_);
    ++changes_;
}

void PatchEngine::Kept(KeptFile file) {
    const std::lock_guard<std::mutex> guard(journal_);
    kept_.push_back(std::move(file));
}

// A failure that ends the command says whether it changed anything, and
// names every file it kept aside on the way.
Failure PatchEngine::TellingWhatWasDone(const Failure& failure, bool changed) {
    std::wstring text = failure.Description();
    text += changed ? L"\nWhat was done so far is safe, and the next run finishes it."
                    : L"\nNothing was changed.";
    for (const KeptFile& file : KeptSoFar()) text += L"\n" + KeptFileText(file);
    return Failure(failure.Code(), text);
}

Result PatchEngine::Finish(Outcome outcome) {
    Result result{outcome, BrowserFolder, {}, {}, {}, {}, KeptSoFar(), {}};
    return result;
}

// The (x86) folder is a known one only where Windows has it: on 32-bit
// Windows any signed-in user may make a folder of that name.
std::vector<const KnownInstall*> PatchEngine::KnownInstallsHere() {
    std::vector<const KnownInstall*> installs{&DefaultInstall};
    if (platform_.HasX86ProgramFiles()) installs.push_back(&X86Install);
    if (only_) std::erase_if(installs, [this](const KnownInstall* install) { return install != only_; });
    return installs;
}

// A browser is where its profile defaults folder is, in the default folder
// first; failing that, where its program file is. An empty folder left by
// an uninstaller, or a browser too new to have the profile defaults, never
// hides an older browser in the other folder.
const KnownInstall* PatchEngine::LocateKnownInstall() {
    const auto installs = KnownInstallsHere();
    for (const KnownInstall* install : installs)
        if (DirectoryExists(std::wstring(install->profileFolder))) return install;
    for (const KnownInstall* install : installs)
        if (FileExists(std::wstring(install->programFile))) return install;
    return nullptr;
}

const KnownInstall* PatchEngine::KnownInstallAt(const std::wstring& folder) {
    for (const KnownInstall* install : KnownInstallsHere())
        if (platform_.SamePath(folder, std::wstring(install->folder))) return install;
    return nullptr;
}

const KnownInstall* PatchEngine::FirstMarkedInstall() {
    for (const KnownInstall* install : KnownInstallsHere())
        if (DirectoryExists(std::wstring(install->marker))) return install;
    return nullptr;
}

bool PatchEngine::IsPatched() { return FirstMarkedInstall() != nullptr; }

Result PatchEngine::Command(Request request) {
    {
        const std::lock_guard<std::mutex> guard(journal_);
        kept_.clear();
        changes_ = 0;
    }
    undoing_ = false;
    if (request == Request::Undo) return Undo();  // it may still finish a patch that was cut short
    try {
        return PatchOrToggle(request);
    } catch (const Failure& failure) {
        if (undoing_) throw;  // the undo says itself what it did
        throw TellingWhatWasDone(failure, ChangedAnything());
    }
}

Result PatchEngine::PatchOrToggle(Request request) {
    if (const KnownInstall* marked = FirstMarkedInstall()) {
        if (request == Request::Toggle) {
            // Asked before any lock is taken: nobody waits on a person's answer.
            if (Show(Prompt::ConfirmUndo, std::wstring(ConfirmUndo), Style::YesNoExclamation) !=
                Answer::Yes)
                return Finish(Outcome::UndoDeclined);
            return Undo();
        }
        if (Result already = StillPatched(*marked); already.outcome == Outcome::AlreadyPatched)
            return already;
        // an undo took it out meanwhile: patch as usual
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
        const auto lock = LockRun(*browser, std::wstring(install.folder));
        if (IsMarked(*browser)) {
            result = Finish(Outcome::AlreadyPatched);
            result.folder = install.folder;
            result.marker = install.marker;
        }
    }
    return result;
}

// Every known folder in turn, whichever a click would patch: a tweak is
// never stranded in one folder because a browser turned up in another, nor
// kept in place by what another folder holds. A folder that fails is named,
// and the others are undone all the same.
Result PatchEngine::Undo() {
    undoing_ = true;
    Result result = Finish(Outcome::NotPatched);
    std::vector<FolderProblem> failed;
    const auto changesSoFar = [this] {
        const std::lock_guard<std::mutex> guard(journal_);
        return changes_;
    };
    for (const KnownInstall* install : KnownInstallsHere()) {
        const unsigned before = changesSoFar();
        bool tweakHere = false;
        try {
            WhileBusy([&] { UndoIn(*install, result, tweakHere); });
        } catch (const Failure& failure) {
            FolderProblem problem{std::wstring(install->folder), failure, tweakHere,
                                  changesSoFar() != before};
            (tweakHere ? failed : result.notes).push_back(std::move(problem));
        }
    }
    if (!result.undone.empty()) result.outcome = Outcome::Undone;
    if (!failed.empty()) {
        // 1618 only when every failure is a wait that ran out: then a later
        // run finishes the job, and deployment tools know to try again.
        long code = FailureCode::AnotherRunInProgress;
        std::wstring text;
        for (const FolderProblem& problem : failed) {
            if (code == FailureCode::AnotherRunInProgress) code = problem.failure.Code();
            text += (text.empty() ? L"" : L"\n") + problem.failure.Description() +
                    L"\nThe tweak is still in " + problem.folder +
                    (problem.changed ? L"; what was done there is safe, and the next undo finishes it."
                                     : L"; nothing was changed there.");
        }
        for (const std::wstring& folder : result.undone)
            text += L"\nThe tweak is removed from " + folder + L".";
        for (const FolderProblem& note : result.notes)
            text += L"\nTarnwick could not look into " + note.folder + L": " + note.failure.Description();
        for (const KeptFile& file : KeptSoFar()) text += L"\n" + KeptFileText(file);
        throw Failure(code, text);
    }
    Show(Prompt::TweakRemoved, std::wstring(TweakRemoved), Style::OkSystemModal);
    ShowKeptFiles();
    result.kept = KeptSoFar();
    return result;
}

// The marker stays until the file is right, and the kept original until
// the marker is gone: an undo that fails or is cut short leaves the tweak
// recorded, and the next undo finishes the job. Without a marker, a patch
// that was cut short is finished instead; what such a folder holds is only
// read, and a failure there keeps no other folder's undo from its work.
void PatchEngine::UndoIn(const KnownInstall& install, Result& result, bool& tweakHere) {
    const std::wstring folder(install.folder);
    const auto browser = HoldBrowserFolder(folder);
    if (!browser) return;
    tweakHere = IsMarked(*browser);
    const auto lock = LockRun(*browser, folder);
    const WorkFolders work = HoldWorkFolders(*browser, folder);
    if (IsMarked(*browser)) {
        tweakHere = true;  // marked meanwhile, if not before
        if (!FormFileSystem) FormFileSystem = platform_.NewFileSystemObject();
        // Read-only content in the marker stops the undo before the file
        // is touched.
        FormFileSystem->CheckDeleteFolder(*browser, std::wstring(MarkerName), false);
        auto kept = RestorePreferences(work);
        FormFileSystem->DeleteFolder(*browser, std::wstring(MarkerName), false);
        Changed();
        if (kept) {
            kept->Remove();
            Changed();
        }
    } else if (!FinishCutShortPatch(work, tweakHere)) {
        return;
    }
    result.undone.push_back(folder);
}

// The user.js kept from before the tweak is written back in place;
// otherwise the file goes, if it is the program's own. One that holds
// anything else was changed since the patch: a copy is kept aside first,
// never deleted or overwritten, and it goes again should the step after it
// fail. A file that is already gone is the state undo wants. The kept
// original itself stays until the marker has gone, and is handed back for
// that.
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
    const std::wstring prefsPath = work.folder + std::wstring(PrefsRelativePath);
    auto current = OpenBelowBrowser(*work.profile, PrefsName, prefsPath);
    std::wstring copy;
    if (current) {
        const std::string bytes = current->ReadAll();
        if (bytes == original) return kept;  // already back
        if (bytes != OwnBytes()) copy = KeepAside(work, bytes, prefsPath, original);
    }
    try {
        if (original) {
            auto file = NewTemporaryFile(*work.defaults);
            file->Write(*original);
            current.reset();
            file->Commit(*work.profile, std::wstring(PrefsName), true);
            Changed();
        } else if (current) {
            current->Remove();
            Changed();
        }
    } catch (const Failure&) {
        if (!copy.empty()) RemoveCopy(*work.defaults, copy);
        throw;
    }
    return kept;
}

// With no marker, a patch cut short may still have left its work behind:
// the payload with the original kept beside it (finished here by putting
// the original back), the payload alone where there was no user.js before
// (finished by removing it), or a kept original while user.js is missing
// (the patch was killed as it swapped them). A kept original beside any
// other user.js is no original any more: the administrator's current file
// stands, and the leftover goes, kept aside first unless it is the same.
// Everything is read first, shared with other readers; a file is opened to
// be changed only once there is something to change. True when the tweak
// was found and taken out; `tweakFound` says it was found.
bool PatchEngine::FinishCutShortPatch(const WorkFolders& work, bool& tweakFound) {
    if (!work.profile) return false;
    const std::wstring prefsPath = work.folder + std::wstring(PrefsRelativePath);
    const PathFacts prefs = InspectBelowBrowser(*work.profile, PrefsName, prefsPath);
    std::optional<std::string> current;
    if (prefs.exists && !prefs.folder) current = work.profile->ReadFile(std::wstring(PrefsName), MaxKeptBytes);
    HeldFolder* keptIn = work.defaults.get();
    std::optional<std::string> kept = keptIn->ReadFile(std::wstring(KeptOriginalName), MaxKeptBytes);
    if (!kept) {
        keptIn = work.profile.get();
        kept = keptIn->ReadFile(std::wstring(KeptOriginalName), MaxKeptBytes);
    }
    const std::wstring keptPath = work.folder +
                                  std::wstring(keptIn == work.defaults.get() ? DefaultsRelativePath
                                                                              : ProfileRelativePath) +
                                  std::wstring(KeptOriginalName);
    const bool payload = current == OwnBytes();
    tweakFound = payload || (kept && !prefs.exists);

    if (!kept) {
        if (!payload) return false;
        auto file = OpenBelowBrowser(*work.profile, PrefsName, prefsPath);
        if (!file) return false;
        file->Remove();
        Changed();
        return true;
    }
    if (tweakFound) {
        auto file = OpenBelowBrowser(*keptIn, KeptOriginalName, keptPath);
        if (!file) return false;
        file->MoveOnto(*work.profile, std::wstring(PrefsName), true);
        Changed();
        return true;
    }
    if (!current) return false;  // a user.js that cannot be read as a file is left alone
    auto file = OpenBelowBrowser(*keptIn, KeptOriginalName, keptPath);
    if (!file) return false;
    std::wstring copy;
    if (*kept != *current) copy = KeepAside(work, *kept, keptPath, std::nullopt, true);
    try {
        file->Remove();
        Changed();
    } catch (const Failure&) {
        if (!copy.empty()) RemoveCopy(*work.defaults, copy);
        throw;
    }
    return false;
}

}  // namespace tarnwick
