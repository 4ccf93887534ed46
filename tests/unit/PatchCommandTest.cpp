#include "tests/unit/Bench.h"

namespace tarnwick::testing {
namespace {

using Log = std::vector<std::string>;
const std::string ProbeDefault = "dir? C:\\Program Files\\Mozilla Firefox\\";
const std::string ProbePrefs = "file? C:\\Program Files\\Mozilla Firefox\\defaults\\profile\\user.js";
const std::string ProbeX86 = "dir? C:\\Program Files (x86)\\Mozilla Firefox\\";
const std::string ProbeMarker = "dir? C:\\Program Files\\Mozilla Firefox\\i386";
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
              (Log{ProbeDefault, ProbeMarker, ConfirmUndo, "lock", ProbeMarker}));
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
        EXPECT_EQ(fresh.log, (Log{ProbeDefault, ProbeMarker, ConfirmUndo, "end"})) << answer;
    }
}

TEST_F(PatchCommand, FormFileSystemIsMadeOnlyWhenUndoNeedsIt) {
    InstallBrowser();
    platform.AddFolder(Marker);
    platform.Answer(7);
    Click();
    EXPECT_EQ(platform.fileSystemObjectsMade, 2);  // one per probe, none for a declined undo

    FreshForm world;
    FakePlatform& fresh = world.platform;
    Form1& local = world.form;
    fresh.AddFolder(Default);
    fresh.AddFolder(Marker);
    fresh.Answer(Answer::Yes);
    EXPECT_THROW(local.Command1_Click(), ProgramEnd);
    // Three probes, then one object that serves both the check and the delete.
    EXPECT_EQ(fresh.fileSystemObjectsMade, 4);
}

// What undo leaves of user.js. It deletes only the program's own bytes, so
// an original that an earlier undo already put back is never deleted.
struct UndoCase {
    const char* name;
    std::optional<std::string> prefs, kept, earlierKept;
    std::optional<std::string> prefsAfter;
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
    EXPECT_FALSE(platform.Has(Backup));
    EXPECT_FALSE(platform.Has(EarlierBackup));
    EXPECT_FALSE(platform.Has(Marker));
    EXPECT_EQ(Changes().end()[-2], Removed);
}

INSTANTIATE_TEST_SUITE_P(
    Undo, UndoLeaves,
    ::testing::Values(UndoCase{"OwnFileGoes", PayloadFile, {}, {}, {}},
                      UndoCase{"AlreadyGone", {}, {}, {}, {}},
                      UndoCase{"OriginalComesBack", PayloadFile, Earlier, {}, Earlier},
                      UndoCase{"OriginalKeptByAnEarlierVersionComesBack", PayloadFile, {}, Earlier,
                               Earlier},
                      UndoCase{"OriginalAlreadyPutBackStays", Earlier, {}, {}, Earlier},
                      UndoCase{"OtherBytesStay", "edited since\r\n", {}, {}, "edited since\r\n"}),
    [](const auto& info) { return std::string(info.param.name); });

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
    EXPECT_EQ(platform.log, (Log{ProbeDefault, ProbePrefs, ProbeX86, CannotFind, "end"}));
    EXPECT_TRUE(platform.files.empty());
}

TEST_F(PatchCommand, CancellingTheFolderDialogEndsWithoutAMessage) {
    platform.Answer(Answer::Yes);
    platform.Choose(std::nullopt);
    EXPECT_TRUE(Click());
    EXPECT_EQ(platform.log, (Log{ProbeDefault, ProbePrefs, ProbeX86, CannotFind, Browse, "end"}));
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
    EXPECT_EQ(Log(platform.log.begin(), platform.log.begin() + 7),
              (Log{ProbeDefault, ProbePrefs, ProbeX86, CannotFind, Browse, ProbeMarker,
                   "version? D:\\Fox\\firefox.exe"}));
    EXPECT_EQ(Changes(), (Log{CannotFind, Browse, "lock", "commit > D:\\Fox\\defaults\\profile\\user.js",
                              Complete, "end"}));
}

TEST_F(PatchCommand, PrefsFileFoundWithoutTheFolderPatchesTheDefaultFolder) {
    // The folder probe says no, then the browser turns up before the file
    // probe: the file must go where it was found, never the working folder.
    platform.onStep = [&](const std::string& entry) {
        if (entry == ProbePrefs) {
            InstallBrowser();
            platform.AddFile(Prefs, "old");
        }
    };
    EXPECT_TRUE(Click());
    EXPECT_EQ(form.browserFolder(), Default);
    EXPECT_EQ(platform.Bytes(Prefs), PayloadFile);
    EXPECT_EQ(std::count(platform.log.begin(), platform.log.end(), CannotFind), 0);
    EXPECT_EQ(platform.log[0], ProbeDefault);
    EXPECT_EQ(platform.log[1], ProbePrefs);
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

struct LocateCase {
    const char* name;
    bool inDefault, inX86;
    std::wstring patched;  // the folder the click patches and marks; empty: none
    Log probes;            // up to the question or the marker probe
    friend void PrintTo(const LocateCase& c, std::ostream* out) { *out << c.name; }
};

class Locate : public Bench, public ::testing::WithParamInterface<LocateCase> {};

TEST_P(Locate, TakesTheDefaultFolderThenTheX86OneThenAsks) {
    const LocateCase& c = GetParam();
    if (c.inDefault) InstallBrowser();
    if (c.inX86) {
        InstallBrowserAt(X86);
        platform.AddFile(X86Prefs, Earlier);
    }
    platform.Answer(7);
    EXPECT_TRUE(Click());
    EXPECT_EQ(Log(platform.log.begin(), platform.log.begin() + c.probes.size()), c.probes);
    EXPECT_EQ(std::count(platform.log.begin(), platform.log.end(), CannotFind), c.patched.empty());
    EXPECT_EQ(platform.HasFolder(Marker), c.patched == Default);
    EXPECT_EQ(platform.HasFolder(X86Marker), c.patched == X86);
    if (c.inX86) {
        // The 32-bit browser's own file is kept, and only when it is patched.
        EXPECT_EQ(platform.Bytes(X86Prefs), c.patched == X86 ? PayloadFile : Earlier);
        EXPECT_EQ(platform.Bytes(X86 + L"defaults\\user.js.tarnwick-original"),
                  c.patched == X86 ? std::optional<std::string>(Earlier) : std::nullopt);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Folders, Locate,
    ::testing::Values(
        LocateCase{"Default", true, false, Default, {ProbeDefault, ProbeMarker}},
        LocateCase{"X86", false, true, X86,
                   {ProbeDefault, ProbePrefs, ProbeX86, "dir? C:\\Program Files (x86)\\Mozilla Firefox\\i386"}},
        LocateCase{"BothTakesTheDefault", true, true, Default, {ProbeDefault, ProbeMarker}},
        LocateCase{"Neither", false, false, L"", {ProbeDefault, ProbePrefs, ProbeX86, CannotFind}}),
    [](const auto& info) { return std::string(info.param.name); });

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
    EXPECT_EQ(Changes(), (Log{ConfirmUndo, "lock",
                              "move C:\\Program Files (x86)\\Mozilla Firefox\\defaults\\user.js.tarnwick-original"
                              " > " + FakePlatform::Narrow(X86Prefs),
                              "rmdir " + FakePlatform::Narrow(X86Marker), Removed, "end"}));
}

}  // namespace
}  // namespace tarnwick::testing
