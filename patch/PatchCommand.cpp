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
    if (file.earlierOriginal)
        return file.prefs + L" was kept by an earlier version of Tarnwick and differs from the original " +
               L"kept now, so Tarnwick kept it as " + file.kept + L".";
    return file.prefs + L" had been changed since the patch, so Tarnwick kept it as " + file.kept +
           L".";
}

namespace {
std::wstring FolderSentence(const FolderProblem& problem) {
    std::wstring text;
    switch (problem.tweak) {
        case TweakThere::Still:
            text = L"The tweak is still in ";
            break;
        case TweakThere::Maybe:
            text = L"The tweak may still be in ";
            break;
        case TweakThere::Removed:
            text = L"The tweak is removed from ";
            break;
        case TweakThere::No:
            text = L"The tweak is not in ";
            break;
    }
    return text + problem.folder +
           (problem.changed ? L"; what was done there is safe, and the next undo finishes it."
                            : L"; nothing was changed there.");
}
}  // namespace

std::wstring TellWhatWasDone(const std::wstring& head, const Done& done, Told told) {
    std::wstring text = head;
    const auto add = [&text](const std::wstring& line) {
        if (!text.empty()) text += L'\n';
        text += line;
    };
    for (const FolderProblem& problem : done.problems) {
        add(problem.failure.Description());
        add(FolderSentence(problem));
    }
    if (told != Told::FolderByFolder) {
        if (done.changed)
            add(L"What was done so far is safe, and the next run finishes it.");
        else
            add(told == Told::Stopped ? L"Nothing was changed. Try again later." : L"Nothing was changed.");
    }
    for (const std::wstring& folder : done.undone) add(L"The tweak is removed from " + folder + L".");
    for (const KeptFile& file : done.kept) add(KeptFileText(file));
    return text;
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

Done PatchEngine::DoneSoFar() const {
    const std::lock_guard<std::mutex> guard(journal_);
    return Done{changes_ != 0, undone_, problems_, kept_};
}

Done PatchEngine::Stop() {
    const std::lock_guard<std::mutex> guard(journal_);
    stopped_ = true;
    return Done{changes_ != 0 || inFlight_ != 0, undone_, problems_, kept_};
}

// The watchdog reads the journal under the same lock, so a step is either
// issued before it stops the run, and counted, or never issued at all: "nothing
// was changed" can never follow a change that lands after all.
void PatchEngine::Change(Step step, bool counted) {
    {
        const std::lock_guard<std::mutex> guard(journal_);
        if (stopped_) throw RunStopped{};
        ++inFlight_;
    }
    try {
        step();
    } catch (...) {
        const std::lock_guard<std::mutex> guard(journal_);
        --inFlight_;
        throw;
    }
    const std::lock_guard<std::mutex> guard(journal_);
    --inFlight_;
    if (counted) ++changes_;
}

void PatchEngine::Kept(KeptFile file) {
    const std::lock_guard<std::mutex> guard(journal_);
    kept_.push_back(std::move(file));
}

// A failure that ends the command says whether it changed anything, and
// names every file it kept aside on the way.
Failure PatchEngine::TellingWhatWasDone(const Failure& failure) {
    Done done = DoneSoFar();
    return Failure(failure.Code(), TellWhatWasDone(failure.Description(), done, Told::Failed));
}

Result PatchEngine::Finish(Outcome outcome) {
    Result result{outcome, BrowserFolder, {}, {}, {}, {}, KeptSoFar()};
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
        if (stopped_) throw RunStopped{};
        kept_.clear();
        changes_ = 0;
        undone_.clear();
        problems_.clear();
    }
    undoing_ = false;
    if (request == Request::Undo) {
        // The marked folders first. A probe that cannot answer only leaves
        // the order as it is: each folder is looked at under its lock anyway.
        const KnownInstall* marked = nullptr;
        try {
            marked = FirstMarkedInstall();
        } catch (const Failure&) {
        }
        return Undo(marked);  // it may still finish a patch that was cut short
    }
    try {
        return PatchOrToggle(request);
    } catch (const Failure& failure) {
        if (undoing_) throw;  // the undo says itself what it did
        throw TellingWhatWasDone(failure);
    }
}

Result PatchEngine::PatchOrToggle(Request request) {
    if (const KnownInstall* marked = FirstMarkedInstall()) {
        if (request == Request::Toggle) {
            // Asked before any lock is taken: nobody waits on a person's answer.
            if (Show(Prompt::ConfirmUndo, std::wstring(ConfirmUndo), Style::YesNoExclamation) !=
                Answer::Yes)
                return Finish(Outcome::UndoDeclined);
            return Undo(marked);
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

// Looked at again once no other run can change the folder, and again
// while it is busy, as an undo does.
Result PatchEngine::StillPatched(const KnownInstall& install) {
    Result result = Finish(Outcome::NotPatched);
    WhileBusy([&] {
        if (auto browser = HoldBrowserFolder(std::wstring(install.folder))) {
            const auto lock = LockRun(*browser, std::wstring(install.folder));
            if (IsMarked(*browser)) {
                result = Finish(Outcome::AlreadyPatched);
                result.folder = install.folder;
                result.marker = install.marker;
            }
        }
    });
    return result;
}

// Every known folder in turn, the marked ones first, whichever a click
// would patch: a tweak is never stranded in one folder because a browser
// turned up in another, nor kept in place by what another folder holds. A
// folder that fails, or cannot be looked into, is named, and the others are
// undone all the same; the undo succeeds only when every folder is known
// to be clear of the tweak.
Result PatchEngine::Undo(const KnownInstall* markedFirst) {
    undoing_ = true;
    std::vector<const KnownInstall*> order;
    if (markedFirst) order.push_back(markedFirst);
    for (const KnownInstall* install : KnownInstallsHere())
        if (install != markedFirst) order.push_back(install);
    for (const KnownInstall* install : order) {
        const std::wstring folder(install->folder);
        unsigned before;
        {
            const std::lock_guard<std::mutex> guard(journal_);
            before = changes_;
        }
        FolderUndo state;
        try {
            WhileBusy([&] { UndoIn(*install, state); });
            if (state.removed) {
                const std::lock_guard<std::mutex> guard(journal_);
                undone_.push_back(folder);
            }
        } catch (const Failure& failure) {
            const TweakThere tweak =
                state.tweak == TweakThere::No && state.removed ? TweakThere::Removed : state.tweak;
            const std::lock_guard<std::mutex> guard(journal_);
            problems_.push_back(FolderProblem{folder, failure, tweak, changes_ != before});
        }
    }
    const Done done = DoneSoFar();
    if (!done.problems.empty()) {
        // 1618 only when every failure is a wait that ran out: then a later
        // run finishes the job, and deployment tools know to try again.
        long code = FailureCode::AnotherRunInProgress;
        for (const FolderProblem& problem : done.problems)
            if (problem.failure.Code() != FailureCode::AnotherRunInProgress) {
                code = problem.failure.Code();
                break;
            }
        throw Failure(code, TellWhatWasDone(L"", done, Told::FolderByFolder));
    }
    Result result = Finish(done.undone.empty() ? Outcome::NotPatched : Outcome::Undone);
    result.undone = done.undone;
    Show(Prompt::TweakRemoved, std::wstring(TweakRemoved), Style::OkSystemModal);
    ShowKeptFiles();
    result.kept = KeptSoFar();
    return result;
}

// What a folder holds is known only under its lock; a marker seen before
// it says the tweak is there should the wait for the lock run out. Without
// a marker, what the folder holds is only read until a patch cut short is
// found there.
void PatchEngine::UndoIn(const KnownInstall& install, FolderUndo& state) {
    const std::wstring folder(install.folder);
    state.tweak = TweakThere::Maybe;
    const auto browser = HoldBrowserFolder(folder);
    if (!browser) {
        state.tweak = TweakThere::No;
        return;
    }
    if (IsMarked(*browser)) state.tweak = TweakThere::Still;
    const auto lock = LockRun(*browser, folder);
    const bool marked = IsMarked(*browser);
    state.tweak = marked ? TweakThere::Still : TweakThere::Maybe;
    try {
        const WorkFolders work = HoldWorkFolders(*browser, folder);
        if (marked) {
            UndoMarked(*browser, work, state);
        } else {
            FinishCutShortPatch(work, state);
        }
    } catch (const Failure& failure) {
        // A link below the folder, which Tarnwick never writes through,
        // holds none of its payload.
        if (state.tweak != TweakThere::Maybe || failure.Code() != FailureCode::ReparsePoint) throw;
        state.tweak = TweakThere::No;
    }
}

// The marker stays until the file is right, and the kept originals until
// the marker is gone: an undo that fails or is cut short leaves the tweak
// recorded, and the next undo finishes the job. Everything to be changed
// is opened first.
void PatchEngine::UndoMarked(HeldFolder& browser, const WorkFolders& work, FolderUndo& state) {
    if (!FormFileSystem) FormFileSystem = platform_.NewFileSystemObject();
    // Read-only content in the marker stops the undo before the file is
    // touched.
    FormFileSystem->CheckDeleteFolder(browser, std::wstring(MarkerName), false);
    KeptOriginals kept = OpenKeptOriginals(work, true);
    const std::optional<std::string> original = RestorePreferences(work, kept);
    Change([&] { FormFileSystem->DeleteFolder(browser, std::wstring(MarkerName), false); });
    state.tweak = TweakThere::No;
    state.removed = true;
    if (kept.original) Change([&] { kept.original->Remove(); });
    if (kept.leftover) {
        KeptFile kind;
        kind.earlierOriginal = true;
        RemoveLeftover(work, *kept.leftover, *kept.leftoverBytes, kept.leftoverPath, original, kind);
    }
}

// The user.js kept from before the tweak is written back in place;
// otherwise the file goes, if it is the program's own. One that holds
// anything else was changed since the patch: a copy is kept aside first,
// never deleted or overwritten, and it goes again should the step after it
// fail. A file that is already gone is the state undo wants. Returns what
// user.js holds of the kept originals now.
std::optional<std::string> PatchEngine::RestorePreferences(const WorkFolders& work,
                                                           const KeptOriginals& kept) {
    if (!work.defaults) return std::nullopt;
    if (!work.profile) {
        if (kept.original)
            throw Failure(FailureCode::PathNotFound,
                          L"The kept user.js has no folder to go back to.\n" + work.folder +
                              std::wstring(ProfileRelativePath));
        return std::nullopt;
    }
    const std::optional<std::string>& original = kept.originalBytes;
    const std::wstring prefsPath = work.folder + std::wstring(PrefsRelativePath);
    auto current = OpenBelowBrowser(*work.profile, PrefsName, prefsPath);
    std::wstring copy;
    if (current) {
        const std::string bytes = current->ReadAll();
        if (bytes == original) return original;  // already back
        if (bytes != OwnBytes()) copy = KeepAside(work, bytes, prefsPath, original);
    }
    try {
        if (original) {
            auto file = NewTemporaryFile(*work.defaults);
            file->Write(*original);
            current.reset();
            Change([&] { file->Commit(*work.profile, std::wstring(PrefsName), true); });
        } else if (current) {
            Change([&] { current->Remove(); });
        }
    } catch (const Failure&) {
        if (!copy.empty()) RemoveCopy(*work.defaults, copy);
        throw;
    }
    return original;
}

// With no marker, a patch cut short may still have left its work behind:
// the payload with the original kept beside it (finished here by putting
// the original back), the payload alone where there was no user.js before
// (finished by removing it), or a kept original while user.js is missing
// (the patch was killed as it swapped them). A kept original beside any
// other user.js is no original any more: the administrator's current file
// stands, and the leftover goes, kept aside first unless it is the same;
// so does an earlier version's beside the one kept now. Everything is read
// first, shared with other readers; files are opened to be changed only
// once there is something to change, all of them before the first change.
void PatchEngine::FinishCutShortPatch(const WorkFolders& work, FolderUndo& state) {
    state.tweak = TweakThere::No;
    if (!work.profile) return;
    state.tweak = TweakThere::Maybe;
    const std::wstring name(KeptOriginalName);
    const std::wstring prefsPath = work.folder + std::wstring(PrefsRelativePath);
    const std::wstring higherPath = work.folder + std::wstring(DefaultsRelativePath) + name;
    const std::wstring earlierPath = work.folder + std::wstring(ProfileRelativePath) + name;
    const PathFacts prefs = InspectBelowBrowser(*work.profile, PrefsName, prefsPath);
    std::optional<std::string> current;
    if (prefs.exists && !prefs.folder) current = work.profile->ReadFile(std::wstring(PrefsName), MaxKeptBytes);
    const std::optional<std::string> higher = work.defaults->ReadFile(name, MaxKeptBytes);
    const std::optional<std::string> earlier = work.profile->ReadFile(name, MaxKeptBytes);
    const bool payload = current == OwnBytes();
    const bool tweak = payload || ((higher || earlier) && !prefs.exists);
    state.tweak = tweak ? TweakThere::Still : TweakThere::No;

    if (!higher && !earlier) {
        if (!payload) return;
        auto file = OpenBelowBrowser(*work.profile, PrefsName, prefsPath);
        if (!file) return;
        Change([&] { file->Remove(); });
        state.tweak = TweakThere::No;
        state.removed = true;
        return;
    }
    if (!tweak && !current) return;  // a user.js that cannot be read as a file is left alone
    HeldFolder& keptIn = higher ? *work.defaults : *work.profile;
    const std::string& keptBytes = higher ? *higher : *earlier;
    const std::wstring& keptPath = higher ? higherPath : earlierPath;
    auto kept = tweak ? OpenBelowBrowser(keptIn, name, keptPath) : OpenLeftover(keptIn, keptPath);
    auto leftover = higher && earlier ? OpenLeftover(*work.profile, earlierPath) : nullptr;
    if (!kept) return;
    std::optional<std::string> inPlace = current;
    if (tweak) {
        Change([&] { kept->MoveOnto(*work.profile, std::wstring(PrefsName), true); });
        state.tweak = TweakThere::No;
        state.removed = true;
        inPlace = keptBytes;
    } else {
        KeptFile kind;
        kind.staleOriginal = true;
        RemoveLeftover(work, *kept, keptBytes, keptPath, current, kind);
    }
    if (leftover) {
        KeptFile kind;
        kind.earlierOriginal = true;
        RemoveLeftover(work, *leftover, *earlier, earlierPath, inPlace, kind);
    }
}

}  // namespace tarnwick
