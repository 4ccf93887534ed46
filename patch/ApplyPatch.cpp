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
// A kept original larger than this cannot be told from the file it is
// compared with, so that file is kept aside too.
constexpr std::size_t MaxKeptBytes = 64 * 1024 * 1024;

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
        try {
            browser = HoldBrowserFolder(BrowserFolder);
            if (!browser) failure = NoSuchFolder(BrowserFolder);
        } catch (const Failure& refused) {
            failure = refused;
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
            const auto lock = LockRun(*browser);
            // Another run may have put the tweak in place meanwhile.
            already = known && IsMarked(*browser);
            if (!already) failure = TryApplyOnce(*browser, known);
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
            Result gaveUp = Finish(Outcome::GaveUp);
            gaveUp.failure = std::move(failure);
            return gaveUp;
        }
    }
}

// Read from the held folder, like everything else. A program file that
// cannot be read or understood asks nothing.
std::optional<FileVersion> PatchEngine::BrowserVersionIn(HeldFolder& browser) {
    try {
        const auto image = browser.ReadFile(std::wstring(BrowserProgramName), MaxProgramBytes);
        return image ? ProductVersionOfImage(*image) : std::nullopt;
    } catch (const Failure&) {
        return std::nullopt;
    }
}

// Only a known folder is marked: undo reaches nothing else.
std::optional<Failure> PatchEngine::TryApplyOnce(HeldFolder& browser, const KnownInstall* known) {
    try {
        WritePreferences(browser);
        if (known && !IsMarked(browser)) browser.CreateFolder(std::wstring(MarkerName));
        return std::nullopt;
    } catch (const Failure& failure) {
        return failure;
    }
}

// Writes the new file beside the profile folder and swaps it in whole, so
// a failed write never leaves a cut-off user.js. A different user.js found
// there is kept first, so nothing the administrator wrote is lost.
void PatchEngine::WritePreferences(HeldFolder& browser) {
    const WorkFolders work = HoldWorkFolders(browser, BrowserFolder);
    if (!work.profile) throw NoSuchFolder(BrowserFolder);

    std::optional<std::string> earlier;
    auto current =
        OpenBelowBrowser(*work.profile, PrefsName, BrowserFolder + std::wstring(PrefsRelativePath));
    if (current) earlier = current->ReadAll();

    const std::string bytes = OwnBytes();
    auto file = NewTemporaryFile(*work.defaults);
    file->Write(bytes);
    KeepOriginal(work, std::move(current), earlier, bytes);
    file->Commit(*work.profile, std::wstring(PrefsName), true);
}

// The first different user.js is kept as the original, for undo to put
// back. One that differs from that original too was written after an
// earlier patch: it is kept aside under a new name. An original kept by an
// earlier version inside the profile folder is moved up out of it, where
// the browser does not copy it into profiles. `current` is closed on the
// way out, so that the new file can take its name.
void PatchEngine::KeepOriginal(const WorkFolders& work, std::unique_ptr<ExistingFile> current,
                               const std::optional<std::string>& earlier, const std::string& bytes) {
    const std::wstring keptPath =
        work.folder + std::wstring(DefaultsRelativePath) + std::wstring(KeptOriginalName);
    const bool nothingToKeep = !earlier || *earlier == bytes;
    const PathFacts facts = InspectBelowBrowser(*work.defaults, KeptOriginalName, keptPath);
    if (facts.exists && !facts.folder) {
        // Read only to be compared: nothing may change the original itself.
        if (!nothingToKeep &&
            work.defaults->ReadFile(std::wstring(KeptOriginalName), MaxKeptBytes) != earlier)
            KeepChanged(work, std::move(current));
        return;
    }
    if (auto kept = OpenBelowBrowser(*work.profile, KeptOriginalName,
                                     work.folder + std::wstring(ProfileRelativePath) +
                                         std::wstring(KeptOriginalName))) {
        if (!nothingToKeep && kept->ReadAll() != *earlier) KeepChanged(work, std::move(current));
        kept->MoveOnto(*work.defaults, std::wstring(KeptOriginalName), false);
        return;
    }
    current.reset();
    if (nothingToKeep) return;
    auto copy = NewTemporaryFile(*work.defaults);
    copy->Write(*earlier);
    copy->Commit(*work.defaults, std::wstring(KeptOriginalName), false);
}

// Under the first "user.js.changed-<n>" in `defaults\` that nothing has:
// never over anything.
void PatchEngine::KeepChanged(const WorkFolders& work, std::unique_ptr<ExistingFile> file) {
    constexpr unsigned Attempts = 100;
    for (unsigned n = 1;; ++n) {
        const std::wstring name = std::wstring(ChangedPrefix) + DecimalText(n);
        try {
            file->MoveOnto(*work.defaults, name, false);
            kept_.push_back({work.folder + std::wstring(PrefsRelativePath),
                             work.folder + std::wstring(DefaultsRelativePath) + name});
            return;
        } catch (const Failure& failure) {
            if (!failure.IsAlreadyExists() || n == Attempts) throw;
        }
    }
}

}  // namespace tarnwick
