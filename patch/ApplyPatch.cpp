#include "patch/Locations.h"
#include "patch/PatchEngine.h"
#include "platform/Decimal.h"
#include "platform/Failure.h"

namespace tarnwick {

namespace {
constexpr std::wstring_view PatchingComplete = L"Patching is complete.";
constexpr std::wstring_view LookAgain =
    L"Tarnwick could not find Firefox in this folder, would you like to look again?";
// firefox.exe itself is small (its code is in its libraries); a file far
// larger is no browser to ask.
constexpr std::size_t MaxProgramBytes = 16 * 1024 * 1024;
// How long a file another program keeps busy is waited for, and how often
// it is looked at again: as long as for another run's lock.
constexpr std::chrono::milliseconds BusyPatience{60 * 1000};
constexpr std::chrono::milliseconds BusyPoll{100};

Failure NoSuchFolder(const std::wstring& folder) {
    return Failure(FailureCode::PathNotFound,
                   L"There is no such folder.\n" + folder + std::wstring(ProfileRelativePath));
}
}  // namespace

// Tries the chosen folder until the patch is in, the user gives up, or
// cancels the folder dialog. The folder is held from the moment it is
// chosen: its browser is asked its version before anything is written, and
// whatever is written lands in that same folder, wherever its path leads by
// then. The files are changed under the folder's run lock, and every
// question waits outside it. The failure handler itself is not guarded: a
// failure in the dialog passes to the caller.
Result PatchEngine::ApplyPatch() {
    for (;;) {
        const KnownInstall* known = KnownInstallAt(BrowserFolder);
        std::unique_ptr<HeldFolder> browser;
        std::optional<Failure> failure;
        // No browser there is exit code 3 only while nothing was changed;
        // after a change it is a failure like any other.
        bool noBrowser = false;
        const auto noSuchFolder = [&] {
            noBrowser = !ChangedAnything();
            failure = noBrowser ? NoSuchFolder(BrowserFolder)
                                : TellingWhatWasDone(NoSuchFolder(BrowserFolder));
        };
        try {
            WhileBusy([&] { browser = HoldBrowserFolder(BrowserFolder); });
            if (!browser) noSuchFolder();
        } catch (const Failure& refused) {
            failure = TellingWhatWasDone(refused);
        }
        bool already = false;
        if (browser) {
            const auto version = BrowserVersionIn(*browser);
            if (version && TweakEffectOn(*version) != TweakEffect::Works &&
                Show(Prompt::PatchAnyway, PatchAnywayText(*version), Style::YesNoExclamation) !=
                    Answer::Yes) {
                Result declined = Finish(Outcome::VersionDeclined);
                declined.version = version;
                return declined;
            }
            const auto lock = LockRun(*browser, BrowserFolder);
            // Another run may have put the tweak in place meanwhile.
            already = known && IsMarked(*browser);
            if (!already) {
                try {
                    bool found = true;
                    WhileBusy([&] { found = ApplyOnce(*browser, known); });
                    if (!found) noSuchFolder();
                } catch (const Failure& failed) {
                    failure = TellingWhatWasDone(failed);
                }
            }
        }
        browser.reset();  // nothing is held while a person reads the outcome
        if (!failure) {
            Show(Prompt::PatchingComplete, std::wstring(PatchingComplete), Style::OkInformation);
            ShowKeptFiles();
            Result patched = Finish(already ? Outcome::AlreadyPatched : Outcome::Patched);
            if (known) patched.marker = known->marker;
            return patched;
        }
        if (Show(Prompt::LookAgain, std::wstring(LookAgain), Style::YesNoExclamation) != Answer::Yes ||
            (BrowserFolder = conversation_.ChooseBrowserFolder()).empty()) {
            ShowKeptFiles();
            Result gaveUp = Finish(Outcome::GaveUp);
            gaveUp.failure = std::move(failure);
            gaveUp.noBrowser = noBrowser;
            return gaveUp;
        }
    }
}

// A file another program has open without sharing it, or has locked part
// of, or holds an opportunistic lock on (and is asked to let go of) is busy
// until it lets go: the step is tried again a little later, for a minute at
// most, as for another run's lock.
void PatchEngine::WhileBusy(Step step) {
    const auto started = platform_.Ticks();
    for (;;) {
        try {
            step();
            return;
        } catch (const Failure& failure) {
            if (!failure.IsBusy()) throw;
            if (platform_.Ticks() - started >= BusyPatience)
                throw Failure(FailureCode::AnotherRunInProgress,
                              failure.Description() +
                                  L"\nIt stayed in use by another program for over a minute. Try "
                                  L"again later.");
        }
        platform_.Pause(BusyPoll);
    }
}

// Read from the held folder, like everything else. A program file that
// cannot be read or understood asks nothing.
std::optional<FileVersion> PatchEngine::BrowserVersionIn(HeldFolder& browser) {
    std::optional<std::string> image;
    try {
        WhileBusy([&] { image = browser.ReadFile(std::wstring(BrowserProgramName), MaxProgramBytes); });
    } catch (const Failure& failure) {
        if (failure.Code() == FailureCode::AnotherRunInProgress) throw;
        return std::nullopt;
    }
    return image ? ProductVersionOfImage(*image) : std::nullopt;
}

// Only a known folder is marked: undo reaches nothing else.
bool PatchEngine::ApplyOnce(HeldFolder& browser, const KnownInstall* known) {
    if (!WritePreferences(browser, known)) return false;
    if (known && !IsMarked(browser)) Change([&] { browser.CreateFolder(std::wstring(MarkerName)); });
    return true;
}

// The marker's name taken by anything but a folder would make the patch
// fail at its very last step, after the file was written.
void PatchEngine::RefuseTakenMarkerName(HeldFolder& browser) {
    const PathFacts marker = browser.Inspect(std::wstring(MarkerName));
    if (marker.exists && !marker.folder)
        throw Failure(FailureCode::AlreadyExists,
                      L"Something that is not a folder has the name of the marker that records the "
                      L"tweak, so Tarnwick cannot record it. Remove it, and patch again.\n" +
                          BrowserFolder + std::wstring(MarkerName));
}

// Writes the new file beside the profile folder and swaps it in whole, so
// a failed write never leaves a cut-off user.js. Everything that could stop
// the patch is looked at before the first change: the marker's name, the
// user.js there and the kept original, each opened as they are to be
// changed. A different user.js found there is kept first, so nothing the
// administrator wrote is lost; the copies this makes go again should the
// swap fail.
//
// The first different user.js is kept as the original, for undo to put
// back. One that differs from that original too was written after an
// earlier patch: a copy is kept aside under a new name. In a known folder
// with no marker, a kept original beside any user.js but the program's own
// is a leftover of a patch that never finished: the current user.js is the
// original now, and the leftover is kept aside instead (unless it is the
// same). An original kept by an earlier version inside the profile folder
// is moved up out of it, where the browser does not copy it into profiles.
bool PatchEngine::WritePreferences(HeldFolder& browser, const KnownInstall* known) {
    const WorkFolders work = HoldWorkFolders(browser, BrowserFolder);
    if (!work.profile) return false;
    if (known) RefuseTakenMarkerName(browser);

    const std::wstring prefsPath = BrowserFolder + std::wstring(PrefsRelativePath);
    auto current = OpenBelowBrowser(*work.profile, PrefsName, prefsPath);
    std::optional<std::string> earlier;
    if (current) earlier = current->ReadAll();
    const std::wstring keptPath =
        BrowserFolder + std::wstring(DefaultsRelativePath) + std::wstring(KeptOriginalName);
    const PathFacts keptFacts = InspectBelowBrowser(*work.defaults, KeptOriginalName, keptPath);
    if (keptFacts.folder)
        throw Failure(FailureCode::AlreadyExists,
                      L"A folder has the name Tarnwick keeps the original user.js under.\n" + keptPath);
    KeptOriginals kept = OpenKeptOriginals(work, false);
    const bool keptHigher = keptFacts.exists;  // where this version keeps it, not in the profile
    std::optional<std::string>& original = kept.originalBytes;

    const std::string bytes = OwnBytes();
    const bool differs = earlier && *earlier != bytes;
    const bool stale = known && original && differs && *original != *earlier;

    auto file = NewTemporaryFile(*work.defaults);
    file->Write(bytes);
    std::wstring aside, copied;  // copies made here, removed again on failure
    try {
        if (stale) {
            KeptFile kind;
            kind.staleOriginal = true;
            RemoveLeftover(work, *kept.original, *original, kept.originalPath, std::nullopt, kind);
            kept.original.reset();
            original.reset();
        } else if (differs && original && *original != *earlier) {
            aside = KeepAside(work, *earlier, prefsPath, original);
        }
        if (kept.original && !keptHigher) {
            Change([&] { kept.original->MoveOnto(*work.defaults, std::wstring(KeptOriginalName), false); });
        } else if (!kept.original && differs) {
            copied = CopyInto(*work.defaults, std::wstring(KeptOriginalName), *earlier, false);
        }
        kept.original.reset();
        current.reset();
        Change([&] { file->Commit(*work.profile, std::wstring(PrefsName), true); });
    } catch (const Failure&) {
        if (!copied.empty()) RemoveCopy(*work.defaults, copied);
        if (!aside.empty()) RemoveCopy(*work.defaults, aside);
        throw;
    }
    return true;
}

// A file made new from `bytes` and renamed to `name` whole; returns `name`.
std::wstring PatchEngine::CopyInto(HeldFolder& folder, const std::wstring& name, const std::string& bytes,
                                   bool replace) {
    auto copy = NewTemporaryFile(folder);
    copy->Write(bytes);
    Change([&] { copy->Commit(folder, name, replace); });
    return name;
}

// Takes back a copy this run made, when the step it was made for failed.
// One that will not go stays: it is a copy, and the next run finds it kept.
void PatchEngine::RemoveCopy(HeldFolder& folder, const std::wstring& name) noexcept {
    try {
        auto copy = folder.OpenFile(name);
        if (!copy) return;
        Change([&] { copy->Remove(); }, false);
        const std::lock_guard<std::mutex> guard(journal_);
        --changes_;
        const std::wstring path = BrowserFolder + std::wstring(DefaultsRelativePath) + name;
        for (auto it = kept_.begin(); it != kept_.end(); ++it)
            if (it->kept == path) {
                kept_.erase(it);
                break;
            }
    } catch (...) {
        // It stays: a copy, which the next run finds kept already.
    }
}

// Kept as the first "user.js.changed-<n>" in `defaults\` after the highest
// there, never over anything, and only once: bytes that are in place or
// that an earlier copy already holds are not copied again, however often
// the same file turns up (a tool that writes it before every boot's patch).
std::wstring PatchEngine::KeepAside(const WorkFolders& work, const std::string& bytes,
                                    const std::wstring& from, const std::optional<std::string>& inPlace,
                                    const KeptFile& kind) {
    const std::wstring defaultsPath = work.folder + std::wstring(DefaultsRelativePath);
    if (inPlace == bytes) return {};
    const auto keep = [&](const std::wstring& name, bool already) {
        KeptFile file = kind;
        file.prefs = from;
        file.kept = defaultsPath + name;
        file.already = already;
        Kept(std::move(file));
    };
    std::wstring highest;
    for (const FolderEntry& entry : work.defaults->Entries()) {
        if (!IsChangedName(entry.name)) continue;
        const std::wstring_view number = std::wstring_view(entry.name).substr(ChangedPrefix.size());
        if (NumberLess(highest, number)) highest = number;
        if (work.defaults->ReadFile(entry.name, bytes.size()) == bytes) {
            keep(entry.name, true);
            return {};
        }
    }
    for (std::wstring n = NextNumber(highest);; n = NextNumber(n)) {
        const std::wstring name = std::wstring(ChangedPrefix) + n;
        try {
            CopyInto(*work.defaults, name, bytes, false);
            keep(name, false);
            return name;
        } catch (const Failure& failure) {
            if (!failure.IsAlreadyExists()) throw;
        }
    }
}

// A stale original's copy is its only home once the original has gone, so
// it is taken back only when removing the original itself fails.
void PatchEngine::RemoveLeftover(const WorkFolders& work, ExistingFile& file, const std::string& bytes,
                                 const std::wstring& path, const std::optional<std::string>& inPlace,
                                 const KeptFile& kind) {
    const std::wstring copy = KeepAside(work, bytes, path, inPlace, kind);
    try {
        Change([&] { file.Remove(); });
    } catch (const Failure&) {
        if (!copy.empty()) RemoveCopy(*work.defaults, copy);
        throw;
    }
}

}  // namespace tarnwick
