// The patch button end to end: applying the tweak, undoing it, the folder
// dialog, and the failures a person can run into on the way. Every run
// ends on its own: the exit code is checked on every path.

#include <gtest/gtest.h>

#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <functional>
#include <iostream>
#include <thread>

#include "tests/e2e/Driver.h"

namespace tarnwick::e2e {
namespace {

const std::wstring WorkingFolder = L"C:\\tarnwick-cwd";
const std::wstring Browsers = L"C:\\Browsers";
const std::wstring FoxFolder = L"C:\\Browsers\\Fox\\";

const std::string EarlierPrefs = "user_pref(\"browser.startup.homepage\", \"about:blank\");\r\n";
const std::string OlderBackup = "// kept from the very first install\r\n";
const std::string EditedPrefs = PayloadFile + "user_pref(\"browser.cache.disk.enable\", false);\r\n";

using Tree = std::vector<std::pair<std::wstring, std::string>>;

// A user.js changed since the patch, kept aside: where it is now.
const std::wstring ChangedFile = DefaultsFolder + L"user.js.changed-1";
const BoxLook KeptChangedBox{PrefsFile + L" had been changed since the patch, so Tarnwick kept it as " +
                                 ChangedFile + L".",
                             {IDOK}, true, false};
// A kept original without a marker, beside a user.js written since: a
// patch that never finished left it.
const BoxLook StaleKeptBox{BackupFile + L" was left by a patch that was never finished, and user.js has "
                                        L"changed since, so Tarnwick kept it as " + ChangedFile + L".",
                           {IDOK}, true, false};
const std::wstring RunTimeErrorStart = L"Run-time error '";

Box ExpectRunTimeError(App& app) {
    Box box = app.NextBox();
    EXPECT_EQ(box.title, L"Tarnwick");
    EXPECT_EQ(box.text.substr(0, RunTimeErrorStart.size()), RunTimeErrorStart)
        << testing::PrintToString(box.text);
    EXPECT_EQ(box.buttons, std::vector<int>{IDOK});
    return box;
}

Box ExpectFolderDialog(App& app) {
    Box box = app.NextBox();
    EXPECT_TRUE(box.isFolderDialog) << "a box instead: " << testing::PrintToString(box.text);
    return box;
}

// A run that ends by itself, without a box left open.
void ExpectExit(App& app, DWORD code) {
    const auto exitCode = app.WaitForExit();
    ASSERT_TRUE(exitCode.has_value())
        << "the program is still running; a box open: " << app.AnyBox();
    EXPECT_EQ(*exitCode, code);
}

// One run of the program: the button shows `caption`, a click brings one
// box, `answer` to it ends the program normally.
void ClickAndAnswer(const wchar_t* caption, const BoxLook& look, int answer) {
    App app;
    ASSERT_TRUE(app.Window());
    EXPECT_EQ(TextOf(app.Command1()), caption);
    app.ClickButton();
    const Box box = ExpectBox(app, look);
    app.Press(box, answer);
    ASSERT_NO_FATAL_FAILURE(ExpectExit(app, 0));
}

// One run of the program that offers undo, and undoes the tweak with its
// button.
void UndoWithTheButton() {
    App app;
    ASSERT_TRUE(app.Window());
    EXPECT_EQ(TextOf(app.Command1()), L"Undo Patch");
    EXPECT_EQ(TextOf(app.Label2()), L"Simply Click The Undo Patch Button and this tweak will be uninstalled.");
    app.ClickButton();
    app.Press(ExpectBox(app, ConfirmUndoBox), IDYES);
    app.Press(ExpectBox(app, RemovedBox), IDOK);
    ASSERT_NO_FATAL_FAILURE(ExpectExit(app, 0));
}

// The button's caption as the next start shows it; that run is closed again.
std::wstring CaptionOnNextStart() {
    App app;
    EXPECT_TRUE(app.Window());
    if (!app.Window()) return {};
    const std::wstring caption = TextOf(app.Command1());
    app.Close();
    const auto exitCode = app.WaitForExit();
    EXPECT_EQ(exitCode, std::optional<DWORD>(0)) << "closing the window";
    return caption;
}

std::vector<std::wstring> TempFilesIn(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW entry{};
    HANDLE find = ::FindFirstFileW((folder + L"*.tmp").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return names;
    do names.push_back(entry.cFileName);
    while (::FindNextFileW(find, &entry));
    ::FindClose(find);
    return names;
}

// Nothing a write left behind, where the program writes or earlier ones did.
void ExpectNoTemporaryFiles(const std::wstring& folder = DefaultFolder) {
    EXPECT_EQ(TempFilesIn(folder + L"defaults\\"), std::vector<std::wstring>{});
    EXPECT_EQ(TempFilesIn(folder + L"defaults\\profile\\"), std::vector<std::wstring>{});
}

void ExpectPayloadAt(const std::wstring& path) {
    const auto bytes = ReadBytes(path);
    ASSERT_TRUE(bytes.has_value()) << "no file at " << testing::PrintToString(path);
    EXPECT_EQ(bytes->size(), 177u);
    EXPECT_EQ(bytes->substr(bytes->size() - std::min<size_t>(4, bytes->size())), "\r\n\r\n");
    EXPECT_EQ(*bytes, PayloadFile);
}

bool IsReadOnly(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
}

bool IsLink(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

Tree With(Tree tree, const std::wstring& path, const std::string& bytes) {
    tree.emplace_back(path, bytes);
    std::sort(tree.begin(), tree.end());
    return tree;
}

// A file of somebody else's that user.js is made to lead to.
const std::wstring SecretFile = L"C:\\Browsers\\secret.txt";
void LinkPrefsToASecret() {
    MakeFolders(L"C:\\Browsers");
    WriteBytes(SecretFile, "not for the browser's profiles");
    MakeLinuxLink(PrefsFile, SecretFile);
}
// defaults\profile made a link to a folder elsewhere.
void LinkProfileElsewhere() {
    MakeFolders(L"C:\\Browsers\\Elsewhere");
    WriteBytes(L"C:\\Browsers\\Elsewhere\\user.js", "somebody's own");
    RemoveTree(ProfileFolder);
    MakeLinuxLink(DefaultFolder + L"defaults\\profile", L"C:\\Browsers\\Elsewhere");
}

// ---- fixtures ----

// Nothing from an earlier test: no browser folders elsewhere, no links, an
// empty working folder (so a stray relative write shows).
class PatchRun : public ::testing::Test {
protected:
    void SetUp() override {
        if (UnderWine()) {
            RemoveLinksBelow(DefaultFolder);
            RemoveLinksBelow(Browsers);
        }
        RemoveTree(Browsers);
        RemoveTree(WorkingFolder);
        ASSERT_FALSE(IsFolder(Browsers));
        ASSERT_FALSE(IsFolder(WorkingFolder));
    }
    void TearDown() override {
        if (UnderWine()) {
            RemoveLinksBelow(DefaultFolder);
            RemoveLinksBelow(Browsers);
        }
    }
};

// The browser in its default folder, never patched.
class Patch : public PatchRun {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(PatchRun::SetUp());
        ASSERT_NO_FATAL_FAILURE(LayOutBrowser());
    }
};

// The browser in its default folder, patched: marker and payload in place.
class Undo : public Patch {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(Patch::SetUp());
        ASSERT_NO_FATAL_FAILURE(MakeFolders(MarkerFolder));
        ASSERT_NO_FATAL_FAILURE(WriteBytes(PrefsFile, PayloadFile));
    }

    // Starts the program, clicks, and says Yes to the undo question.
    void ConfirmUndo(App& app) {
        ASSERT_TRUE(app.Window());
        EXPECT_EQ(TextOf(app.Command1()), L"Undo Patch");
        app.ClickButton();
        const Box confirm = ExpectBox(app, ConfirmUndoBox);
        app.Press(confirm, IDYES);
    }
};

// No browser in the default folder: the program has to ask where it is.
class FolderDialog : public PatchRun {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(PatchRun::SetUp());
        ASSERT_NO_FATAL_FAILURE(RemoveBrowser());
        ASSERT_NO_FATAL_FAILURE(MakeFolders(FoxFolder + L"defaults\\profile"));
        ASSERT_NO_FATAL_FAILURE(WriteBytes(FoxFolder + L"firefox.exe", "MZ stand-in"));
    }

    // Starts the program, clicks, says Yes to locating the folder, and
    // returns the folder dialog.
    Box OpenDialog(App& app) {
        EXPECT_TRUE(app.Window());
        EXPECT_EQ(TextOf(app.Command1()), L"Patch");
        app.ClickButton();
        const Box question = ExpectBox(app, CannotFindBox);
        app.Press(question, IDYES);
        return ExpectFolderDialog(app);
    }
};

// ---- applying in the default folder ----

struct ApplyCase {
    const char* name;
    std::optional<std::string> prefs;        // user.js before the click
    std::optional<std::string> backup;       // the kept copy before the click
    std::optional<std::string> backupAfter;  // the kept copy afterwards
    std::optional<std::string> changedAfter;  // a user.js kept aside, and said so
};
void PrintTo(const ApplyCase& c, std::ostream* os) { *os << c.name; }

class PatchApplies : public Patch, public ::testing::WithParamInterface<ApplyCase> {};

TEST_P(PatchApplies, WritesThePayloadKeepsTheOriginalOnceAndMarksTheFolder) {
    const ApplyCase& c = GetParam();
    if (c.prefs) {
        ASSERT_NO_FATAL_FAILURE(WriteBytes(PrefsFile, *c.prefs));
    }
    if (c.backup) {
        ASSERT_NO_FATAL_FAILURE(WriteBytes(BackupFile, *c.backup));
    }
    {
        App app;
        ASSERT_TRUE(app.Window());
        app.ClickButton();
        app.Press(ExpectBox(app, CompleteBox), IDOK);
        if (c.changedAfter) app.Press(ExpectBox(app, c.backup ? StaleKeptBox : KeptChangedBox), IDOK);
        ASSERT_NO_FATAL_FAILURE(ExpectExit(app, 0));
    }
    ExpectPayloadAt(PrefsFile);
    EXPECT_EQ(ReadBytes(BackupFile), c.backupAfter);
    EXPECT_EQ(ReadBytes(ChangedFile), c.changedAfter);
    EXPECT_TRUE(IsFolder(MarkerFolder));
    ExpectNoTemporaryFiles();
    EXPECT_EQ(Snapshot(WorkingFolder), Tree{}) << "something was written to the working folder";
    EXPECT_EQ(CaptionOnNextStart(), L"Undo Patch");
}

INSTANTIATE_TEST_SUITE_P(
    Patch, PatchApplies,
    ::testing::Values(
        ApplyCase{"NoEarlierFile", std::nullopt, std::nullopt, std::nullopt, std::nullopt},
        ApplyCase{"EarlierFileIsKept", EarlierPrefs, std::nullopt, EarlierPrefs, std::nullopt},
        ApplyCase{"EmptyEarlierFileIsKept", "", std::nullopt, "", std::nullopt},
        ApplyCase{"EarlierPayloadNeedsNoCopy", PayloadFile, std::nullopt, std::nullopt, std::nullopt},
        // With no marker, an older kept copy beside another user.js is a
        // leftover: the current file is the original now, and the leftover
        // is kept aside, never lost.
        ApplyCase{"OlderCopyIsKeptAsideNotLost", EarlierPrefs, OlderBackup, EarlierPrefs, OlderBackup}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Patch, ThenUndoPutsTheEarlierFileBack) {
    ASSERT_NO_FATAL_FAILURE(WriteBytes(PrefsFile, EarlierPrefs));
    {
        App app;
        ASSERT_TRUE(app.Window());
        app.ClickButton();
        const Box done = ExpectBox(app, CompleteBox);
        app.Screenshot(L"patch-complete");
        app.Press(done, IDOK);
        ASSERT_NO_FATAL_FAILURE(ExpectExit(app, 0));
    }
    ExpectPayloadAt(PrefsFile);
    EXPECT_EQ(ReadBytes(BackupFile), EarlierPrefs);
    ASSERT_TRUE(IsFolder(MarkerFolder));
    {
        App app;
        ASSERT_TRUE(app.Window());
        EXPECT_EQ(TextOf(app.Command1()), L"Undo Patch");
        app.ClickButton();
        app.Press(ExpectBox(app, ConfirmUndoBox), IDYES);
        const Box removed = ExpectBox(app, RemovedBox);
        app.Screenshot(L"undo-removed");
        app.Press(removed, IDOK);
        ASSERT_NO_FATAL_FAILURE(ExpectExit(app, 0));
    }
    EXPECT_EQ(ReadBytes(PrefsFile), EarlierPrefs);
    EXPECT_FALSE(IsFile(BackupFile));
    EXPECT_FALSE(IsFolder(MarkerFolder));
    ExpectNoTemporaryFiles();
}

// ---- applying refused: the folder is left exactly as it was ----

struct RefusedCase {
    const char* name;
    std::function<void()> arrange;
};
void PrintTo(const RefusedCase& c, std::ostream* os) { *os << c.name; }

class PatchRefused : public Patch, public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(PatchRefused, AsksToLookAgainAndNoLeavesTheFolderAsItWas) {
    const RefusedCase& c = GetParam();
    ASSERT_NO_FATAL_FAILURE(c.arrange());
    const Tree before = Snapshot(DefaultFolder);
    const bool wasReadOnly = IsReadOnly(PrefsFile);
    {
        App app;
        ASSERT_TRUE(app.Window());
        app.ClickButton();
        const Box question = ExpectBox(app, LookAgainBox);
        app.Press(question, IDNO);
        ExpectExit(app, 0);
    }
    EXPECT_EQ(Snapshot(DefaultFolder), before) << "no payload, no copy, no marker, no temp file";
    EXPECT_EQ(IsReadOnly(PrefsFile), wasReadOnly);
    EXPECT_EQ(Snapshot(WorkingFolder), Tree{});
}

INSTANTIATE_TEST_SUITE_P(
    Patch, PatchRefused,
    ::testing::Values(
        RefusedCase{"ReadOnlyPrefs",
                    [] {
                        WriteBytes(PrefsFile, EarlierPrefs);
                        SetReadOnly(PrefsFile, true);
                    }},
        RefusedCase{"NoProfileFolder", [] { RemoveTree(DefaultFolder + L"defaults"); }},
        RefusedCase{"ProfileIsAFile",
                    [] {
                        RemoveTree(DefaultFolder + L"defaults");
                        MakeFolders(DefaultFolder + L"defaults");
                        WriteBytes(DefaultFolder + L"defaults\\profile", "not a folder");
                    }},
        // A link where user.js belongs is never followed: nothing is read
        // through it into a copy, nothing is written through it.
        RefusedCase{"PrefsIsALink", [] { LinkPrefsToASecret(); }},
        // The copy of the earlier file cannot be put in place: both new
        // files are dropped again, and user.js keeps its bytes.
        RefusedCase{"BackupNameTakenByAFolder",
                    [] {
                        WriteBytes(PrefsFile, EarlierPrefs);
                        MakeFolders(BackupFile);
                    }}),
    [](const auto& info) { return std::string(info.param.name); });

// A file where the marker folder belongs reads as "not patched", and the
// patch could not be recorded: it is refused before anything is written.
TEST_F(Patch, MarkerNameTakenByAFileChangesNothingAndAsksToLookAgain) {
    ASSERT_NO_FATAL_FAILURE(WriteBytes(MarkerFolder, "not a folder"));
    const Tree before = Snapshot(DefaultFolder);
    ASSERT_NO_FATAL_FAILURE(ClickAndAnswer(L"Patch", LookAgainBox, IDNO));
    EXPECT_EQ(Snapshot(DefaultFolder), before);
}

// Looking again may land on the default folder after all, named in other
// letter case: that is still the folder undo knows, so it is marked.
TEST_F(Patch, LookingAgainAtTheDefaultFolderInOtherCaseMarksIt) {
    RemoveTree(DefaultFolder + L"defaults");
    {
        App app;
        ASSERT_TRUE(app.Window());
        app.ClickButton();
        const Box question = ExpectBox(app, LookAgainBox);
        ASSERT_NO_FATAL_FAILURE(MakeFolders(ProfileFolder));
        app.Press(question, IDYES);
        const Box dialog = ExpectFolderDialog(app);
        ASSERT_TRUE(dialog.isFolderDialog);
        app.ChooseFolder(dialog, L"c:\\program files\\MOZILLA FIREFOX");
        const Box done = ExpectBox(app, CompleteBox);
        app.Press(done, IDOK);
        ASSERT_NO_FATAL_FAILURE(ExpectExit(app, 0));
    }
    ExpectPayloadAt(PrefsFile);
    EXPECT_TRUE(IsFolder(MarkerFolder));
    ExpectNoTemporaryFiles();
}

// ---- the browser's version, read from its program file ----

const std::wstring Since46 =
    L" Since version 46, Firefox no longer copies this tweak's file into new profiles, so it would "
    L"ignore the tweak.\n\nPatch anyway?";
const std::wstring Since54 =
    L" Since version 54, Firefox has no HTTP pipelining at all, so it would ignore the tweak.\n\n"
    L"Patch anyway?";
const std::wstring Found = L"The Firefox in this folder is version ";

struct VersionCase {
    const char* standIn;    // stand-ins\firefox-<name>.exe, laid out as firefox.exe
    std::wstring question;  // empty: no question comes
    int answer;
    bool patched;
};
void PrintTo(const VersionCase& c, std::ostream* os) { *os << c.standIn; }

class PatchVersion : public Patch, public ::testing::WithParamInterface<VersionCase> {};

TEST_P(PatchVersion, NamesABrowserThatWouldIgnoreTheTweakBeforeWritingAnything) {
    const VersionCase& c = GetParam();
    const std::string name = c.standIn;
    const std::wstring standIn =
        DriverFolder() + L"stand-ins\\firefox-" + std::wstring(name.begin(), name.end()) + L".exe";
    ASSERT_TRUE(::CopyFileW(standIn.c_str(), (DefaultFolder + L"firefox.exe").c_str(), FALSE));
    ASSERT_NO_FATAL_FAILURE(WriteBytes(PrefsFile, EarlierPrefs));
    const Tree before = Snapshot(DefaultFolder);
    {
        App app;
        ASSERT_TRUE(app.Window());
        app.ClickButton();
        if (!c.question.empty()) app.Press(ExpectBox(app, {c.question, {IDYES, IDNO}, true, false}), c.answer);
        if (c.patched) app.Press(ExpectBox(app, CompleteBox), IDOK);
        ASSERT_NO_FATAL_FAILURE(ExpectExit(app, 0));
    }
    if (c.patched) {
        ExpectPayloadAt(PrefsFile);
        EXPECT_EQ(ReadBytes(BackupFile), EarlierPrefs);
        EXPECT_TRUE(IsFolder(MarkerFolder));
    } else {
        EXPECT_EQ(Snapshot(DefaultFolder), before) << "no file, no copy, no marker, no temp file";
    }
    ExpectNoTemporaryFiles();
}

INSTANTIATE_TEST_SUITE_P(
    Patch, PatchVersion,
    ::testing::Values(VersionCase{"45.0.2", L"", 0, true},
                      VersionCase{"unversioned", L"", 0, true},
                      VersionCase{"46.0", Found + L"46.0." + Since46, IDNO, false},
                      VersionCase{"133.0.3", Found + L"133.0.3." + Since54, IDNO, false},
                      VersionCase{"133.0.3", Found + L"133.0.3." + Since54, IDYES, true}),
    [](const auto& info) {
        std::string name = std::string("v") + info.param.standIn + (info.param.answer == IDYES ? "Yes" : "");
        std::replace(name.begin(), name.end(), '.', '_');
        return name;
    });

// ---- undo ----

struct UndoCase {
    const char* name;
    std::optional<std::string> prefs;   // user.js when undo starts
    std::optional<std::string> backup;  // the kept original
    bool fullMarker;                    // the marker folder holds files and folders
    std::optional<std::string> prefsAfter;
    std::optional<std::string> changedAfter;  // a user.js changed since the patch, kept aside
};
void PrintTo(const UndoCase& c, std::ostream* os) { *os << c.name; }

class UndoRemoves : public Undo, public ::testing::WithParamInterface<UndoCase> {};

TEST_P(UndoRemoves, TheMarkerAndPutsBackWhatWasThere) {
    const UndoCase& c = GetParam();
    RemoveTree(PrefsFile);
    if (c.prefs) {
        ASSERT_NO_FATAL_FAILURE(WriteBytes(PrefsFile, *c.prefs));
    }
    if (c.backup) {
        ASSERT_NO_FATAL_FAILURE(WriteBytes(BackupFile, *c.backup));
    }
    if (c.fullMarker) {
        ASSERT_NO_FATAL_FAILURE(MakeFolders(MarkerFolder + L"\\sub\\deeper"));
        ASSERT_NO_FATAL_FAILURE(WriteBytes(MarkerFolder + L"\\notes.txt", "a"));
        ASSERT_NO_FATAL_FAILURE(WriteBytes(MarkerFolder + L"\\sub\\deeper\\more.txt", "b"));
    }
    {
        App app;
        ASSERT_NO_FATAL_FAILURE(ConfirmUndo(app));
        const Box removed = ExpectBox(app, RemovedBox);
        app.Press(removed, IDOK);
        if (c.changedAfter) app.Press(ExpectBox(app, KeptChangedBox), IDOK);
        ASSERT_NO_FATAL_FAILURE(ExpectExit(app, 0));
    }
    EXPECT_FALSE(IsFolder(MarkerFolder));
    EXPECT_FALSE(IsFile(MarkerFolder));
    EXPECT_EQ(ReadBytes(PrefsFile), c.prefsAfter);
    EXPECT_EQ(ReadBytes(ChangedFile), c.changedAfter);
    EXPECT_FALSE(IsFile(BackupFile));
    EXPECT_TRUE(IsFile(DefaultFolder + L"firefox.exe")) << "undo reached outside the marker";
    ExpectNoTemporaryFiles();
    EXPECT_EQ(Snapshot(WorkingFolder), Tree{});
    EXPECT_EQ(CaptionOnNextStart(), L"Patch");
}

INSTANTIATE_TEST_SUITE_P(
    Undo, UndoRemoves,
    ::testing::Values(
        UndoCase{"PatchedFileGoes", PayloadFile, std::nullopt, false, std::nullopt, std::nullopt},
        UndoCase{"OriginalComesBack", PayloadFile, EarlierPrefs, false, EarlierPrefs, std::nullopt},
        UndoCase{"PrefsAlreadyGone", std::nullopt, std::nullopt, false, std::nullopt, std::nullopt},
        UndoCase{"PrefsGoneOriginalComesBack", std::nullopt, EarlierPrefs, false, EarlierPrefs,
                 std::nullopt},
        UndoCase{"FullMarkerGoesWhole", PayloadFile, std::nullopt, true, std::nullopt, std::nullopt},
        // An administrator added a line after the patch: the edit is kept
        // aside, never overwritten or deleted, and the box says where.
        UndoCase{"EditedWithAnOriginal", EditedPrefs, EarlierPrefs, false, EarlierPrefs, EditedPrefs},
        UndoCase{"EditedWithoutAnOriginal", EditedPrefs, std::nullopt, false, std::nullopt,
                 EditedPrefs}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Undo, NoLeavesEverythingAsItWas) {
    ASSERT_NO_FATAL_FAILURE(WriteBytes(BackupFile, EarlierPrefs));
    const Tree before = Snapshot(DefaultFolder);
    ASSERT_NO_FATAL_FAILURE(ClickAndAnswer(L"Undo Patch", ConfirmUndoBox, IDNO));
    EXPECT_EQ(Snapshot(DefaultFolder), before);
}

// A read-only file anywhere in the marker stops the undo before anything
// is removed; the failure reaches the run-time error box.
class UndoRefused : public Undo, public ::testing::WithParamInterface<const wchar_t*> {};

TEST_P(UndoRefused, ByAReadOnlyFileRemovesNothingAndEndsWithARunTimeError) {
    const std::wstring readOnly = MarkerFolder + GetParam();
    ASSERT_NO_FATAL_FAILURE(MakeFolders(readOnly.substr(0, readOnly.find_last_of(L'\\'))));
    ASSERT_NO_FATAL_FAILURE(WriteBytes(MarkerFolder + L"\\first.txt", "writable"));
    ASSERT_NO_FATAL_FAILURE(WriteBytes(readOnly, "read-only"));
    ASSERT_NO_FATAL_FAILURE(SetReadOnly(readOnly, true));
    const Tree before = Snapshot(DefaultFolder);
    {
        App app;
        ASSERT_NO_FATAL_FAILURE(ConfirmUndo(app));
        const Box error = ExpectRunTimeError(app);
        app.Press(error, IDOK);
        ASSERT_NO_FATAL_FAILURE(ExpectExit(app, 1));
    }
    EXPECT_EQ(Snapshot(DefaultFolder), before) << "the marker, its files and user.js stay";
    EXPECT_TRUE(IsReadOnly(readOnly));
    ExpectPayloadAt(PrefsFile);
}

INSTANTIATE_TEST_SUITE_P(Undo, UndoRefused,
                         ::testing::Values(L"\\locked.txt", L"\\sub\\deeper\\locked.txt"),
                         [](const auto& info) {
                             return info.index == 0 ? std::string("InTheMarker")
                                                    : std::string("DeepInTheMarker");
                         });

// A link inside the marker is removed as a link: what it points at stays.
TEST_F(Undo, LeavesWhatALinkInTheMarkerPointsAt) {
    if (!UnderWine()) GTEST_SKIP() << "the link is made from the Linux side of Wine";
    const std::wstring kept = Browsers + L"\\Kept";
    ASSERT_NO_FATAL_FAILURE(MakeFolders(kept + L"\\deep"));
    ASSERT_NO_FATAL_FAILURE(WriteBytes(kept + L"\\a.txt", "first"));
    ASSERT_NO_FATAL_FAILURE(WriteBytes(kept + L"\\deep\\b.txt", "second"));
    const std::wstring link = MarkerFolder + L"\\linked";
    ASSERT_NO_FATAL_FAILURE(MakeLinuxLink(link, kept));
    ASSERT_EQ(ReadBytes(link + L"\\deep\\b.txt"), std::optional<std::string>("second"))
        << "the link does not lead to the folder";
    const Tree keptBefore = Snapshot(kept);
    {
        App app;
        ASSERT_NO_FATAL_FAILURE(ConfirmUndo(app));
        const Box after = app.NextBox();
        if (after.text.rfind(RunTimeErrorStart, 0) == 0) {
            // Wine cannot open such a link as itself, so removing it would
            // reach what it leads to: the undo stops at it before anything
            // is touched, the file and the marker still there.
            std::cout << "[ note     ] undo through a link: "
                      << testing::PrintToString(after.text) << "\n";
            EXPECT_EQ(after.title, L"Tarnwick");
            EXPECT_NE(after.text.find(link), std::wstring::npos);
            app.Press(after, IDOK);
            ASSERT_NO_FATAL_FAILURE(ExpectExit(app, 1));
            EXPECT_TRUE(IsLink(link));
            ExpectPayloadAt(PrefsFile);
            EXPECT_TRUE(IsFolder(MarkerFolder));
        } else {
            EXPECT_EQ(after.text, RemovedBox.text);
            app.Press(after, IDOK);
            ASSERT_NO_FATAL_FAILURE(ExpectExit(app, 0));
            EXPECT_FALSE(IsFolder(MarkerFolder));
        }
    }
    EXPECT_EQ(Snapshot(kept), keptBefore) << "undo deleted through the link";
}

// ---- unattended runs: the same commands from the command line, nothing on screen ----

Tree Without(Tree tree, const std::wstring& path) {
    tree.erase(std::remove_if(tree.begin(), tree.end(), [&](const auto& e) { return e.first == path; }),
               tree.end());
    return tree;
}

struct SwitchedCase {
    const char* name;
    std::function<void()> arrange;  // on top of the browser in its default folder
    std::wstring arguments;
    DWORD exitCode;
    std::string output;  // the start of what it writes
    enum { Unchanged, PatchedHere, UndoneHere, PatchedInFox } after;
};
void PrintTo(const SwitchedCase& c, std::ostream* os) { *os << c.name; }

class Switched : public Patch, public ::testing::WithParamInterface<SwitchedCase> {};

TEST_P(Switched, RunsTheCommandWithNoWindowAndTellsThroughTheExitCode) {
    const SwitchedCase& c = GetParam();
    if (c.arrange) {
        ASSERT_NO_FATAL_FAILURE(c.arrange());
    }
    const Tree before = Snapshot(DefaultFolder);
    const Tree browsersBefore = Snapshot(Browsers);
    const SwitchedRun run = RunSwitched(c.arguments);
    std::cout << "[ output   ] tarnwick.exe " << testing::PrintToString(c.arguments) << " -> "
              << (run.exitCode ? static_cast<long>(*run.exitCode) : -1L) << ": " << run.output;
    EXPECT_FALSE(run.windowShown) << "a window of the process was visible";
    ASSERT_TRUE(run.exitCode.has_value()) << "it did not end by itself";
    EXPECT_EQ(*run.exitCode, c.exitCode);
    EXPECT_EQ(run.output.substr(0, c.output.size()), c.output);
    EXPECT_EQ(run.output.substr(run.output.size() - std::min<size_t>(2, run.output.size())), "\r\n");
    switch (c.after) {
        case SwitchedCase::Unchanged:
            EXPECT_EQ(Snapshot(DefaultFolder), before);
            EXPECT_EQ(Snapshot(Browsers), browsersBefore);
            break;
        case SwitchedCase::PatchedHere:
            ExpectPayloadAt(PrefsFile);
            EXPECT_EQ(Snapshot(DefaultFolder), With(With(before, PrefsFile, PayloadFile), MarkerFolder, "<folder>"));
            break;
        case SwitchedCase::UndoneHere:
            EXPECT_EQ(Snapshot(DefaultFolder), Without(Without(before, PrefsFile), MarkerFolder));
            break;
        case SwitchedCase::PatchedInFox:
            ExpectPayloadAt(FoxFolder + L"defaults\\profile\\user.js");
            EXPECT_EQ(Snapshot(Browsers), With(browsersBefore, FoxFolder + L"defaults\\profile\\user.js", PayloadFile));
            EXPECT_FALSE(IsFolder(DefaultFolder));
            break;
    }
    EXPECT_EQ(Snapshot(WorkingFolder), Tree{});
}

void HoldOpenAMoment(const std::wstring& path) {
    const HANDLE held =
        ::CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    std::thread([held] { ::Sleep(1500), ::CloseHandle(held); }).detach();
}
void MarkPatched() {
    MakeFolders(MarkerFolder);
    WriteBytes(PrefsFile, PayloadFile);
}
void FoxOnly() {
    RemoveBrowser();
    MakeFolders(FoxFolder + L"defaults\\profile");
    WriteBytes(FoxFolder + L"firefox.exe", "MZ stand-in");
}

INSTANTIATE_TEST_SUITE_P(
    Switched, Switched,
    ::testing::Values(
        SwitchedCase{"Patch", nullptr, L"/patch", 0,
                     "Patched: C:\\Program Files\\Mozilla Firefox\\defaults\\profile\\user.js is written.\r\n",
                     SwitchedCase::PatchedHere},
        SwitchedCase{"PatchWhenPatched", MarkPatched, L"-PATCH /quiet", 0,
                     "Already patched: C:\\Program Files\\Mozilla Firefox\\i386 exists.", SwitchedCase::Unchanged},
        SwitchedCase{"Undo", MarkPatched, L"/undo /S", 0,
                     "Undone: the tweak is removed from C:\\Program Files\\Mozilla Firefox\\.\r\n",
                     SwitchedCase::UndoneHere},
        SwitchedCase{"UndoWhenNotPatched", nullptr, L"/Undo", 0, "Not patched: there is nothing to undo",
                     SwitchedCase::Unchanged},
        SwitchedCase{"ReadOnlyPrefs",
                     [] {
                         WriteBytes(PrefsFile, EarlierPrefs);
                         SetReadOnly(PrefsFile, true);
                     },
                     L"/patch", 1, "Run-time error 5: ", SwitchedCase::Unchanged},
        // A folder another program has open without sharing is waited for.
        SwitchedCase{"ProfileHeldOpenAMoment", [] { HoldOpenAMoment(ProfileFolder); }, L"/patch", 0,
                     "Patched:", SwitchedCase::PatchedHere},
        SwitchedCase{"NotUnderstood", nullptr, L"/patch /frobnicate", 2,
                     "Unknown switch /frobnicate.\r\n\r\nUsage: tarnwick.exe /patch", SwitchedCase::Unchanged},
        SwitchedCase{"NoBrowser", [] { RemoveBrowser(); }, L"/patch", 3,
                     WindowsHasX86ProgramFiles()
                         ? "No browser in C:\\Program Files\\Mozilla Firefox\\ or C:\\Program Files (x86)\\"
                           "Mozilla Firefox\\. Give its folder with /folder."
                         : "No browser in C:\\Program Files\\Mozilla Firefox\\. Give its folder with /folder.",
                     SwitchedCase::Unchanged},
        SwitchedCase{"FolderWithoutBrowser", [] { RemoveBrowser(); MakeFolders(Browsers + L"\\Empty"); },
                     L"/patch /folder C:\\Browsers\\Empty", 3,
                     "No browser in C:\\Browsers\\Empty\\: it has no defaults\\profile folder.",
                     SwitchedCase::Unchanged},
        SwitchedCase{"FolderGiven", FoxOnly, L"-patch -Folder \"C:\\Browsers\\Fox\" /qn", 0,
                     "Patched: C:\\Browsers\\Fox\\defaults\\profile\\user.js is written. It is outside",
                     SwitchedCase::PatchedInFox},
        SwitchedCase{"VersionIgnoresIt", [] { CopyStandIn(L"133.0.3", DefaultFolder); }, L"/patch", 4,
                     "Not patched: Firefox 133.0.3 in C:\\Program Files\\Mozilla Firefox\\ would ignore the "
                     "tweak (it has no HTTP pipelining). /force patches anyway.",
                     SwitchedCase::Unchanged},
        SwitchedCase{"Forced", [] { CopyStandIn(L"46.0", DefaultFolder); }, L"/patch /force", 0,
                     "Patched:", SwitchedCase::PatchedHere},
        SwitchedCase{"Help", nullptr, L"/?", 0, "Usage: tarnwick.exe /patch", SwitchedCase::Unchanged},
        SwitchedCase{"DevicePath", FoxOnly, L"/patch /folder \\\\?\\C:\\Browsers\\Fox", 2,
                     "/folder: give the folder as a drive or network path", SwitchedCase::Unchanged},
        // Links below the browser's folder are refused, and named.
        SwitchedCase{"ProfileIsALink", LinkProfileElsewhere, L"/patch", 1,
                     "Run-time error 4395: This is a link, and Tarnwick follows no link below the "
                     "browser's folder. C:\\Program Files\\Mozilla Firefox\\defaults\\profile\\ Nothing "
                     "was changed.\r\n",
                     SwitchedCase::Unchanged},
        SwitchedCase{"PrefsIsALink", LinkPrefsToASecret, L"/patch", 1,
                     "Run-time error 4395: This is a link, and Tarnwick follows no link below the "
                     "browser's folder. C:\\Program Files\\Mozilla Firefox\\defaults\\profile\\user.js "
                     "Nothing was changed.\r\n",
                     SwitchedCase::Unchanged}),
    [](const auto& info) { return std::string(info.param.name); });

// A log goes only where nobody else can steer it: a link at its name, or a
// second name of another file, is not written through, and nothing is made
// at a dangling link's target; a pipe is no log; a folder others may write
// is no place for one. Each run ends as it would with a plain log.
TEST_F(Patch, ALogGoesOnlyWhereNobodyElseCanSteerIt) {
    if (!UnderWine()) GTEST_SKIP() << "the links are made from the Linux side of Wine";
    const std::wstring logs = Browsers + L"\\Logs\\", other = Browsers + L"\\other.txt",
                       gone = Browsers + L"\\gone.txt", open = Browsers + L"\\Open\\";
    ASSERT_NO_FATAL_FAILURE(MakeFolders(logs));
    ASSERT_NO_FATAL_FAILURE(MakeFolders(open));
    ASSERT_NO_FATAL_FAILURE(WriteBytes(other, "somebody else's\r\n"));
    ASSERT_TRUE(::CreateHardLinkW((logs + L"second.log").c_str(), other.c_str(), nullptr));
    ASSERT_NO_FATAL_FAILURE(WriteBytes(gone, ""));
    ASSERT_NO_FATAL_FAILURE(MakeLinuxLink(logs + L"link.log", other));
    ASSERT_NO_FATAL_FAILURE(MakeLinuxLink(logs + L"dangling.log", gone));
    ASSERT_TRUE(::DeleteFileW(gone.c_str()));
    // Modify for Everyone, which Wine keeps as a Linux file mode and reads back as Full Control.
    PSECURITY_DESCRIPTOR everyone = nullptr;
    BOOL present = FALSE, defaulted = FALSE;
    PACL list = nullptr;
    ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;OICI;0x1301bf;;;WD)", 1, &everyone,
                                                                       nullptr) &&
                ::GetSecurityDescriptorDacl(everyone, &present, &list, &defaulted));
    EXPECT_EQ(::SetNamedSecurityInfoW(std::wstring(open).data(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                      nullptr, nullptr, list, nullptr), 0u);
    ::LocalFree(everyone);

    const std::string line = "Not patched: there is nothing to undo in C:\\Program Files\\Mozilla Firefox\\ or "
                             "C:\\Program Files (x86)\\Mozilla Firefox\\.";
    const std::string notWritten = " The log was not written: ";
    const struct {
        std::wstring log;
        std::string clause;
    } rows[] = {
        {logs + L"plain.log", ""},
        {logs + L"link.log", notWritten + "C:\\Browsers\\Logs\\link.log is a link."},
        {logs + L"dangling.log", notWritten + "This is a link that leads nowhere. C:\\Browsers\\Logs\\dangling.log."},
        {logs + L"second.log", notWritten + "C:\\Browsers\\Logs\\second.log has more than one name."},
        {open + L"t.log", notWritten + "Everyone (S-1-1-0) may move, delete or take over C:\\Browsers\\Open\\."},
    };
    for (const auto& row : rows) {
        const SwitchedRun run = RunSwitched(L"/undo /log \"" + row.log + L"\"");
        EXPECT_EQ(run.exitCode, std::optional<DWORD>(0));
        EXPECT_EQ(run.output, line + row.clause + "\r\n");
        if (row.clause.empty()) {
            const std::string logged = ReadBytes(row.log).value_or("");
            EXPECT_EQ(logged.substr(std::min<size_t>(logged.size(), 20)), "exit 0: " + line + "\r\n") << logged;
        }
    }
    EXPECT_EQ(ReadBytes(other), std::optional<std::string>("somebody else's\r\n"));
    EXPECT_FALSE(IsFile(gone)) << "a dangling link's target was made";
    EXPECT_FALSE(IsFile(open + L"t.log"));

    const SwitchedRun pipe = RunSwitched(L"/undo /log \\\\.\\pipe\\tarnwick-log");
    EXPECT_EQ(pipe.exitCode, std::optional<DWORD>(2));
    EXPECT_EQ(pipe.output.substr(0, 47), "/log: give the file as a drive or network path,");
    WriteBytes(gone, "");  // the dangling link leads somewhere again, and the fixture's tidying up finds it
}

// Undo that cannot put the file right keeps the marker, so the next one
// finishes the job.
TEST_F(Undo, OverAReadOnlyUserJsFailsKeepingTheMarkerAndTheNextUndoFinishes) {
    ASSERT_NO_FATAL_FAILURE(WriteBytes(BackupFile, EarlierPrefs));
    ASSERT_NO_FATAL_FAILURE(SetReadOnly(PrefsFile, true));
    const Tree before = Snapshot(DefaultFolder);
    const SwitchedRun refused = RunSwitched(L"/undo");
    std::cout << "[ output   ] /undo over a read-only user.js -> "
              << (refused.exitCode ? static_cast<long>(*refused.exitCode) : -1L) << ": " << refused.output;
    EXPECT_EQ(refused.exitCode, std::optional<DWORD>(1));
    EXPECT_EQ(refused.output.substr(0, 18), "Run-time error 5: ");
    EXPECT_EQ(Snapshot(DefaultFolder), before) << "the marker, user.js and the kept original stay";

    ASSERT_NO_FATAL_FAILURE(SetReadOnly(PrefsFile, false));
    const SwitchedRun finished = RunSwitched(L"/undo");
    EXPECT_EQ(finished.exitCode, std::optional<DWORD>(0)) << finished.output;
    EXPECT_EQ(ReadBytes(PrefsFile), EarlierPrefs);
    EXPECT_FALSE(IsFile(BackupFile));
    EXPECT_FALSE(IsFolder(MarkerFolder));
}

// A startup script patches a browser of its own folder at every boot, and
// another tool writes the same user.js before it each time: the file is
// kept aside once, every boot succeeds, and nothing piles up.
TEST_F(Patch, EveryBootsPatchOfAFolderKeepsTheSameFileOnce) {
    ASSERT_NO_FATAL_FAILURE(FoxOnly());
    const std::wstring prefs = FoxFolder + L"defaults\\profile\\user.js";
    ASSERT_NO_FATAL_FAILURE(WriteBytes(prefs, EarlierPrefs));
    constexpr int Boots = 105;
    for (int boot = 1; boot <= Boots; ++boot) {
        const SwitchedRun run = RunSwitched(L"/patch /folder C:\\Browsers\\Fox");
        ASSERT_EQ(run.exitCode, std::optional<DWORD>(0)) << "boot " << boot << ": " << run.output;
        if (boot > 2) {
            EXPECT_NE(run.output.find("kept already as C:\\Browsers\\Fox\\defaults\\user.js.changed-1."),
                      std::string::npos)
                << "boot " << boot << ": " << run.output;
        }
        ASSERT_NO_FATAL_FAILURE(WriteBytes(prefs, "user_pref(\"written.by.another.tool\", 1);\r\n"));
    }
    std::vector<std::wstring> names;
    for (const auto& [path, bytes] : Snapshot(FoxFolder + L"defaults")) names.push_back(path.substr(FoxFolder.size() + 9));
    EXPECT_EQ(names, (std::vector<std::wstring>{L"profile", L"profile\\user.js", L"user.js.changed-1",
                                                L"user.js.tarnwick-original"}));
    std::cout << "[ note     ] " << Boots << " boots, every one exit 0; defaults\\ holds " << names.size() << " entries\n";
}

// Deployment tools start runs together: each succeeds, and after every
// round the folder is whole, patched or not, with nothing left over.
TEST_F(Patch, RunsAtOnceAllSucceedAndLeaveTheFolderWhole) {
    ASSERT_NO_FATAL_FAILURE(WriteBytes(PrefsFile, EarlierPrefs));
    const Tree unpatched = Snapshot(DefaultFolder);
    const Tree patched = With(With(With(Without(unpatched, PrefsFile), PrefsFile, PayloadFile),
                                   BackupFile, EarlierPrefs),
                              MarkerFolder, "<folder>");
    int patchedRounds = 0;
    constexpr int Rounds = 8;
    for (int round = 0; round < Rounds; ++round) {
        const auto runs = RunSwitchedTogether({L"/patch", L"/undo", L"/patch", L"/undo"});
        for (const SwitchedRun& run : runs) {
            EXPECT_EQ(run.exitCode, std::optional<DWORD>(0)) << "round " << round << ": " << run.output;
            EXPECT_FALSE(run.windowShown);
        }
        const Tree now = Snapshot(DefaultFolder);
        EXPECT_TRUE(now == unpatched || now == patched) << "round " << round;
        patchedRounds += now == patched;
    }
    std::cout << "[ note     ] " << Rounds << " rounds of four runs at once: " << patchedRounds
              << " ended patched, " << Rounds - patchedRounds << " not\n";
    EXPECT_EQ(Snapshot(WorkingFolder), Tree{});
}

// ---- the 32-bit browser, in Program Files (x86) on 64-bit Windows ----

// A version 45 browser there, with a user.js of its own, and none in the
// default folder.
class X86 : public PatchRun {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(PatchRun::SetUp());
        ASSERT_NO_FATAL_FAILURE(LayOutBrowser(X86Folder));
        ASSERT_NO_FATAL_FAILURE(CopyStandIn(L"45.0.2", X86Folder));
        ASSERT_NO_FATAL_FAILURE(WriteBytes(X86PrefsFile, EarlierPrefs));
    }
};

TEST_F(X86, IsPatchedWithoutAQuestionAndUndoneToWhatWasThere) {
    const Tree before = Snapshot(X86Folder);
    ASSERT_NO_FATAL_FAILURE(ClickAndAnswer(L"Patch", CompleteBox, IDOK));
    ExpectPayloadAt(X86PrefsFile);
    EXPECT_TRUE(IsFolder(X86MarkerFolder));
    EXPECT_FALSE(IsFolder(DefaultFolder));
    EXPECT_EQ(CaptionOnNextStart(), L"Undo Patch");
    ASSERT_NO_FATAL_FAILURE(UndoWithTheButton());
    EXPECT_EQ(Snapshot(X86Folder), before) << "the earlier user.js back, and nothing else";
    EXPECT_FALSE(IsFolder(DefaultFolder));
}

TEST_F(X86, UnattendedPatchPatchAgainAndUndo) {
    const Tree before = Snapshot(X86Folder);
    const std::pair<const wchar_t*, std::string> runs[] = {
        {L"/patch", "Patched: C:\\Program Files (x86)\\Mozilla Firefox\\defaults\\profile\\user.js is written.\r\n"},
        {L"/patch", "Already patched: C:\\Program Files (x86)\\Mozilla Firefox\\i386 exists. Nothing was changed.\r\n"},
        {L"/undo", "Undone: the tweak is removed from C:\\Program Files (x86)\\Mozilla Firefox\\.\r\n"}};
    for (const auto& [arguments, output] : runs) {
        const SwitchedRun run = RunSwitched(arguments);
        std::cout << "[ output   ] tarnwick.exe " << testing::PrintToString(std::wstring(arguments)) << " -> "
                  << (run.exitCode ? static_cast<long>(*run.exitCode) : -1L) << ": " << run.output;
        EXPECT_EQ(run.exitCode, std::optional<DWORD>(0));
        EXPECT_EQ(run.output, output);
        EXPECT_FALSE(run.windowShown);
        if (std::wstring(arguments) == L"/patch") {
            ExpectPayloadAt(X86PrefsFile);
            EXPECT_TRUE(IsFolder(X86MarkerFolder));
        }
    }
    EXPECT_EQ(Snapshot(X86Folder), before);
    EXPECT_FALSE(IsFolder(DefaultFolder));
}

TEST_F(X86, IsLeftAloneWhenTheDefaultFolderHasABrowserToo) {
    ASSERT_NO_FATAL_FAILURE(MakeFolders(ProfileFolder));
    ASSERT_NO_FATAL_FAILURE(WriteBytes(DefaultFolder + L"firefox.exe", "MZ stand-in"));
    const Tree before = Snapshot(X86Folder);
    ASSERT_NO_FATAL_FAILURE(ClickAndAnswer(L"Patch", CompleteBox, IDOK));
    ExpectPayloadAt(PrefsFile);
    EXPECT_TRUE(IsFolder(MarkerFolder));
    EXPECT_EQ(Snapshot(X86Folder), before);
}

// On 32-bit Windows any user may make a folder of that name: a marker
// there is no tweak, and undo leaves the folder alone.
TEST_F(X86, ItsMarkerIsATweakOnlyWhereWindowsHasTheFolder) {
    ASSERT_NO_FATAL_FAILURE(WriteBytes(X86PrefsFile, PayloadFile));
    ASSERT_NO_FATAL_FAILURE(MakeFolders(X86MarkerFolder));
    const Tree before = Snapshot(X86Folder);
    const bool known = WindowsHasX86ProgramFiles();
    EXPECT_EQ(CaptionOnNextStart(), known ? L"Undo Patch" : L"Patch");
    const SwitchedRun undo = RunSwitched(L"/undo");
    EXPECT_EQ(undo.exitCode, std::optional<DWORD>(0));
    EXPECT_EQ(undo.output, known ? "Undone: the tweak is removed from C:\\Program Files (x86)\\Mozilla "
                                   "Firefox\\.\r\n"
                                 : "Not patched: there is nothing to undo in C:\\Program Files\\Mozilla "
                                   "Firefox\\.\r\n");
    EXPECT_EQ(Snapshot(X86Folder) == before, !known);
}

// A tweak in the 32-bit browser's folder is found again whatever turns up
// in the default folder later: an uninstaller's empty folder, a newer
// browser, or one whose user.js is read-only (undo there only reads). The
// empty folder is there before the patch too: it hides nothing.
TEST_F(X86, IsNeverStrandedByWhatTurnsUpInTheDefaultFolder) {
    struct Turn {
        const char* name;
        bool before;  // there already when the patch runs
        std::function<void()> arrange;
        bool byWindow;  // undone with the button; else with /undo
    };
    const Turn turns[] = {
        {"an empty default folder", true, [] { MakeFolders(DefaultFolder); }, true},
        {"a browser in the default folder", false, [] { LayOutBrowserBeside(DefaultFolder); }, false},
        {"a read-only user.js in the default folder", false,
         [] {
             LayOutBrowserBeside(DefaultFolder);
             WriteBytes(PrefsFile, "user_pref(\"the.default.browser\", 1);\r\n");
             SetReadOnly(PrefsFile, true);
         },
         false},
    };
    for (const Turn& turn : turns) {
        SCOPED_TRACE(turn.name);
        ASSERT_NO_FATAL_FAILURE(SetUp());
        const Tree before = Snapshot(X86Folder);
        if (turn.before) {
            ASSERT_NO_FATAL_FAILURE(turn.arrange());
        }
        const SwitchedRun patch = RunSwitched(L"/patch");
        EXPECT_EQ(patch.exitCode, std::optional<DWORD>(0)) << patch.output;
        EXPECT_EQ(patch.output.rfind("Patched: C:\\Program Files (x86)\\Mozilla Firefox\\", 0), 0u)
            << patch.output;
        ExpectPayloadAt(X86PrefsFile);
        if (!turn.before) {
            ASSERT_NO_FATAL_FAILURE(turn.arrange());
        }
        const Tree defaultBefore = Snapshot(DefaultFolder);
        if (turn.byWindow) {
            ASSERT_NO_FATAL_FAILURE(UndoWithTheButton());
        } else {
            const SwitchedRun undo = RunSwitched(L"/undo");
            std::cout << "[ output   ] /undo with " << turn.name << " -> "
                      << (undo.exitCode ? static_cast<long>(*undo.exitCode) : -1L) << ": " << undo.output;
            EXPECT_EQ(undo.exitCode, std::optional<DWORD>(0));
            EXPECT_EQ(undo.output,
                      "Undone: the tweak is removed from C:\\Program Files (x86)\\Mozilla Firefox\\.\r\n");
        }
        EXPECT_EQ(Snapshot(X86Folder), before) << "the earlier user.js back, and nothing else";
        EXPECT_EQ(Snapshot(DefaultFolder), defaultBefore);
    }
}

// ---- nothing an administrator wrote is thrown away ----

// Nothing marks a folder that was picked, so a startup script patches it
// again at every boot: a user.js put there in between is kept aside, and
// the line names it.
TEST_F(FolderDialog, APickedFolderPatchedAgainKeepsANewerUserJsAside) {
    const std::wstring prefs = FoxFolder + L"defaults\\profile\\user.js";
    ASSERT_NO_FATAL_FAILURE(WriteBytes(prefs, EarlierPrefs));
    const std::string newer = "user_pref(\"browser.startup.page\", 0);\r\n";
    for (const std::string& put : {EarlierPrefs, newer}) {
        if (put == newer) {
            ASSERT_NO_FATAL_FAILURE(WriteBytes(prefs, newer));
        }
        const SwitchedRun run = RunSwitched(L"/patch /folder C:\\Browsers\\Fox");
        std::cout << "[ output   ] /patch /folder over " << (put == newer ? "a newer" : "the first")
                  << " user.js -> " << (run.exitCode ? static_cast<long>(*run.exitCode) : -1L) << ": "
                  << run.output;
        EXPECT_EQ(run.exitCode, std::optional<DWORD>(0));
        ExpectPayloadAt(prefs);
    }
    EXPECT_EQ(ReadBytes(FoxFolder + L"defaults\\user.js.tarnwick-original"), EarlierPrefs);
    EXPECT_EQ(ReadBytes(FoxFolder + L"defaults\\user.js.changed-1"), newer);
    ExpectNoTemporaryFiles(FoxFolder);
}

// A patch killed at any moment, where there was no user.js before, is
// finished by the next undo: nothing of the tweak is left. The moments that
// matter most are the few where the payload is in place and the marker not
// yet made, some 50 to 90 ms after the start here; the sweep stays around
// them, since Wine starts fewer processes reliably after many kills.
TEST_F(Patch, CutShortAnywhereThenUndoneLeavesNothing) {
    const Tree before = Snapshot(DefaultFolder);
    int killed = 0, unrecorded = 0;
    for (int at = 30; at < 110; at += 2) {
        if (!RunSwitchedKilledAfter(L"/patch", std::chrono::milliseconds(at))) ++killed;
        unrecorded += ReadBytes(PrefsFile) == PayloadFile && !IsFolder(MarkerFolder);
        const SwitchedRun undo = RunSwitched(L"/undo");
        EXPECT_EQ(undo.exitCode, std::optional<DWORD>(0)) << "killed after " << at << " ms: " << undo.output;
        EXPECT_EQ(Snapshot(DefaultFolder), before) << "killed after " << at << " ms: " << undo.output;
    }
    std::cout << "[ note     ] 40 patches killed after 30 to 108 ms: " << killed << " were cut short, "
              << unrecorded << " with the payload in place and no marker yet\n";
}

// ---- libraries planted beside the program ----

// The program run from a folder where a download has left libraries under
// the names of system ones; Wine is told to prefer such a copy, as Windows
// does for a library that is not a Known DLL. Each copy writes down that it
// was loaded. version, uxtheme and msimg32 are left out: Wine's own user32
// and comctl32 load them before any program code runs, and Windows does not.
class Planted : public PatchRun {
protected:
    const std::wstring Downloads = L"C:\\tarnwick-downloads\\";
    const std::wstring Log = L"C:\\tarnwick-planted.log";
    static constexpr const wchar_t* Names[] = {
        L"dwmapi", L"propsys", L"userenv", L"cryptbase", L"oleacc", L"clbcatq", L"setupapi",
        L"apphelp", L"windowscodecs", L"shcore", L"profapi", L"cryptsp", L"sspicli", L"wldp",
        L"ntmarta", L"netapi32", L"wtsapi32", L"dbghelp", L"explorerframe", L"comctl32"};

    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(PatchRun::SetUp());
        RemoveTree(Downloads);
        ::DeleteFileW(Log.c_str());
        ASSERT_NO_FATAL_FAILURE(MakeFolders(Downloads));
        ASSERT_TRUE(::CopyFileW(ProgramPath().c_str(), (Downloads + L"tarnwick.exe").c_str(), FALSE));
        std::wstring overrides;
        for (const wchar_t* name : Names) {
            ASSERT_TRUE(::CopyFileW((DriverFolder() + L"planted.dll").c_str(),
                                    (Downloads + name + L".dll").c_str(), FALSE));
            overrides += std::wstring(overrides.empty() ? L"" : L",") + name;
        }
        wchar_t earlier[1024] = {};
        ::GetEnvironmentVariableW(L"WINEDLLOVERRIDES", earlier, 1024);
        earlierOverrides_ = earlier;
        ::SetEnvironmentVariableW(L"WINEDLLOVERRIDES", (overrides + L"=n,b;" + earlier).c_str());
        ::SetEnvironmentVariableW(L"TARNWICK_EXE", (Downloads + L"tarnwick.exe").c_str());
    }
    void TearDown() override {
        ::SetEnvironmentVariableW(L"TARNWICK_EXE", nullptr);
        ::SetEnvironmentVariableW(L"WINEDLLOVERRIDES", earlierOverrides_.c_str());
        PatchRun::TearDown();
    }
    std::string Loaded() const { return ReadBytes(Log).value_or(""); }

private:
    std::wstring earlierOverrides_;
};

TEST_F(Planted, LibrariesAreNeverLoadedByTheWindowTheLinkTheDialogOrTheSwitches) {
    // The copies do write down a load: one loaded here on purpose says so.
    ::LoadLibraryW((Downloads + L"dwmapi.dll").c_str());
    ASSERT_NE(Loaded().find("dwmapi.dll"), std::string::npos) << "the planted copy does not report";
    ::DeleteFileW(Log.c_str());

    ASSERT_NO_FATAL_FAILURE(RemoveBrowser());
    {
        App app;
        ASSERT_TRUE(app.Window());
        app.ClickPointerAt(app.Label1(), 3, 3);  // the site link
        app.ClickButton();
        app.Press(ExpectBox(app, CannotFindBox), IDYES);
        const Box dialog = ExpectFolderDialog(app);
        std::cout << "[ modules  ] with the folder dialog open:";
        for (const std::wstring& module : ModulesOf(app.ProcessId())) std::cout << " " << testing::PrintToString(module);
        std::cout << "\n";
        app.Press(dialog, IDCANCEL);
        ASSERT_NO_FATAL_FAILURE(ExpectExit(app, 0));
    }
    ASSERT_NO_FATAL_FAILURE(LayOutBrowser());
    EXPECT_EQ(RunSwitched(L"/patch").exitCode, std::optional<DWORD>(0));
    EXPECT_EQ(RunSwitched(L"/undo").exitCode, std::optional<DWORD>(0));
    EXPECT_EQ(Loaded(), "") << "planted libraries were loaded";
}

// ---- the folder dialog ----

TEST_F(FolderDialog, NoToLocatingEndsWithNothingMade) {
    const Tree before = Snapshot(Browsers);
    {
        App app;
        ASSERT_TRUE(app.Window());
        app.ClickButton();
        const Box question = ExpectBox(app, CannotFindBox);
        app.Press(question, IDNO);
        ASSERT_NO_FATAL_FAILURE(ExpectExit(app, 0));
    }
    EXPECT_FALSE(IsFolder(DefaultFolder));
    EXPECT_EQ(Snapshot(Browsers), before);
    EXPECT_EQ(Snapshot(WorkingFolder), Tree{});
}

TEST_F(FolderDialog, CancelEndsWithoutAnotherBox) {
    const Tree before = Snapshot(Browsers);
    {
        App app;
        const Box dialog = OpenDialog(app);
        ASSERT_TRUE(dialog.isFolderDialog);
        app.Press(dialog, IDCANCEL);
        ASSERT_NO_FATAL_FAILURE(ExpectExit(app, 0));
    }
    EXPECT_FALSE(IsFolder(DefaultFolder));
    EXPECT_EQ(Snapshot(Browsers), before);
}

struct ChosenCase {
    const char* name;
    std::wstring folder;  // ends in a backslash
};
void PrintTo(const ChosenCase& c, std::ostream* os) { *os << c.name; }

class FolderDialogChosen : public FolderDialog, public ::testing::WithParamInterface<ChosenCase> {};

TEST_P(FolderDialogChosen, PatchesExactlyThatFolderAndMarksNothing) {
    const std::wstring folder = GetParam().folder;
    if (folder != FoxFolder) {
        ASSERT_NO_FATAL_FAILURE(MakeFolders(folder + L"defaults\\profile"));
    }
    const Tree before = Snapshot(Browsers);
    {
        App app;
        const Box dialog = OpenDialog(app);
        ASSERT_TRUE(dialog.isFolderDialog);
        app.ChooseFolder(dialog, folder.substr(0, folder.size() - 1));
        const Box done = ExpectBox(app, CompleteBox);
        app.Press(done, IDOK);
        ASSERT_NO_FATAL_FAILURE(ExpectExit(app, 0));
    }
    const std::wstring prefs = folder + L"defaults\\profile\\user.js";
    ExpectPayloadAt(prefs);
    EXPECT_EQ(Snapshot(Browsers), With(before, prefs, PayloadFile)) << "one new file, nothing else";
    EXPECT_FALSE(IsFolder(DefaultFolder)) << "the default folder was made";
    EXPECT_EQ(Snapshot(WorkingFolder), Tree{});
    EXPECT_EQ(CaptionOnNextStart(), L"Patch");
}

INSTANTIATE_TEST_SUITE_P(
    FolderDialog, FolderDialogChosen,
    ::testing::Values(ChosenCase{"PlainName", FoxFolder},
                      // Cyrillic and Chinese: outside any ANSI code page the prefix can have.
                      ChosenCase{"NameOutsideTheAnsiCodePage",
                                 L"C:\\Browsers\\\u0424\u043e\u043a\u0441 \u6d4f\u89c8\u5668\\"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FolderDialog, LooksAgainUntilAFolderFits) {
    const std::wstring empty = Browsers + L"\\Empty";
    ASSERT_NO_FATAL_FAILURE(MakeFolders(empty));
    const Tree before = Snapshot(Browsers);
    {
        App app;
        const Box first = OpenDialog(app);
        ASSERT_TRUE(first.isFolderDialog);
        app.ChooseFolder(first, empty);
        const Box again = ExpectBox(app, LookAgainBox);
        app.Press(again, IDYES);
        const Box second = ExpectFolderDialog(app);
        ASSERT_TRUE(second.isFolderDialog);
        app.ChooseFolder(second, FoxFolder.substr(0, FoxFolder.size() - 1));
        const Box done = ExpectBox(app, CompleteBox);
        app.Press(done, IDOK);
        ASSERT_NO_FATAL_FAILURE(ExpectExit(app, 0));
    }
    const std::wstring prefs = FoxFolder + L"defaults\\profile\\user.js";
    ExpectPayloadAt(prefs);
    EXPECT_EQ(Snapshot(Browsers), With(before, prefs, PayloadFile))
        << "the empty folder stays empty";
    EXPECT_FALSE(IsFolder(DefaultFolder));
}

TEST_F(FolderDialog, CancelAfterLookingAgainEnds) {
    const std::wstring empty = Browsers + L"\\Empty";
    ASSERT_NO_FATAL_FAILURE(MakeFolders(empty));
    const Tree before = Snapshot(Browsers);
    {
        App app;
        const Box first = OpenDialog(app);
        ASSERT_TRUE(first.isFolderDialog);
        app.ChooseFolder(first, empty);
        app.Press(ExpectBox(app, LookAgainBox), IDYES);
        const Box second = ExpectFolderDialog(app);
        ASSERT_TRUE(second.isFolderDialog);
        app.Press(second, IDCANCEL);
        ASSERT_NO_FATAL_FAILURE(ExpectExit(app, 0));
    }
    EXPECT_EQ(Snapshot(Browsers), before);
    EXPECT_FALSE(IsFolder(DefaultFolder));
}

}  // namespace
}  // namespace tarnwick::e2e
