// What administrators' fleets do to the program: links planted below the
// browser's folder, runs at the same time, and runs cut short.

#include <random>

#include "app/Unattended.h"
#include "platform/Decimal.h"
#include "platform/ReparseTags.h"

#include "tests/unit/Bench.h"

namespace tarnwick::testing {
namespace {

using Tree = std::map<std::wstring, Node>;
const std::string Earlier = "user_pref(\"browser.startup.homepage\", \"about:blank\");\r\n";
const std::wstring Defaults = Default + L"defaults\\";

struct Ran {
    int exitCode;
    std::wstring line;
};

Ran RunWith(FakePlatform& platform, const std::wstring& command) {
    struct : Output {
        void Write(const std::wstring& text) override { written += text; }
        std::wstring written;
    } output;
    const int exitCode = RunUnattended(platform, {command}, output);
    return {exitCode, output.written};
}

// The browser in its default folder with an earlier user.js of its own,
// before the tweak and after it.
void Unpatched(FakePlatform& platform) {
    InstallBrowserIn(platform, Default);
    platform.AddFile(Prefs, Earlier);
}
void Patched(FakePlatform& platform) {
    Unpatched(platform);
    platform.AddFile(Prefs, PayloadFile);
    platform.AddFile(Backup, Earlier);
    platform.AddFolder(Marker);
}
// With no user.js before the tweak, before it and after it.
void Fresh(FakePlatform& platform) { InstallBrowserIn(platform, Default); }
void PatchedFresh(FakePlatform& platform) {
    Fresh(platform);
    platform.AddFile(Prefs, PayloadFile);
    platform.AddFolder(Marker);
}
// Patched, and the administrator has added a line to user.js since; and
// what undo must leave of that: the original back, the edit kept aside.
const std::string Edited = PayloadFile + "user_pref(\"admin.added\", 1);\r\n";
void PatchedThenEdited(FakePlatform& platform) {
    Patched(platform);
    platform.AddFile(Prefs, Edited);
}
void UndoneKeepingTheEdit(FakePlatform& platform) {
    Unpatched(platform);
    platform.AddFile(Changed, Edited);
}
// Patched by an earlier version, which kept the original in the profile folder.
void PatchedEarlier(FakePlatform& platform) {
    Unpatched(platform);
    platform.AddFile(Prefs, PayloadFile);
    platform.AddFile(EarlierBackup, Earlier);
    platform.AddFolder(Marker);
}
// A kept original left by a patch that never finished, beside a user.js
// the administrator has written since; and that user.js patched, or
// undone, with the leftover kept aside.
const std::string Stale = "user_pref(\"left.over\", 1);\r\n";
void StaleOriginal(FakePlatform& platform) {
    Unpatched(platform);
    platform.AddFile(Backup, Stale);
}
// Patched, with an earlier version's kept original still in the profile
// folder beside the one kept now.
void PatchedKeepingBoth(FakePlatform& platform) {
    Patched(platform);
    platform.AddFile(EarlierBackup, Stale);
}
template <void (*Done)(FakePlatform&)>
void StaleKeptAside(FakePlatform& platform) {
    Done(platform);
    platform.AddFile(Changed, Stale);
}
Tree StateOf(void (*arrange)(FakePlatform&)) {
    FakePlatform platform;
    arrange(platform);
    return platform.files;
}

// ---- links and hard links below the browser's folder ----

struct LinkCase {
    const char* name;
    void (*arrange)(FakePlatform&);
    std::wstring command;
    std::wstring refused;  // the path the refusal names
    bool hardLink;
    friend void PrintTo(const LinkCase& c, std::ostream* out) { *out << c.name; }
};

class Refuses : public ::testing::TestWithParam<LinkCase> {};

TEST_P(Refuses, ALinkBelowTheBrowsersFolderAndChangesNothing) {
    const LinkCase& c = GetParam();
    FakePlatform platform;
    c.arrange(platform);
    Node& node = platform.files[FakePlatform::Key(c.refused)];
    if (c.hardLink) {
        node.names = 2;
    } else {
        node.link = true;
    }
    const Tree before = platform.files;
    const Ran run = RunWith(platform, c.command);
    EXPECT_EQ(run.exitCode, ExitCode::Failed);
    const std::wstring code = c.hardLink ? L"Run-time error 5: " : L"Run-time error 4395: ";
    EXPECT_EQ(run.line.substr(0, code.size()), code) << FakePlatform::Narrow(run.line);
    EXPECT_NE(run.line.find(c.refused + L" "), std::wstring::npos) << FakePlatform::Narrow(run.line);
    EXPECT_EQ(platform.files, before);
}

INSTANTIATE_TEST_SUITE_P(
    Links, Refuses,
    ::testing::Values(LinkCase{"Defaults", Unpatched, L"/patch", Defaults, false},
                      LinkCase{"Profile", Unpatched, L"/patch", Profile, false},
                      LinkCase{"UserJs", Unpatched, L"/patch", Prefs, false},
                      LinkCase{"UserJsWithTwoNames", Unpatched, L"/patch", Prefs, true},
                      LinkCase{"KeptOriginalOnPatch", Unpatched, L"/patch", Backup, false},
                      LinkCase{"DefaultsOnUndo", Patched, L"/undo", Defaults, false},
                      LinkCase{"KeptOriginalOnUndo", Patched, L"/undo", Backup, false},
                      LinkCase{"KeptOriginalWithTwoNames", Patched, L"/undo", Backup, true},
                      LinkCase{"EarlierKeptOriginal", PatchedEarlier, L"/undo", EarlierBackup, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Refuses, ToTakeOverItsOwnNamesWhenSomethingElseHasThem) {
    FakePlatform platform;
    Unpatched(platform);
    // Someone's link and folder under the names the program writes first,
    // and a file put under the third after the sweep listed a leftover there.
    platform.AddFile(Defaults + L"tarnwick-1.tmp", "");
    platform.files[FakePlatform::Key(Defaults + L"tarnwick-1.tmp")].link = true;
    platform.AddFolder(Defaults + L"tarnwick-2.tmp");
    platform.AddFile(Defaults + L"tarnwick-3.tmp", "left over");
    platform.onStep = [&](const std::string& entry) {
        if (entry == "open " + FakePlatform::Narrow(Defaults) + "tarnwick-3.tmp")
            platform.AddFile(Defaults + L"tarnwick-3.tmp", "someone's");
    };
    EXPECT_EQ(RunWith(platform, L"/patch").exitCode, ExitCode::Done);
    EXPECT_EQ(platform.Bytes(Prefs), PayloadFile);
    EXPECT_TRUE(platform.files[FakePlatform::Key(Defaults + L"tarnwick-1.tmp")].link);
    EXPECT_TRUE(platform.HasFolder(Defaults + L"tarnwick-2.tmp"));
    EXPECT_EQ(platform.Bytes(Defaults + L"tarnwick-3.tmp"), "someone's");
}

// Which reparse points count as links: whatever stands for another name,
// any tag nobody knows, and Wine's untagged ones; the storage filters' own
// kinds are the files themselves.
TEST(Refuses, EveryReparsePointButTheStorageFiltersOwnAsALink) {
    const std::pair<std::uint32_t, ReparseKind> rows[] = {
        {0xA0000003, ReparseKind::Link},     // junction, mount point
        {0xA000000C, ReparseKind::Link},     // symbolic link
        {0xA000001D, ReparseKind::Link},     // a surrogate of a later Windows
        {0x80000023, ReparseKind::Link},     // a Unix socket: no storage filter
        {0x00000000, ReparseKind::Link},     // Wine's link to a folder
        {0x80000017, ReparseKind::Storage},  // WOF (compact /exe)
        {0x80000013, ReparseKind::Storage},  // deduplication
        {0xC0000004, ReparseKind::Storage},  // HSM
        {0x80000006, ReparseKind::Storage},  // HSM2
        {0x9000001A, ReparseKind::Storage},  // cloud-file placeholder
        {0x9000F01A, ReparseKind::Storage},  // the last of its family
        {0x9000001B, ReparseKind::Link},     // close to it, not of it
    };
    for (const auto& [tag, kind] : rows) EXPECT_EQ(ReparseKindOf(true, tag), kind) << std::hex << tag;
    EXPECT_EQ(ReparseKindOf(false, 0xA000000C), ReparseKind::None);
}

TEST(Refuses, ToWaitForeverForAnotherRun) {
    for (const wchar_t* command : {L"/patch", L"/undo"}) {
        FakePlatform platform;
        Patched(platform);
        if (std::wstring(command) == L"/patch") platform.files.erase(FakePlatform::Key(Marker));
        const Tree before = platform.files;
        platform.lockedElsewhere = true;
        const Ran run = RunWith(platform, command);
        EXPECT_EQ(run.exitCode, 1618) << FakePlatform::Narrow(command);
        EXPECT_EQ(run.line.substr(0, 21), L"Run-time error 1618: ");
        EXPECT_EQ(platform.clock, std::chrono::minutes(1));
        EXPECT_EQ(platform.files, before);
    }
}

// A file another program keeps busy (open without sharing, a locked range,
// an oplock) is looked at again for a minute, as another run's lock is, by
// /patch of a marked folder too; an undo retried is still told as done.
TEST(Refuses, ToWaitForeverForABusyFile) {
    const struct { const char* operation; int busy; long code; std::wstring command, line; } rows[] = {
        {"OpenFile", 3, 742, L"/patch", L"Patched:"}, {"OpenFile", 3, 32, L"/undo", L"Undone:"},
        {"OpenFile", 1000, 33, L"/patch", L"Run-time error 1618: "}, {"Remove", 1, 742, L"/undo", L"Undone:"},
        {"OpenFile", 1000, 742, L"/undo", L"Run-time error 1618: "},
        {"HoldFolder", 3, 32, L"/patch marked", L"Already patched"}};
    for (const auto& row : rows) {
        FakePlatform platform;
        Patched(platform);
        if (row.command == L"/patch") platform.files.erase(FakePlatform::Key(Marker));
        const Tree before = platform.files;
        for (int n = 1; n <= row.busy; ++n) platform.FailAt(row.operation, n, row.code);
        const Ran run = RunWith(platform, row.command.substr(0, 6));
        const bool freed = row.busy < 1000;
        EXPECT_EQ(run.exitCode, freed ? 0 : 1618) << FakePlatform::Narrow(row.command + run.line);
        EXPECT_EQ(run.line.substr(0, row.line.size()), row.line) << FakePlatform::Narrow(run.line);
        EXPECT_EQ(platform.clock, freed ? std::chrono::milliseconds(100 * row.busy) : std::chrono::minutes(1));
        EXPECT_EQ(platform.files == before, !freed || row.command == L"/patch marked");
        EXPECT_EQ(platform.files == StateOf(row.command[1] == L'p' ? Patched : Unpatched), freed);
    }
}

// A step that never ends meets the watchdog: the run ends with 1618 while
// it has issued no change, with 1 once it has (one in flight, or landing
// late, as the last), naming the file it was stuck on; the next run finishes.
TEST(CutShort, AStepThatNeverEndsMeetsTheWatchdog) {
    const struct { const char* operation; bool lands; int exitCode; std::wstring stuckOn; } rows[] = {
        {"OpenFile", false, 1618, Prefs}, {"Commit", false, 1, Backup}, {"Commit", true, 1, Backup}};
    for (const auto& row : rows) {
        FakePlatform platform;
        Unpatched(platform);
        (platform.*(row.lands ? &FakePlatform::SlowAt : &FakePlatform::HangAt))(row.operation, 1);
        const Ran run = RunWith(platform, L"/patch");
        EXPECT_EQ(platform.watchdogExit, row.exitCode) << row.operation;
        EXPECT_EQ(platform.clock, std::chrono::minutes(5));
        EXPECT_EQ(platform.watchdogStuckOn, row.stuckOn);
        EXPECT_EQ(platform.Bytes(Prefs), Earlier) << row.operation;
        const std::wstring start = L"Run-time error " + DecimalText(row.exitCode) +
                                   L": Tarnwick stopped after 5 minutes";
        EXPECT_EQ(run.line.substr(0, start.size()), start) << FakePlatform::Narrow(run.line);
        EXPECT_EQ(run.line.find(L'\n'), run.line.size() - 1) << FakePlatform::Narrow(run.line);
        EXPECT_NE(run.line.find(row.stuckOn), std::wstring::npos);
        platform.killed = false;
        EXPECT_EQ(RunWith(platform, L"/patch").exitCode, 0);
        EXPECT_EQ(platform.files, StateOf(Patched));
    }
}

// ---- two runs at once ----

struct TogetherCase {
    const char* name;
    void (*arrange)(FakePlatform&);
    std::wstring first, second;
    friend void PrintTo(const TogetherCase& c, std::ostream* out) { *out << c.name; }
};

class Together : public ::testing::TestWithParam<TogetherCase> {};

// The second run starts at every step of the first in turn. Both succeed,
// and the folder ends patched or not, whole either way: the original is
// never lost. Among them is the interleaving that once lost it: undo took
// the marker away, a patch read the payload and kept no original, undo put
// the original back, and the patch wrote over it.
TEST_P(Together, BothSucceedAndTheFolderEndsWhole) {
    const TogetherCase& c = GetParam();
    const Tree patched = StateOf(Patched), unpatched = StateOf(Unpatched);
    for (int at = 1;; ++at) {
        FakePlatform platform;
        c.arrange(platform);
        Ran first{}, second{};
        const bool started = platform.Interleave([&] { first = RunWith(platform, c.first); },
                                                 [&] { second = RunWith(platform, c.second); }, at);
        if (!started) break;
        EXPECT_EQ(first.exitCode, 0) << "second started at step " << at << ": "
                                     << FakePlatform::Narrow(first.line);
        EXPECT_EQ(second.exitCode, 0) << "second started at step " << at << ": "
                                      << FakePlatform::Narrow(second.line);
        EXPECT_TRUE(platform.files == patched || platform.files == unpatched)
            << "second started at step " << at << ": " << FakePlatform::Narrow(first.line)
            << FakePlatform::Narrow(second.line);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Runs, Together,
    ::testing::Values(TogetherCase{"UndoThenPatch", Patched, L"/undo", L"/patch"},
                      TogetherCase{"PatchThenUndo", Unpatched, L"/patch", L"/undo"},
                      TogetherCase{"PatchTwice", Unpatched, L"/patch", L"/patch"},
                      TogetherCase{"UndoTwice", Patched, L"/undo", L"/undo"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- runs cut short ----

struct KillCase {
    const char* name;
    void (*arrange)(FakePlatform&);
    std::wstring killed;                 // cut short at each of its steps in turn
    std::vector<std::wstring> then;      // run to their end afterwards
    void (*after)(FakePlatform&);        // the state they must leave
    friend void PrintTo(const KillCase& c, std::ostream* out) { *out << c.name; }
};

class CutShort : public ::testing::TestWithParam<KillCase> {};

// Whatever step a run is killed at, the next runs finish the job: nothing
// lost, nothing left over, no temporary file, no stray copy.
TEST_P(CutShort, AtAnyStepTheNextRunFinishesTheJob) {
    const KillCase& c = GetParam();
    const Tree expected = StateOf(c.after);
    for (int at = 1;; ++at) {
        FakePlatform platform;
        c.arrange(platform);
        platform.KillAt(at);
        RunWith(platform, c.killed);
        if (!platform.killed) break;  // the run ends before that step
        platform.killed = false;
        // An undo cut short never leaves the tweak in place unrecorded: the
        // marker goes only once the file is back.
        if (c.killed == L"/undo" && platform.Bytes(Prefs) == PayloadFile) {
            EXPECT_TRUE(platform.HasFolder(Marker)) << "killed at step " << at;
        }
        for (const std::wstring& command : c.then) {
            const Ran run = RunWith(platform, command);
            EXPECT_EQ(run.exitCode, 0) << "killed at step " << at << ", then " << FakePlatform::Narrow(command)
                                       << ": " << FakePlatform::Narrow(run.line);
        }
        EXPECT_EQ(platform.files, expected) << "killed at step " << at;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Kills, CutShort,
    ::testing::Values(KillCase{"PatchThenPatch", Unpatched, L"/patch", {L"/patch"}, Patched},
                      KillCase{"PatchThenUndo", Unpatched, L"/patch", {L"/undo"}, Unpatched},
                      KillCase{"UndoThenUndo", Patched, L"/undo", {L"/undo"}, Unpatched},
                      KillCase{"UndoThenUndoThenPatch", Patched, L"/undo", {L"/undo", L"/patch"}, Patched},
                      KillCase{"EarlierLayoutUndo", PatchedEarlier, L"/undo", {L"/undo"}, Unpatched},
                      KillCase{"EarlierLayoutPatchAgain", PatchedEarlier, L"/patch", {L"/undo", L"/patch"},
                               Patched},
                      KillCase{"NoEarlierFilePatchThenUndo", Fresh, L"/patch", {L"/undo"}, Fresh},
                      KillCase{"NoEarlierFileUndoThenUndo", PatchedFresh, L"/undo", {L"/undo"}, Fresh},
                      KillCase{"EditedUndoThenUndo", PatchedThenEdited, L"/undo", {L"/undo"},
                               UndoneKeepingTheEdit},
                      KillCase{"StaleOriginalPatchThenPatch", StaleOriginal, L"/patch", {L"/patch"},
                               StaleKeptAside<Patched>},
                      KillCase{"StaleOriginalUndoThenUndo", StaleOriginal, L"/undo", {L"/undo"},
                               StaleKeptAside<Unpatched>},
                      KillCase{"BothOriginalsUndoThenUndo", PatchedKeepingBoth, L"/undo", {L"/undo"},
                               StaleKeptAside<Unpatched>}),
    [](const auto& info) { return std::string(info.param.name); });

// What an earlier version left when it was killed: its temporary files in
// the profile folder, and an undo cut off after the marker had gone.
TEST(CutShort, AnEarlierVersionsLeftoversAreSweptAndItsUndoFinished) {
    FakePlatform platform;
    Patched(platform);
    platform.files.erase(FakePlatform::Key(Backup));
    platform.AddFile(EarlierBackup, Earlier);
    platform.files.erase(FakePlatform::Key(Marker));
    platform.AddFile(Profile + L"TWK1A2.tmp", "half");
    platform.AddFile(Profile + L"TWKnotours.tmp", "someone's");
    const Ran run = RunWith(platform, L"/undo");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.line.substr(0, 7), L"Undone:");
    Tree expected = StateOf(Unpatched);
    expected[FakePlatform::Key(Profile + L"TWKnotours.tmp")] = Node{false, "someone's"};
    EXPECT_EQ(platform.files, expected);
}

// ---- the promises, over random sequences ----

// Seeded sequences of states, commands, faults, kills, stuck steps and
// edits between runs; after each run, what the README promises of it.
TEST(Promises, HoldOverRandomSequences) {
    std::mt19937 random(29);
    const auto pick = [&random](const auto& list) -> const auto& { return list[random() % std::size(list)]; };
    void (*const starts[])(FakePlatform&) = {Unpatched,         Patched,        Fresh,         PatchedFresh,
                                             PatchedThenEdited, PatchedEarlier, StaleOriginal, PatchedKeepingBoth};
    const char* const operations[] = {"HoldFolder", "Inspect", "OpenFile", "ReadFile", "Entries",      "LockRun",
                                      "Write",      "Commit",  "MoveOnto", "Remove",   "CreateFolder", "DeleteFolder"};
    const long codes[] = {5, 2, 32, 742};
    const std::string edits[] = {Earlier, Edited, PayloadFile, ""};  // "": user.js deleted
    const std::wstring x86(X86Folder), x86Prefs = x86 + std::wstring(PrefsRelativePath);
    const auto lasting = [](Tree tree) {  // without the temporary files a run may leave
        std::erase_if(tree, [](const auto& entry) { return entry.first.ends_with(L".tmp"); });
        return tree;
    };
    for (int sequence = 0; sequence < 3000; ++sequence) {
        FakePlatform platform;
        pick(starts)(platform);
        if (random() % 2)
            InstallBrowserIn(platform, x86), platform.AddFolder(x86 + L"i386"), platform.AddFile(x86Prefs, PayloadFile);
        for (int step = 0; step < 6; ++step) {
            if (const std::string& edit = pick(edits); random() % 4 == 0) {
                edit.empty() ? void(platform.files.erase(FakePlatform::Key(Prefs))) : platform.AddFile(Prefs, edit);
                continue;
            }
            platform.NewRun();
            const unsigned trouble = random() % 6;  // a fault, a kill, a stuck step, or none
            if (trouble == 0) platform.FailAt(pick(operations), static_cast<int>(random() % 6), pick(codes));
            if (trouble == 1) platform.KillAt(1 + static_cast<int>(random() % 60));
            if (trouble == 2) {
                const std::string operation = pick(operations);
                const int nth = 1 + static_cast<int>(random() % 3);
                random() % 2 ? platform.SlowAt(operation, nth) : platform.HangAt(operation, nth);
            }
            const Tree before = lasting(platform.files);
            const std::wstring command = random() % 2 ? L"/patch" : L"/undo";
            const Ran run = RunWith(platform, command);
            const Tree after = lasting(platform.files);
            const bool done = !platform.killed && !platform.watchdogExit && run.exitCode == 0;
            const std::string where = "sequence " + std::to_string(sequence) + ", run " + std::to_string(step) +
                                      ": " + FakePlatform::Narrow(command + L" -> " + run.line);
            EXPECT_TRUE(trouble <= 2 || run.exitCode == 0) << where;
            EXPECT_TRUE(run.line.find(L"Nothing was changed") == std::wstring::npos || after == before) << where;
            for (const std::wstring& folder : {Default, x86}) {  // undone: no marker, nothing cut short
                const std::wstring prefs = folder + std::wstring(PrefsRelativePath), kept(KeptOriginalName);
                const bool keptOnly = !platform.Has(prefs) && (platform.Has(folder + L"defaults\\" + kept) ||
                                                               platform.Has(folder + L"defaults\\profile\\" + kept));
                EXPECT_FALSE(done && command == L"/undo" &&
                             (platform.Has(folder + L"i386") || platform.Bytes(prefs) == PayloadFile || keptOnly))
                    << where;
            }
            EXPECT_FALSE(done && command == L"/patch" && !platform.Has(Marker) && !platform.Has(x86 + L"i386"))
                << where;
            for (const auto& [path, node] : before) {  // nothing anyone wrote is lost
                const auto same = [&node](const auto& entry) { return entry.second.bytes == node.bytes; };
                EXPECT_TRUE(node.folder || node.bytes == PayloadFile || std::any_of(after.begin(), after.end(), same))
                    << where << " lost " << FakePlatform::Narrow(path);
            }
        }
    }
}

}  // namespace
}  // namespace tarnwick::testing
