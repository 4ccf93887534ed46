// The files below a browser folder, as the engine reaches them. The program
// runs with an administrator's rights, and the folder may be one that
// ordinary users can write (a browser of their own, given with /folder or
// chosen in the dialog). So nothing below it is followed through a link: a
// link there could lead the program's writes anywhere, and hand what it
// reads to whoever can read that folder. The folder itself may sit behind a
// link, such as a relocated Program Files: only what lies below is checked.

#include <cwctype>

#include "patch/Locations.h"
#include "patch/PatchEngine.h"
#include "platform/Decimal.h"
#include "platform/Failure.h"

namespace tarnwick {

namespace {

Failure LinkRefused(const std::wstring& path) {
    return Failure(FailureCode::ReparsePoint,
                   L"This is a link, and Tarnwick follows no link below the browser's folder.\n" +
                       path);
}

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

}  // namespace

std::unique_ptr<HeldFolder> PatchEngine::HoldBelowBrowser(const std::wstring& path) {
    auto held = platform_.HoldFolder(path);
    if (held && held->Facts().link) throw LinkRefused(path);
    if (held && !held->Facts().folder) return nullptr;
    return held;
}

// `defaults` and `defaults\profile`, held for as long as the files in them
// are changed, and cleared of what runs cut short left there.
PatchEngine::WorkFolders PatchEngine::HoldWorkFolders(const std::wstring& folder) {
    WorkFolders held;
    held.defaults = HoldBelowBrowser(folder + std::wstring(DefaultsRelativePath));
    if (!held.defaults) return held;
    held.profile = HoldBelowBrowser(folder + std::wstring(ProfileRelativePath));
    SweepTemporaryFiles(folder);
    return held;
}

// A file with more than one name is refused too: writing it, or handing its
// bytes to the browser, would reach the file behind its other names.
std::unique_ptr<ExistingFile> PatchEngine::OpenBelowBrowser(const std::wstring& path) {
    auto file = platform_.OpenExistingFile(path);
    if (file && file->Facts().link) throw LinkRefused(path);
    if (file && file->Facts().names > 1)
        throw Failure(FailureCode::AccessDenied,
                      L"This file has more than one name (hard links), so changing it would change "
                      L"another file too.\n" +
                          path);
    return file;
}

// A folder of that name is no file: whatever is to be put there fails.
bool PatchEngine::IsFileBelowBrowser(const std::wstring& path) {
    const PathFacts facts = platform_.Inspect(path);
    if (facts.link) throw LinkRefused(path);
    return facts.exists && !facts.folder;
}

// Where this version keeps it, or else where earlier ones did.
std::unique_ptr<ExistingFile> PatchEngine::OpenKeptOriginal(const std::wstring& folder) {
    if (auto kept = OpenBelowBrowser(folder + std::wstring(KeptOriginalRelativePath))) return kept;
    return OpenBelowBrowser(folder + std::wstring(EarlierKeptOriginalRelativePath));
}

// Made new, never opened by a name that something else made. Stale ones
// are swept before, so the first name is nearly always free.
std::unique_ptr<TemporaryFile> PatchEngine::NewTemporaryFile(const std::wstring& folder) {
    constexpr unsigned Attempts = 100;
    for (unsigned n = 1;; ++n) {
        const std::wstring path =
            folder + std::wstring(TemporaryPrefix) + DecimalText(n) + std::wstring(TemporarySuffix);
        try {
            return platform_.CreateNewFile(path);
        } catch (const Failure& failure) {
            if (!failure.IsAlreadyExists() || n == Attempts) throw;
        }
    }
}

// Only runs that hold the run lock write these files, so any found now
// were left by a run that was cut short. A plain file of that name goes;
// anything else is left where it is, and so is one that will not go.
void PatchEngine::SweepTemporaryFiles(const std::wstring& folder) {
    struct Place {
        std::wstring_view relative, prefix;
        bool hex;
        size_t maxDigits;
    };
    const Place places[] = {{DefaultsRelativePath, TemporaryPrefix, false, 9},
                            {ProfileRelativePath, EarlierTemporaryPrefix, true, 4}};
    for (const Place& place : places) {
        const std::wstring in = folder + std::wstring(place.relative);
        for (const std::wstring& name : platform_.NamesIn(in)) {
            if (!IsNumberedName(name, place.prefix, place.hex, place.maxDigits)) continue;
            try {
                const PathFacts facts = platform_.Inspect(in + name);
                if (facts.link || facts.folder || facts.names != 1) continue;
                if (auto file = platform_.OpenExistingFile(in + name)) file->Remove();
            } catch (const Failure&) {
                // A leftover that cannot go now is tried again by the next run.
            }
        }
    }
}

std::string PatchEngine::OwnBytes() { return platform_.ToAnsi(preferences_()) + "\r\n"; }

}  // namespace tarnwick
