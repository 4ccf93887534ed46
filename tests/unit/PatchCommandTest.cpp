#include "tests/unit/Bench.h"

namespace tarnwick::testing {
namespace {

using Log = std::vector<std::string>;
const std::string ProbeDefault = "dir? C:\\Program Files\\Mozilla Firefox\\";
const std::string ProbePrefs = "file? C:\\Program Files\\Mozilla Firefox\\defaults\\profile\\user.js";
const std::string ProbeMarker = "dir? C:\\Program Files\\Mozilla Firefox\\i386";
const std::string DeleteMarker = "rmdir C:\\Program Files\\Mozilla Firefox\\i386";
const std::string ProbeBackup =
    "file? C:\\Program Files\\Mozilla Firefox\\defaults\\profile\\user.js.tarnwick-original";
const std::string DeletePrefs = "rm C:\\Program Files\\Mozilla Firefox\\defaults\\profile\\user.js";

class PatchCommand : public Bench {};

TEST_F(PatchCommand, DefaultFolderWithoutMarkerAppliesAndEnds) {
    InstallBrowser();
    EXPECT_TRUE(Click());
    EXPECT_EQ(form.browserFolder(), Default);
    EXPECT_EQ(platform.Bytes(Prefs), PayloadFile);
    EXPECT_TRUE(platform.HasFolder(Marker));
    EXPECT_EQ(platform.log.back(), "end");
}

TEST_F(PatchCommand, UndoAskedAndYesRemovesMarkerThenFileThenSaysSo) {
    InstallBrowser();
    platform.AddFolder(Marker);
    platform.AddFile(Prefs, PayloadFile);
    platform.Answer(Answer::Yes);
    EXPECT_TRUE(Click());
    EXPECT_EQ(platform.log, (Log{ProbeDefault, ProbeMarker, ConfirmUndo, DeleteMarker, ProbeBackup,
                                 DeletePrefs, Removed, "end"}));
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
    // The two probes, then one object that serves both the delete and the backup question.
    EXPECT_EQ(fresh.fileSystemObjectsMade, 3);
}

TEST_F(PatchCommand, UndoWithTheFileAlreadyGoneStillCompletes) {
    InstallBrowser();
    platform.AddFolder(Marker);
    platform.Answer(Answer::Yes);
    EXPECT_TRUE(Click());
    EXPECT_FALSE(platform.Has(Marker));
    EXPECT_EQ(platform.log, (Log{ProbeDefault, ProbeMarker, ConfirmUndo, DeleteMarker, ProbeBackup,
                                 DeletePrefs, Removed, "end"}));
}

TEST_F(PatchCommand, UndoThatCannotDeleteTheFileIsAFailureWithoutTheRemovedBox) {
    InstallBrowser();
    platform.AddFolder(Marker);
    platform.AddFile(Prefs, "x", /*readOnly=*/true);
    platform.Answer(Answer::Yes);
    EXPECT_THROW(Click(), Failure);
    EXPECT_FALSE(platform.Has(Marker));
    EXPECT_TRUE(platform.Has(Prefs));
    EXPECT_EQ(std::count(platform.log.begin(), platform.log.end(), Removed), 0);
}

TEST_F(PatchCommand, ReadOnlyContentInTheMarkerStopsUndoBeforeTheFile) {
    InstallBrowser();
    platform.AddFolder(Marker);
    platform.AddFile(Marker + L"\\locked.txt", "", /*readOnly=*/true);
    platform.AddFile(Prefs, PayloadFile);
    platform.Answer(Answer::Yes);
    EXPECT_THROW(Click(), Failure);
    EXPECT_TRUE(platform.HasFolder(Marker));
    EXPECT_EQ(platform.Bytes(Prefs), PayloadFile);
}

TEST_F(PatchCommand, UndoPutsTheKeptOriginalBack) {
    InstallBrowser();
    platform.AddFolder(Marker);
    platform.AddFile(Prefs, PayloadFile);
    platform.AddFile(Backup, "user_pref(\"admin\", 1);\r\n");
    platform.Answer(Answer::Yes);
    EXPECT_TRUE(Click());
    EXPECT_EQ(platform.Bytes(Prefs), "user_pref(\"admin\", 1);\r\n");
    EXPECT_FALSE(platform.Has(Backup));
    EXPECT_EQ(platform.log[5],
              "move C:\\Program Files\\Mozilla Firefox\\defaults\\profile\\user.js.tarnwick-original"
              " > C:\\Program Files\\Mozilla Firefox\\defaults\\profile\\user.js");
}

TEST_F(PatchCommand, MissingBrowserAndNoToTheQuestionEndsWithNothingChanged) {
    platform.Answer(7);
    EXPECT_TRUE(Click());
    EXPECT_EQ(platform.log, (Log{ProbeDefault, ProbePrefs, CannotFind, "end"}));
    EXPECT_TRUE(platform.files.empty());
}

TEST_F(PatchCommand, CancellingTheFolderDialogEndsWithoutAMessage) {
    platform.Answer(Answer::Yes);
    platform.Choose(std::nullopt);
    EXPECT_TRUE(Click());
    EXPECT_EQ(platform.log, (Log{ProbeDefault, ProbePrefs, CannotFind, Browse, "end"}));
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
    EXPECT_EQ(platform.log, (Log{ProbeDefault, ProbePrefs, CannotFind, Browse, ProbeMarker,
                                 "version? D:\\Fox\\firefox.exe",
                                 "read D:\\Fox\\defaults\\profile\\user.js",
                                 "temp D:\\Fox\\defaults\\profile\\", "write 177",
                                 "commit > D:\\Fox\\defaults\\profile\\user.js", Complete, "end"}));
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

}  // namespace
}  // namespace tarnwick::testing
