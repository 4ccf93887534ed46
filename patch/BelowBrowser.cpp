// The files below a browser folder, as the engine reaches them. The program
// runs with an administrator's rights, and the folder may be one that
// ordinary users can write (a browser of their own, given with /folder or
// chosen in the dialog). So the browser's folder is held from the moment
// it is checked, and everything below it is reached through the folder
// that holds it, one name at a time: a path, once checked, is never trusted
// again. Nothing below is followed through a link either: a link there
// could lead the program's writes anywhere, and hand what it reads to
// whoever can read that folder. The browser's folder itself may sit behind
// a link, such as a relocated Program Files: only what lies below is checked.

#include <cwctype>

#include "patch/Locations.h"
#include "patch/PatchEngine.h"
#include "platform/Decimal.h"
#include "platform/Failure.h"

namespace tarnwick {

namespace {

// How long a run waits for another one that changes files in the same
// folder, and how often it looks whether that one is done.
constexpr std::chrono::milliseconds RunLockPatience{60 * 1000};
constexpr std::chrono::milliseconds RunLockPoll{100};

bool StartsWith(std::wstring_view name, std::wstring_view prefix) {
    if (name.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (std::towlower(name[i]) != std::towlower(prefix[i])) return false;
    return true;
}

bool EndsWith(std::wstring_view name, std::wstring_view suffix) {
    return name.size() >= suffix.size() && StartsWith(name.substr(name.size() - suffix.size()), suffix);
}

// prefix, then `digits` of the given kind, then the suffix.
bool IsNumberedName(std::wstring_view name, std::wstring_view prefix, bool hex, size_t maxDigits) {
    if (!StartsWith(name, prefix) || !EndsWith(name, TemporarySuffix)) return false;
    if (name.size() < prefix.size() + TemporarySuffix.size()) return false;
    const std::wstring_view digits =
        name.substr(prefix.size(), name.size() - prefix.size() - TemporarySuffix.size());
    if (digits.empty() || digits.size() > maxDigits) return false;
    for (wchar_t c : digits)
        if (!(hex ? std::iswxdigit(c) : std::iswdigit(c))) return false;
    return true;
}

// "tarnwick-<n>.tmp" in defaults\, or an earlier version's "TWK<hex>.tmp"
// in defaults\profile\.
bool IsTemporaryName(std::wstring_view name, bool earlierLayout) {
    return earlierLayout ? IsNumberedName(name, EarlierTemporaryPrefix, true, 4)
                         : IsNumberedName(name, TemporaryPrefix, false, 9);
}

}  // namespace

bool IsChangedName(std::wstring_view name) {
    if (!StartsWith(name, ChangedPrefix) || name.size() == ChangedPrefix.size()) return false;
    for (wchar_t c : name.substr(ChangedPrefix.size()))
        if (c < L'0' || c > L'9') return false;
    return true;
}

namespace {
std::wstring_view WithoutLeadingZeros(std::wstring_view digits) {
    const size_t first = digits.find_first_not_of(L'0');
    return first == std::wstring_view::npos ? std::wstring_view() : digits.substr(first);
}
}  // namespace

// Compared and counted as digit strings, so no number of them overflows.
bool NumberLess(std::wstring_view a, std::wstring_view b) {
    a = WithoutLeadingZeros(a);
    b = WithoutLeadingZeros(b);
    return a.size() != b.size() ? a.size() < b.size() : a < b;
}

std::wstring NextNumber(std::wstring_view digits) {
    std::wstring next(WithoutLeadingZeros(digits));
    for (auto it = next.rbegin(); it != next.rend(); ++it) {
        if (*it != L'9') {
            ++*it;
            return next;
        }
        *it = L'0';
    }
    return L'1' + next;
}

// The one path a run opens. What is not a folder is no browser's folder.
std::unique_ptr<HeldFolder> PatchEngine::HoldBrowserFolder(const std::wstring& folder) {
    auto held = platform_.HoldFolder(folder);
    if (held && !held->Facts().folder) return nullptr;
    return held;
}

std::unique_ptr<HeldFolder> PatchEngine::HoldBelowBrowser(HeldFolder& in, std::wstring_view name,
                                                          const std::wstring& path) {
    auto held = in.HoldFolder(std::wstring(name));
    if (held && held->Facts().link) throw LinkRefused(path);
    if (held && !held->Facts().folder) return nullptr;
    return held;
}

// `defaults` and `defaults\profile`, held for as long as the files in them
// are changed, and cleared of what runs cut short left there.
PatchEngine::WorkFolders PatchEngine::HoldWorkFolders(HeldFolder& browser, const std::wstring& folder) {
    WorkFolders held;
    held.folder = folder;
    held.defaults = HoldBelowBrowser(browser, DefaultsName, folder + std::wstring(DefaultsRelativePath));
    if (!held.defaults) return held;
    held.profile =
        HoldBelowBrowser(*held.defaults, ProfileName, folder + std::wstring(ProfileRelativePath));
    SweepTemporaryFiles(held);
    return held;
}

// A file with more than one name is refused too: writing it, or handing its
// bytes to the browser, would reach the file behind its other names.
std::unique_ptr<ExistingFile> PatchEngine::OpenBelowBrowser(HeldFolder& in, std::wstring_view name,
                                                            const std::wstring& path) {
    auto file = in.OpenFile(std::wstring(name));
    if (file && file->Facts().link) throw LinkRefused(path);
    if (file && file->Facts().names > 1)
        throw Failure(FailureCode::AccessDenied,
                      L"This file has more than one name (hard links), so changing it would change "
                      L"another file too.\n" +
                          path);
    return file;
}

PathFacts PatchEngine::InspectBelowBrowser(HeldFolder& in, std::wstring_view name,
                                           const std::wstring& path) {
    const PathFacts facts = in.Inspect(std::wstring(name));
    if (facts.link) throw LinkRefused(path);
    return facts;
}

// Where this version keeps it, or else where earlier ones did; with
// `withLeftover`, an earlier version's beside this version's too. Each is
// read as it is opened.
PatchEngine::KeptOriginals PatchEngine::OpenKeptOriginals(const WorkFolders& work, bool withLeftover) {
    const std::wstring name(KeptOriginalName);
    const std::wstring higher = work.folder + std::wstring(DefaultsRelativePath) + name;
    const std::wstring earlier = work.folder + std::wstring(ProfileRelativePath) + name;
    KeptOriginals kept;
    if (work.defaults) kept.original = OpenBelowBrowser(*work.defaults, name, higher);
    if (kept.original) {
        kept.originalPath = higher;
        if (withLeftover && work.profile) kept.leftover = OpenLeftover(*work.profile, earlier);
        if (kept.leftover) kept.leftoverPath = earlier;
    } else if (work.profile) {
        kept.original = OpenBelowBrowser(*work.profile, name, earlier);
        if (kept.original) kept.originalPath = earlier;
    }
    if (kept.original) kept.originalBytes = kept.original->ReadAll();
    if (kept.leftover) kept.leftoverBytes = kept.leftover->ReadAll();
    return kept;
}

// A kept original that is no longer needed is removed; one that cannot be
// opened to be removed is named, with what to do about it.
std::unique_ptr<ExistingFile> PatchEngine::OpenLeftover(HeldFolder& in, const std::wstring& path) {
    try {
        return OpenBelowBrowser(in, KeptOriginalName, path);
    } catch (const Failure& failure) {
        if (failure.IsBusy()) throw;
        throw Failure(failure.Code(), failure.Description() +
                                          L"\nThis is a leftover copy of user.js, and Tarnwick cannot "
                                          L"remove it: move it out of the browser's folder, and run again.");
    }
}

// A folder whose marker is a link to a folder counts as marked: undo then
// removes the link, and nothing it leads to.
bool PatchEngine::IsMarked(HeldFolder& browser) {
    const PathFacts marker = browser.Inspect(std::wstring(MarkerName));
    return marker.exists && marker.folder;
}

// One run at a time changes files in a folder. A run that finds the folder
// taken looks again every so often, for a minute at most; meanwhile the
// person at the window is told why nothing happens.
std::unique_ptr<RunLock> PatchEngine::LockRun(HeldFolder& browser, const std::wstring& folder) {
    if (auto lock = browser.TryLockRun()) return lock;
    std::unique_ptr<RunLock> lock;
    try {
        const auto started = platform_.Ticks();
        while (!lock) {
            const auto waited = platform_.Ticks() - started;
            if (waited >= RunLockPatience)
                throw Failure(FailureCode::AnotherRunInProgress,
                              L"Another run of Tarnwick kept the browser's folder for over a minute. "
                              L"Try again later.\n" + folder);
            conversation_.WaitingForAnotherRun(waited);
            platform_.Pause(RunLockPoll);
            lock = browser.TryLockRun();
        }
    } catch (...) {
        conversation_.DoneWaiting();
        throw;
    }
    conversation_.DoneWaiting();
    return lock;
}

// Made new, never opened by a name that something else made. Stale ones
// are swept before, so the first name is nearly always free.
std::unique_ptr<TemporaryFile> PatchEngine::NewTemporaryFile(HeldFolder& defaults) {
    constexpr unsigned Attempts = 100;
    for (unsigned n = 1;; ++n) {
        const std::wstring name =
            std::wstring(TemporaryPrefix) + DecimalText(n) + std::wstring(TemporarySuffix);
        try {
            return defaults.CreateNewFile(name);
        } catch (const Failure& failure) {
            if (!failure.IsAlreadyExists() || n == Attempts) throw;
        }
    }
}

// Only runs that hold the folder's run lock write these files, so any found
// now were left by a run that was cut short. What is opened is checked as
// itself before it goes: a plain file with one name, the very one the
// listing named. Anything else is left where it is, and so is one that
// will not go.
void PatchEngine::SweepTemporaryFiles(const WorkFolders& work) {
    for (HeldFolder* folder : {work.defaults.get(), work.profile.get()}) {
        if (!folder) continue;
        for (const FolderEntry& entry : folder->Entries()) {
            if (!IsTemporaryName(entry.name, folder == work.profile.get())) continue;
            try {
                auto file = folder->OpenFile(entry.name);
                if (!file) continue;
                const PathFacts& facts = file->Facts();
                if (facts.link || facts.folder || facts.names != 1 || facts.id != entry.id) continue;
                Change([&] { file->Remove(); }, false);
            } catch (const Failure&) {
                // A leftover that cannot go now is tried again by the next run.
            }
        }
    }
}

std::string PatchEngine::OwnBytes() { return platform_.ToAnsi(preferences_()) + "\r\n"; }

}  // namespace tarnwick
