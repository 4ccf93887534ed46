#include "platform/WindowsMachine.h"
#include "tests/unit/Bench.h"

namespace tarnwick::testing {
namespace {

using Log = std::vector<std::string>;
const std::string ProbeMarker = "dir? C:\\Program Files\\Mozilla Firefox\\i386";
const std::string ProbeX86Marker = "dir? C:\\Program Files (x86)\\Mozilla Firefox\\i386";
const std::string ProbeProfile = "dir? C:\\Program Files\\Mozilla Firefox\\defaults\\profile\\";
const std::string ProbeX86Profile = "dir? C:\\Program Files (x86)\\Mozilla Firefox\\defaults\\profile\\";
const std::string ProbeProgram = "file? C:\\Program Files\\Mozilla Firefox\\firefox.exe";
const std::string ProbeX86Program = "file? C:\\Program Files (x86)\\Mozilla Firefox\\firefox.exe";
// Every probe a click makes before it asks where the browser is.
const Log ProbesBeforeAsking{ProbeMarker,  ProbeX86Marker, ProbeProfile,
                             ProbeX86Profile, ProbeProgram,  ProbeX86Program};
const std::string DeleteMarker = "rmdir C:\\Program Files\\Mozilla Firefox\\i386";
const std::string DeletePrefs = "rm C:\\Program Files\\Mozilla Firefox\\defaults\\profile\\user.js";
const std::string Earlier = "user_pref(\"admin\", 1);\r\n";

class PatchCommand : public Bench {};

TEST_F(PatchCommand, DefaultFolderWithoutMarkerAppliesAndEnds) {
    InstallBrowser();
    EXPECT_TRUE(Click());
    EXPECT_EQ(form.browserFolder(), Default);
    EXPECT_EQ(platform.Bytes(Prefs), PayloadFile);
    EXPECT_TRUE(platform.HasFolder(Marker));
    EXPECT_EQ(platform.log.back(), "end");
}

// The question is asked before the run lock is taken; under it the marker
// is probed again, and it goes last, once the file is right.
TEST_F(PatchCommand, UndoAskedAndYesRemovesTheFileThenTheMarkerThenSaysSo) {
    InstallBrowser();
    platform.AddFolder(Marker);
    platform.AddFile(Prefs, PayloadFile);
    platform.Answer(Answer::Yes);
    EXPECT_TRUE(Click());
    EXPECT_EQ(Log(platform.log.begin(), platform.log.begin() + 5),
              (Log{ProbeMarker, ConfirmUndo, "hold C:\\Program Files\\Mozilla Firefox\\",
                   "facts? C:\\Program Files\\Mozilla Firefox\\i386", "lock"}));
    EXPECT_EQ(Changes(), (Log{ConfirmUndo, "lock", DeletePrefs, DeleteMarker, Removed, "end"}));
    EXPECT_FALSE(platform.Has(Marker));
    EXPECT_FALSE(platform.Has(Prefs));
}

TEST_F(PatchCommand, OnlyYesActsOnTheUndoQuestion) {
    for (int answer : {7, 2, 1, 0, -1}) {
        FreshForm world;
        FakePlatform& fresh = world.platform;
        Form1& local = world.form;
        fresh.AddFolder(Default);
        fresh.AddFolder(Marker);
        fresh.AddFile(Prefs, "x");
        fresh.Answer(answer);
        EXPECT_THROW(local.Command1_Click(), ProgramEnd);
        EXPECT_TRUE(fresh.HasFolder(Marker)) << answer;
        EXPECT_EQ(fresh.Bytes(Prefs), "x") << answer;
        EXPECT_EQ(fresh.log, (Log{ProbeMarker, ConfirmUndo, "end"})) << answer;
    }
}

TEST_F(PatchCommand, FormFileSystemIsMadeOnlyWhenUndoNeedsIt) {
    InstallBrowser();
    platform.AddFolder(Marker);
    platform.Answer(7);
    Click();
    EXPECT_EQ(platform.fileSystemObjectsMade, 1);  // one for the probe, none for a declined undo

    FreshForm world;
    FakePlatform& fresh = world.platform;
    Form1& local = world.form;
    fresh.AddFolder(Default);
    fresh.AddFolder(Marker);
    fresh.Answer(Answer::Yes);
    EXPECT_THROW(local.Command1_Click(), ProgramEnd);
    // The probe, then one object that serves both the check and the delete.
    EXPECT_EQ(fresh.fileSystemObjectsMade, 2);
}

// What undo leaves of user.js. It deletes only the program's own bytes, and
// puts the original back over nothing else: a file changed since the patch
// is kept aside, and the person is told where.
struct UndoCase {
    const char* name;
    std::optional<std::string> prefs, kept, earlierKept;
    std::optional<std::string> prefsAfter, changedAfter;
    friend void PrintTo(const UndoCase& c, std::ostream* out) { *out << c.name; }
};

class UndoLeaves : public Bench, public ::testing::WithParamInterface<UndoCase> {};

TEST_P(UndoLeaves, TheFileAsItWasBeforeTheTweak) {
    const UndoCase& c = GetParam();
    InstallBrowser();
    platform.AddFolder(Marker);
    if (c.prefs) platform.AddFile(Prefs, *c.prefs);
    if (c.kept) platform.AddFile(Backup, *c.kept);
    if (c.earlierKept) platform.AddFile(EarlierBackup, *c.earlierKept);
    platform.Answer(Answer::Yes);
    EXPECT_TRUE(Click());
    EXPECT_EQ(platform.Bytes(Prefs), c.prefsAfter);
    EXPECT_EQ(platform.Bytes(Changed), c.changedAfter);
    EXPECT_FALSE(platform.Has(Backup));
    EXPECT_FALSE(platform.Has(EarlierBackup));
    EXPECT_FALSE(platform.Has(Marker));
    EXPECT_TRUE(platform.TemporaryLeftovers().empty());
    Log told{Removed};
    if (c.changedAfter) told.push_back(KeptChangedBox);
    told.push_back("end");
    const Log changes = Changes();
    EXPECT_EQ(Log(changes.end() - static_cast<long>(told.size()), changes.end()), told);
}

const std::string Edited = PayloadFile + "user_pref(\"admin.added\", 1);\r\n";

INSTANTIATE_TEST_SUITE_P(
    Undo, UndoLeaves,
    ::testing::Values(UndoCase{"OwnFileGoes", PayloadFile, {}, {}, {}, {}},
                      UndoCase{"AlreadyGone", {}, {}, {}, {}, {}},
                      UndoCase{"OriginalComesBack", PayloadFile, Earlier, {}, Earlier, {}},
                      UndoCase{"OriginalKeptByAnEarlierVersionComesBack", PayloadFile, {}, Earlier,
                               Earlier, {}},
                      UndoCase{"OriginalAlreadyBackStays", Earlier, Earlier, {}, Earlier, {}},
                      UndoCase{"EditedWithAnOriginalIsKeptAside", Edited, Earlier, {}, Earlier, Edited},
                      UndoCase{"EditedWithoutAnOriginalIsKeptAside", Edited, {}, {}, {}, Edited},
                      UndoCase{"BothOriginalsGoAtOnce", PayloadFile, Earlier, Earlier, Earlier, {}}),
    [](const auto& info) { return std::string(info.param.name); });

// Numbers of any length are read, compared and counted on as digit
// strings: the same file kept past changed-999999999 is found again.
TEST_F(PatchCommand, AChangedFileIsFoundUnderANumberOfAnyLength) {
    InstallBrowser();
    platform.AddFolder(Marker);
    platform.AddFile(Prefs, Edited);
    platform.AddFile(Default + L"defaults\\user.js.changed-1000000000", Edited);
    platform.Answer(Answer::Yes);
    EXPECT_TRUE(Click());
    EXPECT_FALSE(platform.Has(Changed));  // not kept again
    EXPECT_TRUE(NumberLess(L"999999999", L"01000000000"));
    EXPECT_EQ(NextNumber(L"0999"), L"1000");
}

// Until the file is back, the marker stays: the next undo finishes the job.
TEST_F(PatchCommand, AnUndoThatCannotRemoveTheFileKeepsTheMarkerForTheNextOne) {
    for (const bool kept : {false, true}) {
        FreshForm world;
        FakePlatform& fresh = world.platform;
        fresh.AddFolder(Default);
        fresh.AddFolder(Default + L"defaults\\");
        fresh.AddFolder(Profile);
        fresh.AddFolder(Marker);
        fresh.AddFile(Prefs, PayloadFile, /*readOnly=*/true);
        if (kept) fresh.AddFile(Backup, Earlier);
        fresh.Answer(Answer::Yes);
        EXPECT_THROW(world.form.Command1_Click(), Failure) << kept;
        EXPECT_TRUE(fresh.HasFolder(Marker)) << kept;
        EXPECT_EQ(fresh.Bytes(Prefs), PayloadFile);
        EXPECT_EQ(fresh.Has(Backup), kept);

        fresh.files[FakePlatform::Key(Prefs)].readOnly = false;
        fresh.Answer(Answer::Yes);
        EXPECT_THROW(world.form.Command1_Click(), ProgramEnd);
        EXPECT_FALSE(fresh.Has(Marker)) << kept;
        EXPECT_EQ(fresh.Bytes(Prefs), kept ? std::optional<std::string>(Earlier) : std::nullopt);
    }
}

TEST_F(PatchCommand, ReadOnlyContentInTheMarkerStopsUndoBeforeTheFile) {
    InstallBrowser();
    platform.AddFolder(Marker);
    platform.AddFile(Marker + L"\\locked.txt", "", /*readOnly=*/true);
    platform.AddFile(Prefs, PayloadFile);
    platform.AddFile(Backup, Earlier);
    platform.Answer(Answer::Yes);
    EXPECT_THROW(Click(), Failure);
    EXPECT_TRUE(platform.HasFolder(Marker));
    EXPECT_EQ(platform.Bytes(Prefs), PayloadFile);
    EXPECT_EQ(platform.Bytes(Backup), Earlier);
}

TEST_F(PatchCommand, MissingBrowserAndNoToTheQuestionEndsWithNothingChanged) {
    platform.Answer(7);
    EXPECT_TRUE(Click());
    Log expected = ProbesBeforeAsking;
    expected.insert(expected.end(), {CannotFind, "end"});
    EXPECT_EQ(platform.log, expected);
    EXPECT_TRUE(platform.files.empty());
}

TEST_F(PatchCommand, CancellingTheFolderDialogEndsWithoutAMessage) {
    platform.Answer(Answer::Yes);
    platform.Choose(std::nullopt);
    EXPECT_TRUE(Click());
    Log expected = ProbesBeforeAsking;
    expected.insert(expected.end(), {CannotFind, Browse, "end"});
    EXPECT_EQ(platform.log, expected);
}

TEST_F(PatchCommand, AChosenFolderIsPatchedWithoutAMarker) {
    platform.AddFolder(L"D:\\");
    InstallBrowserAt(L"D:\\Fox\\");
    platform.Answer(Answer::Yes);
    platform.Choose(std::wstring(L"D:\\Fox\0", 7));
    EXPECT_TRUE(Click());
    EXPECT_EQ(form.browserFolder(), L"D:\\Fox\\");
    EXPECT_EQ(platform.Bytes(L"D:\\Fox\\defaults\\profile\\user.js"), PayloadFile);
    EXPECT_FALSE(platform.Has(Marker));
    // The chosen folder is held first, and everything after goes through it.
    Log expected = ProbesBeforeAsking;
    expected.insert(expected.end(),
                    {CannotFind, Browse, "hold D:\\Fox\\", "read D:\\Fox\\firefox.exe", "lock"});
    EXPECT_EQ(Log(platform.log.begin(), platform.log.begin() + static_cast<long>(expected.size())),
              expected);
    EXPECT_EQ(Changes(), (Log{CannotFind, Browse, "lock", "commit > D:\\Fox\\defaults\\profile\\user.js",
                              Complete, "end"}));
}

TEST_F(PatchCommand, ABrowserThatTurnsUpBetweenTheProbesIsPatchedWhereItWasFound) {
    // The profile probes say no, then the browser turns up before the
    // program probe: the file must go where it was found, never the
    // working folder.
    platform.onStep = [&](const std::string& entry) {
        if (entry == ProbeProgram) {
            InstallBrowser();
            platform.AddFile(Default + L"firefox.exe", "MZ");
        }
    };
    EXPECT_TRUE(Click());
    EXPECT_EQ(form.browserFolder(), Default);
    EXPECT_EQ(platform.Bytes(Prefs), PayloadFile);
    EXPECT_TRUE(platform.HasFolder(Marker));
    EXPECT_EQ(std::count(platform.log.begin(), platform.log.end(), CannotFind), 0);
}

TEST_F(PatchCommand, AFailingProbeIsNotCaught) {
    for (const char* operation : {"FolderExists", "FileExists", "NewFileSystemObject"}) {
        FreshForm world;
        FakePlatform& fresh = world.platform;
        Form1& local = world.form;
        fresh.FailAt(operation);
        EXPECT_THROW(local.Command1_Click(), Failure) << operation;
        EXPECT_TRUE(fresh.files.empty());
    }
}

TEST_F(PatchCommand, AFailingFolderDialogIsNotCaught) {
    platform.Answer(Answer::Yes);
    platform.FailAt("BrowseForFolder");
    EXPECT_THROW(Click(), Failure);
}

TEST_F(PatchCommand, TheClickFollowsTheMarkerNotTheCaption) {
    InstallBrowser();
    command1.text = L"Undo Patch";  // stale: the marker has gone since start-up
    EXPECT_TRUE(Click());
    EXPECT_TRUE(platform.HasFolder(Marker));
    EXPECT_EQ(platform.Bytes(Prefs), PayloadFile);
}

// ---- which folder a click uses ----

const std::wstring X86(X86Folder);
const std::wstring X86Prefs(X86PrefsFile);
const std::wstring X86Marker(X86MarkerFolder);

// What a known folder holds: nothing, an uninstaller's empty leftover, a
// browser too new to have profile defaults, or a browser the tweak is for.
enum class Holds { Nothing, Empty, ProgramOnly, Browser };

struct LocateCase {
    const char* name;
    Holds inDefault, inX86;
    std::wstring chosen;  // the folder the click takes; empty: it asks
    friend void PrintTo(const LocateCase& c, std::ostream* out) { *out << c.name; }
};

class Locate : public Bench, public ::testing::WithParamInterface<LocateCase> {
protected:
    void Lay(Holds holds, const std::wstring& folder) {
        if (holds == Holds::Nothing) return;
        InstallBrowserAt(folder);
        if (holds != Holds::Browser) platform.files.erase(FakePlatform::Key(folder + L"defaults\\profile"));
        if (holds == Holds::Empty) platform.files.erase(FakePlatform::Key(folder + L"defaults"));
        if (holds != Holds::Empty) platform.AddFile(folder + L"firefox.exe", "MZ");
        if (holds == Holds::Browser) platform.AddFile(folder + L"defaults\\profile\\user.js", Earlier);
    }
};

// The first known folder with profile defaults, then the first with the
// program, then the question; only a browser the tweak is for is patched.
TEST_P(Locate, TakesTheFirstFolderWithProfileDefaultsThenWithTheProgramThenAsks) {
    const LocateCase& c = GetParam();
    Lay(c.inDefault, Default);
    Lay(c.inX86, X86);
    platform.Answer(7);
    EXPECT_TRUE(Click());
    EXPECT_EQ(form.browserFolder(), c.chosen);
    EXPECT_EQ(std::count(platform.log.begin(), platform.log.end(), CannotFind), c.chosen.empty());
    for (const auto& [folder, holds] : {std::pair(Default, c.inDefault), std::pair(X86, c.inX86)}) {
        const bool patched = folder == c.chosen && holds == Holds::Browser;
        EXPECT_EQ(platform.HasFolder(folder + L"i386"), patched) << FakePlatform::Narrow(folder);
        if (holds != Holds::Browser) continue;
        // A browser's own file is kept, and only when it is patched.
        EXPECT_EQ(platform.Bytes(folder + L"defaults\\profile\\user.js"), patched ? PayloadFile : Earlier);
        EXPECT_EQ(platform.Bytes(folder + L"defaults\\user.js.tarnwick-original"),
                  patched ? std::optional<std::string>(Earlier) : std::nullopt);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Folders, Locate,
    ::testing::Values(LocateCase{"Default", Holds::Browser, Holds::Nothing, Default},
                      LocateCase{"X86", Holds::Nothing, Holds::Browser, X86},
                      LocateCase{"BothTakesTheDefault", Holds::Browser, Holds::Browser, Default},
                      LocateCase{"EmptyDefaultLeftOver", Holds::Empty, Holds::Browser, X86},
                      LocateCase{"TooNewForProfileDefaultsInDefault", Holds::ProgramOnly, Holds::Browser, X86},
                      LocateCase{"OnlyAProgram", Holds::ProgramOnly, Holds::Empty, Default},
                      LocateCase{"OnlyEmptyFolders", Holds::Empty, Holds::Empty, L""},
                      LocateCase{"Neither", Holds::Nothing, Holds::Nothing, L""}),
    [](const auto& info) { return std::string(info.param.name); });

// What Windows says of the machine it runs on; Windows on ARM cannot be
// staged under Wine. Before IsWow64Process2 no ARM64 Windows ran x86 code.
TEST(X86Folder, IsKnownOnEverySixtyFourBitWindows) {
    const struct { const char* windows; std::optional<std::uint16_t> machine; std::uint16_t architecture; bool has; }
        rows[] = {{"32-bit", 0x014c, 0, false}, {"x64", 0x8664, 9, true}, {"ARM64", 0xAA64, 12, true},
                  {"ARM64, emulated x86 told Intel", 0xAA64, 0, true}, {"32-bit, before 1709", {}, 0, false},
                  {"x64, before 1709", {}, 9, true}};
    for (const auto& row : rows)
        EXPECT_EQ(HasX86ProgramFilesOn(row.machine, row.architecture), row.has) << row.windows;
}

TEST_F(PatchCommand, TheX86FolderIsUndoneByItsOwnMarker) {
    InstallBrowserAt(X86);
    platform.AddFolder(X86Marker);
    platform.AddFile(X86Prefs, PayloadFile);
    platform.AddFile(X86 + L"defaults\\user.js.tarnwick-original", Earlier);
    platform.Answer(Answer::Yes);
    EXPECT_TRUE(Click());
    EXPECT_EQ(platform.Bytes(X86Prefs), Earlier);
    EXPECT_FALSE(platform.Has(X86Marker));
    EXPECT_FALSE(platform.Has(X86 + L"defaults\\user.js.tarnwick-original"));
    EXPECT_EQ(Changes(), (Log{ConfirmUndo, "lock", "commit > " + FakePlatform::Narrow(X86Prefs),
                              "rmdir " + FakePlatform::Narrow(X86Marker),
                              "rm C:\\Program Files (x86)\\Mozilla Firefox\\defaults\\user.js.tarnwick-original",
                              Removed, "end"}));
}

}  // namespace
}  // namespace tarnwick::testing
