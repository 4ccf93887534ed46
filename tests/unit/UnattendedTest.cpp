#include "app/RunLog.h"
#include "app/Unattended.h"

#include <climits>

#include "platform/Decimal.h"

#include "tests/unit/Bench.h"

namespace tarnwick::testing {
namespace {

using Verb = CommandLine::Verb;

// ---- the argument parser ----

struct ParseCase {
    const char* name;
    std::vector<std::wstring> arguments;
    Verb verb;
    std::wstring folder;
    bool force;
    std::wstring errorStart;  // Invalid: how the error begins
    std::wstring log = L"";   // the log the run may write to
    friend void PrintTo(const ParseCase& c, std::ostream* out) { *out << c.name; }
};

class Parse : public ::testing::TestWithParam<ParseCase> {};

TEST_P(Parse, ReadsTheSwitches) {
    const ParseCase& c = GetParam();
    const CommandLine command = ParseCommandLine(c.arguments);
    EXPECT_EQ(command.verb, c.verb);
    EXPECT_EQ(command.folder, c.folder);
    EXPECT_EQ(command.force, c.force);
    EXPECT_EQ(command.error.substr(0, c.errorStart.size()), c.errorStart);
    EXPECT_EQ(command.error.empty(), c.errorStart.empty()) << FakePlatform::Narrow(command.error);
    EXPECT_EQ(command.log, c.log);
}

const std::wstring Fox = L"D:\\Apps\\Firefox\\";
std::vector<std::wstring> Log(const wchar_t* log) { return {L"/undo", L"/log", log}; }

INSTANTIATE_TEST_SUITE_P(
    CommandLines, Parse,
    ::testing::Values(
        ParseCase{"None", {}, Verb::Window, L"", false, L""},
        ParseCase{"Patch", {L"/patch"}, Verb::Patch, L"", false, L""},
        ParseCase{"PatchDashUpper", {L"-PATCH"}, Verb::Patch, L"", false, L""},
        ParseCase{"Undo", {L"/Undo"}, Verb::Undo, L"", false, L""},
        ParseCase{"UndoDash", {L"-undo"}, Verb::Undo, L"", false, L""},
        ParseCase{"FolderAndForce", {L"/patch", L"/FOLDER", L"D:\\Apps\\Firefox", L"-Force"},
                  Verb::Patch, Fox, true, L""},
        ParseCase{"FolderFirst", {L"/folder", L"D:\\Apps\\Firefox\\", L"/patch"}, Verb::Patch, Fox,
                  false, L""},
        ParseCase{"FolderRoot", {L"/patch", L"/folder", L"E:\\"}, Verb::Patch, L"E:\\", false, L""},
        ParseCase{"FolderOnAShare", {L"/patch", L"/folder", L"\\\\srv\\apps\\Fox"}, Verb::Patch,
                  L"\\\\srv\\apps\\Fox\\", false, L""},
        ParseCase{"QuietOnes", {L"/quiet", L"/patch", L"-SILENT", L"/S", L"/qn"}, Verb::Patch, L"",
                  false, L""},
        ParseCase{"Help", {L"/?"}, Verb::Help, L"", false, L""},
        ParseCase{"HelpWord", {L"-HELP"}, Verb::Help, L"", false, L""},
        ParseCase{"HelpWinsOverErrors", {L"/bogus", L"/?"}, Verb::Help, L"", false, L""},
        ParseCase{"Unknown", {L"/patch", L"/bogus"}, Verb::Invalid, L"", false, L"Unknown switch /bogus"},
        ParseCase{"Bare", {L"patch"}, Verb::Invalid, L"", false, L"Unexpected argument"},
        ParseCase{"BareSlash", {L"/"}, Verb::Invalid, L"", false, L"Unexpected argument"},
        ParseCase{"OnlyQuiet", {L"/quiet"}, Verb::Invalid, L"", false, L"Give /patch or /undo"},
        ParseCase{"Both", {L"/patch", L"/undo"}, Verb::Invalid, L"", false, L"/patch and /undo"},
        ParseCase{"FolderMissingAtEnd", {L"/patch", L"/folder"}, Verb::Invalid, L"", false,
                  L"/folder needs the browser's folder"},
        ParseCase{"FolderMissingBeforeSwitch", {L"/folder", L"/patch"}, Verb::Invalid, L"", false,
                  L"/folder needs the browser's folder"},
        ParseCase{"FolderEmpty", {L"/patch", L"/folder", L""}, Verb::Invalid, L"", false,
                  L"/folder needs the browser's folder"},
        ParseCase{"FolderRelative", {L"/patch", L"/folder", L"Apps\\Firefox"}, Verb::Invalid, L"",
                  false, L"/folder needs a full path"},
        ParseCase{"FolderQuoteSwallowed", {L"/patch", L"/folder", L"D:\\Apps\\Firefox\" /force"},
                  Verb::Invalid, L"", false, L"/folder: leave the backslash off"},
        ParseCase{"FolderTwice", {L"/patch", L"/folder", L"D:\\A", L"/folder", L"D:\\B"},
                  Verb::Invalid, L"", false, L"/folder is given more than once"},
        ParseCase{"FolderDevicePath", {L"/patch", L"/folder", L"\\\\?\\C:\\Fox"}, Verb::Invalid, L"",
                  false, L"/folder: give the folder as a drive or network path"},
        ParseCase{"FolderDeviceNamespace", {L"/patch", L"/folder", L"\\\\.\\C:\\Fox"}, Verb::Invalid,
                  L"", false, L"/folder: give the folder as a drive or network path"},
        ParseCase{"UndoWithFolder", {L"/undo", L"/folder", L"D:\\A"}, Verb::Invalid, L"", false,
                  L"/folder and /force go with /patch"},
        ParseCase{"UndoWithForce", {L"/undo", L"/force"}, Verb::Invalid, L"", false,
                  L"/folder and /force go with /patch"},
        ParseCase{"OnlyArm", {L"/patch", L"/only", L"arm64"}, Verb::Invalid, L"", false, L"/only takes"},
        ParseCase{"UndoOnly", {L"/undo", L"/only", L"x86"}, Verb::Invalid, L"", false, L"/only goes with"},
        ParseCase{"OnlyAndFolder", {L"/patch", L"/only", L"x86", L"/folder", L"D:\\A"}, Verb::Invalid, L"",
                  false, L"/only and /folder cannot"},
        ParseCase{"Log", Log(L"C:\\L\\t.log"), Verb::Undo, L"", false, L"", L"C:\\L\\t.log"},
        ParseCase{"LogOnAShare", Log(L"\\\\s\\l\\t"), Verb::Undo, L"", false, L"", L"\\\\s\\l\\t"},
        // A log the command line refuses is not written to, not even of the refusal.
        ParseCase{"LogRelative", Log(L"C:t.log"), Verb::Invalid, L"", false, L"/log needs the full"},
        ParseCase{"LogAFolder", Log(L"C:\\L\\"), Verb::Invalid, L"", false, L"/log needs the full"},
        ParseCase{"LogDevice", Log(L"\\\\?\\C:\\t"), Verb::Invalid, L"", false, L"/log: give the file"},
        ParseCase{"LogNtPath", Log(L"\\??\\C:\\t"), Verb::Invalid, L"", false, L"/log: give the file"},
        ParseCase{"LogPipe", Log(L"\\\\h\\PIPE\\p"), Verb::Invalid, L"", false, L"/log: \\\\h\\PIPE\\p is a pipe"},
        ParseCase{"LogStream", Log(L"C:\\L\\t:s"), Verb::Invalid, L"", false, L"/log: t:s names a stream"},
        ParseCase{"LogConsole", Log(L"C:\\L\\CONIN$"), Verb::Invalid, L"", false, L"/log: CONIN$ is the"},
        ParseCase{"LogNul", Log(L"C:\\L\\nul .txt"), Verb::Invalid, L"", false, L"/log: nul .txt is the name"},
        ParseCase{"LogPort", Log(L"C:\\L\\lpt\u00B9"), Verb::Invalid, L"", false, L"/log: lpt\u00B9 is the name"},
        ParseCase{"LogClimbing", Log(L"C:\\L\\..\\t"), Verb::Invalid, L"", false, L"/log: give the path"}),
    [](const auto& info) { return std::string(info.param.name); });

// Error codes and version numbers in the output lines, without the C
// library's formatted printing.
TEST(DecimalText, WritesEveryWholeNumber) {
    const std::pair<long long, const wchar_t*> cases[] = {
        {0, L"0"}, {7, L"7"}, {46, L"46"}, {1234567890, L"1234567890"},
        {-2147024891, L"-2147024891"}, {LLONG_MIN, L"-9223372036854775808"}};
    for (const auto& [value, text] : cases) EXPECT_EQ(DecimalText(value), text) << value;
}

// ---- the answers each switch gives ----

TEST(UnattendedAnswers, AreWhatThePersonAtTheWindowWouldHaveSaid) {
    const CommandLine patch = ParseCommandLine({L"/patch"});
    const CommandLine chosen = ParseCommandLine({L"/patch", L"/folder", L"D:\\Fox"});
    const CommandLine forced = ParseCommandLine({L"/patch", L"/force"});
    const CommandLine undo = ParseCommandLine({L"/undo"});
    struct Row {
        Prompt prompt;
        int patch, chosen, forced, undo;
    };
    const int Yes = Answer::Yes, No = 7, Ok = 1;
    const Row rows[] = {
        {Prompt::LocateBrowser, No, Yes, No, No},   {Prompt::LookAgain, No, No, No, No},
        {Prompt::PatchAnyway, No, No, Yes, No},     {Prompt::ConfirmUndo, No, No, No, Yes},
        {Prompt::PatchingComplete, Ok, Ok, Ok, Ok}, {Prompt::TweakRemoved, Ok, Ok, Ok, Ok},
    };
    for (const Row& row : rows) {
        const int prompt = static_cast<int>(row.prompt);
        EXPECT_EQ(UnattendedAnswer(row.prompt, patch), row.patch) << prompt;
        EXPECT_EQ(UnattendedAnswer(row.prompt, chosen), row.chosen) << prompt;
        EXPECT_EQ(UnattendedAnswer(row.prompt, forced), row.forced) << prompt;
        EXPECT_EQ(UnattendedAnswer(row.prompt, undo), row.undo) << prompt;
    }
}

// ---- whole runs over the scripted platform ----

struct CapturedOutput : Output {
    void Write(const std::wstring& text) override { written += text; }
    std::wstring written;
};

enum class World {
    Fresh, Patched, PatchedEdited, NoBrowser, ReadOnlyPrefs, Current, X86, X86Patched,
    // The 32-bit browser, and later an uninstaller's empty folder, or a
    // browser, at the default place.
    X86EmptyDefault, BrowserInBoth, X86PatchedEmptyDefault, X86PatchedBrowserInDefault, BothPatched,
    // What the default folder may hold beside a patched (x86) folder, and
    // that folder on 32-bit Windows, where it is nobody's.
    MarkerNameTaken, X86PatchedReadOnlyDefault, X86PatchedDefaultsLinkInDefault, BothPatchedX86Locked,
    X86PatchedOn32BitWindows
};

struct RunCase {
    const char* name;
    World world;
    std::vector<std::wstring> arguments;
    int exitCode;
    std::wstring lineStart;
    bool payloadAfter, markerAfter;
    struct { const char* operation = nullptr; int nth = 1; long code = FailureCode::AccessDenied; } fault = {};
    friend void PrintTo(const RunCase& c, std::ostream* out) { *out << c.name; }
};

class Unattended : public Bench, public ::testing::WithParamInterface<RunCase> {};

TEST_P(Unattended, RunsTheButtonsAlgorithmWithTheSwitchesAnswering) {
    const RunCase& c = GetParam();
    const bool x86 = c.world >= World::X86 && c.world != World::MarkerNameTaken;
    const std::wstring folder(x86 ? X86Folder : DefaultFolder);
    const std::wstring prefs = folder + std::wstring(PrefsRelativePath), marker = folder + L"i386";
    if (c.world != World::NoBrowser) InstallBrowserAt(folder);
    if (c.world == World::Patched || c.world == World::PatchedEdited || c.world == World::X86Patched ||
        c.world == World::X86PatchedEmptyDefault || c.world == World::X86PatchedBrowserInDefault ||
        c.world == World::BothPatched || c.world >= World::X86PatchedReadOnlyDefault) {
        platform.AddFolder(marker);
        platform.AddFile(prefs, c.world == World::PatchedEdited ? "edited\r\n" : PayloadFile);
    }
    if (c.world == World::X86EmptyDefault || c.world == World::X86PatchedEmptyDefault)
        platform.AddFolder(Default);
    if (c.world == World::X86PatchedBrowserInDefault || c.world == World::BrowserInBoth) InstallBrowser();
    if (c.world == World::MarkerNameTaken) platform.AddFile(Marker, "");
    if (c.world == World::X86PatchedReadOnlyDefault) {
        InstallBrowser();
        platform.AddFile(Prefs, "mine", /*readOnly=*/true);
    }
    if (c.world == World::X86PatchedDefaultsLinkInDefault) {
        InstallBrowser();
        platform.files[FakePlatform::Key(Default + L"defaults\\")].link = true;
    }
    if (c.world == World::BothPatchedX86Locked) platform.lockedFolder = folder;
    if (c.world == World::X86PatchedOn32BitWindows) platform.x86ProgramFiles = false;
    if (c.world == World::BothPatched || c.world == World::BothPatchedX86Locked) {
        InstallBrowser();
        platform.AddFolder(Marker);
        platform.AddFile(Prefs, PayloadFile);
    }
    if (c.world == World::ReadOnlyPrefs) platform.AddFile(Prefs, "mine", /*readOnly=*/true);
    if (c.world == World::Current) platform.SetVersion(Default + L"firefox.exe", {133, 0, 3, 0});
    if (c.fault.operation) platform.FailAt(c.fault.operation, c.fault.nth, c.fault.code);
    CapturedOutput output;
    EXPECT_EQ(RunUnattended(platform, c.arguments, output), c.exitCode);
    EXPECT_EQ(output.written.substr(0, c.lineStart.size()), c.lineStart)
        << FakePlatform::Narrow(output.written);
    EXPECT_EQ(output.written.substr(output.written.size() - 2), L"\r\n");
    EXPECT_EQ(platform.Bytes(prefs) == PayloadFile, c.payloadAfter);
    EXPECT_EQ(platform.HasFolder(marker), c.markerAfter);
    // No box of any kind was ever shown.
    for (const std::string& step : platform.log) EXPECT_NE(step.rfind("box ", 0), 0u) << step;
}

INSTANTIATE_TEST_SUITE_P(
    Runs, Unattended,
    ::testing::Values(
        RunCase{"Patch", World::Fresh, {L"/patch"}, 0, L"Patched: C:\\Program Files", true, true},
        RunCase{"PatchAgain", World::Patched, {L"/patch"}, 0, L"Already patched", true, true},
        RunCase{"Undo", World::Patched, {L"/undo"}, 0, L"Undone", false, false},
        RunCase{"UndoUnpatchedNeverPatches", World::Fresh, {L"/undo"}, 0, L"Not patched", false, false},
        RunCase{"ReadOnly", World::ReadOnlyPrefs, {L"/patch"}, 1, L"Run-time error 5: injected",
                false, false},
        RunCase{"Unknown", World::Fresh, {L"/patch", L"/x"}, 2, L"Unknown switch /x.\r\n\r\nUsage:",
                false, false},
        RunCase{"NoBrowser", World::NoBrowser, {L"/patch"}, 3,
                L"No browser in C:\\Program Files\\Mozilla Firefox\\ or C:\\Program Files (x86)\\Mozilla "
                L"Firefox\\. Give its folder with /folder.\r\n",
                false, false},
        RunCase{"X86", World::X86, {L"/patch"}, 0,
                L"Patched: C:\\Program Files (x86)\\Mozilla Firefox\\defaults\\profile\\user.js is "
                L"written.\r\n",
                true, true},
        RunCase{"X86Again", World::X86Patched, {L"/patch"}, 0,
                L"Already patched: C:\\Program Files (x86)\\Mozilla Firefox\\i386 exists.", true, true},
        RunCase{"X86Undo", World::X86Patched, {L"/undo"}, 0,
                L"Undone: the tweak is removed from C:\\Program Files (x86)\\Mozilla Firefox\\.\r\n",
                false, false},
        RunCase{"UndoNoBrowser", World::NoBrowser, {L"/undo"}, 0,
                L"Not patched: there is nothing to undo in C:\\Program Files\\Mozilla Firefox\\ or "
                L"C:\\Program Files (x86)\\Mozilla Firefox\\.\r\n",
                false, false},
        RunCase{"UndoEdited", World::PatchedEdited, {L"/undo"}, 0,
                L"Undone: the tweak is removed from C:\\Program Files\\Mozilla Firefox\\. C:\\Program "
                L"Files\\Mozilla Firefox\\defaults\\profile\\user.js had been changed since the patch, "
                L"so Tarnwick kept it as C:\\Program Files\\Mozilla Firefox\\defaults\\user.js.changed-1.\r\n",
                false, false},
        RunCase{"X86PatchWithAnEmptyDefaultFolder", World::X86EmptyDefault, {L"/patch"}, 0,
                L"Patched: C:\\Program Files (x86)\\Mozilla Firefox\\", true, true},
        RunCase{"X86UndoWithAnEmptyDefaultFolder", World::X86PatchedEmptyDefault, {L"/undo"}, 0,
                L"Undone: the tweak is removed from C:\\Program Files (x86)\\Mozilla Firefox\\.\r\n",
                false, false},
        RunCase{"X86UndoWithABrowserInTheDefaultFolder", World::X86PatchedBrowserInDefault, {L"/undo"}, 0,
                L"Undone: the tweak is removed from C:\\Program Files (x86)\\Mozilla Firefox\\.\r\n",
                false, false},
        RunCase{"UndoBoth", World::BothPatched, {L"/undo"}, 0,
                L"Undone: the tweak is removed from C:\\Program Files\\Mozilla Firefox\\ and "
                L"C:\\Program Files (x86)\\Mozilla Firefox\\.\r\n",
                false, false},
        RunCase{"X86AgainWithABrowserInTheDefaultFolder", World::X86PatchedBrowserInDefault, {L"/patch"},
                0, L"Already patched: C:\\Program Files (x86)\\Mozilla Firefox\\i386 exists.", true, true},
        RunCase{"FolderWithoutBrowser", World::NoBrowser, {L"/patch", L"/folder", L"E:\\Empty"}, 3,
                L"No browser in E:\\Empty\\: it has no defaults\\profile folder.", false, false},
        RunCase{"Current", World::Current, {L"/patch"}, 4,
                L"Not patched: Firefox 133.0.3 in C:\\Program Files\\Mozilla Firefox\\ would ignore",
                false, false},
        RunCase{"CurrentForced", World::Current, {L"/patch", L"/force"}, 0, L"Patched", true, true},
        RunCase{"Help", World::Fresh, {L"/?"}, 0, L"Usage: tarnwick.exe /patch", false, false},
        RunCase{"MarkerNameTaken", World::MarkerNameTaken, {L"/patch"}, 1,
                L"Run-time error 183: Something that is not a folder has the name of the marker", false,
                false},
        RunCase{"X86UndoWithAReadOnlyFileInTheDefaultFolder", World::X86PatchedReadOnlyDefault, {L"/undo"},
                0, L"Undone: the tweak is removed from C:\\Program Files (x86)\\Mozilla Firefox\\.\r\n",
                false, false},
        RunCase{"X86UndoWithALinkInTheDefaultFolder", World::X86PatchedDefaultsLinkInDefault, {L"/undo"}, 0,
                L"Undone: the tweak is removed from C:\\Program Files (x86)\\Mozilla Firefox\\.\r\n",
                false, false},
        RunCase{"UndoBothWithTheX86FolderLocked", World::BothPatchedX86Locked, {L"/undo"}, 1618,
                L"Run-time error 1618: Another run of Tarnwick kept the browser's folder for over a minute. "
                L"Try again later. C:\\Program Files (x86)\\Mozilla Firefox\\ The tweak is still in "
                L"C:\\Program Files (x86)\\Mozilla Firefox\\; nothing was changed there. The tweak is "
                L"removed from C:\\Program Files\\Mozilla Firefox\\.\r\n",
                true, true},
        RunCase{"X86FolderOn32BitWindowsIsNoKnownFolder", World::X86PatchedOn32BitWindows, {L"/undo"}, 0,
                L"Not patched: there is nothing to undo in C:\\Program Files\\Mozilla Firefox\\.\r\n",
                true, true},
        RunCase{"OnlyDefaultBesideAPatchedX86Folder", World::X86PatchedBrowserInDefault,
                {L"/patch", L"/only", L"DEFAULT"}, 0, L"Patched: C:\\Program Files\\Mozilla Firefox\\", true, true},
        RunCase{"OnlyX86BesideABrowserInTheDefaultFolder", World::BrowserInBoth, {L"-only", L"x86", L"/patch"},
                0, L"Patched: C:\\Program Files (x86)\\", true, true},
        RunCase{"OnlyDefaultWithoutABrowserThere", World::X86, {L"/patch", L"/only", L"default"}, 3,
                L"No browser in C:\\Program Files\\Mozilla Firefox\\.\r\n", false, false},
        // What a failure had changed, and what an undo could not see.
        RunCase{"PatchHoldFails", World::Fresh, {L"/patch"}, 1, L"Run-time error 5: injected Nothing was changed.\r\n",
                false, false, {"HoldFolder"}},
        RunCase{"NotFoundAfterAChange", World::Fresh, {L"/patch"}, 1,
                L"Run-time error 3: injected What was done so far is safe, and the next run finishes it.\r\n",
                true, false, {"CreateFolder", 1, FailureCode::PathNotFound}},
        RunCase{"X86UndoHoldFails", World::X86Patched, {L"/undo"}, 1,
                L"Run-time error 5: injected The tweak may still be in C:\\Program Files (x86)\\Mozilla "
                L"Firefox\\; nothing was changed there.\r\n",
                true, true, {"HoldFolder"}},
        RunCase{"X86UndoWithTheDefaultFolderBusy", World::X86PatchedBrowserInDefault, {L"/undo"}, 1618,
                L"Run-time error 1618: injected It stayed in use by another program for over a minute. Try "
                L"again later. The tweak may still be in C:\\Program Files\\Mozilla Firefox\\; nothing was "
                L"changed there. The tweak is removed from C:\\Program Files (x86)\\Mozilla Firefox\\.\r\n",
                false, false, {"ReadFile", 0, FailureCode::SharingViolation}},
        RunCase{"X86UndoWithTheDefaultFolderUnreadable", World::X86PatchedBrowserInDefault, {L"/undo"}, 1,
                L"Run-time error 5: injected The tweak may still be in C:\\Program Files\\Mozilla Firefox\\; ",
                false, false, {"ReadFile"}}),
    [](const auto& info) { return std::string(info.param.name); });

class UnattendedRun : public Bench {};

// It names the file it kept aside before it failed, and says the next undo finishes.
TEST_F(UnattendedRun, AFailureOfTheUndoIsReportedNotShown) {
    InstallBrowser();
    platform.AddFolder(Marker);
    platform.AddFile(Prefs, "edited\r\n");
    platform.FailAt("DeleteFolder");
    CapturedOutput output;
    EXPECT_EQ(RunUnattended(platform, {L"/undo"}, output), 1);
    EXPECT_EQ(output.written,
              L"Run-time error 5: injected The tweak is still in " + Default + L"; what was done there is "
              L"safe, and the next undo finishes it. " + KeptFileText({Prefs, Changed}) + L"\r\n");
    EXPECT_TRUE(platform.HasFolder(Marker));
}

TEST_F(UnattendedRun, AChosenFolderIsPatchedAndSaysUndoWillNotReachIt) {
    platform.AddFolder(L"E:\\");
    InstallBrowserAt(L"E:\\Fox\\");
    platform.AddFile(L"E:\\Fox\\defaults\\profile\\user.js", "original\r\n");
    CapturedOutput output;
    EXPECT_EQ(RunUnattended(platform, {L"/patch", L"/folder", L"E:\\Fox"}, output), 0);
    EXPECT_EQ(platform.Bytes(L"E:\\Fox\\defaults\\profile\\user.js"), PayloadFile);
    EXPECT_NE(output.written.find(L"/undo will not remove it"), std::wstring::npos);

    // Nothing marks a chosen folder, so a startup script patches it again at
    // every boot: a user.js put there since is kept aside, and named.
    platform.AddFile(L"E:\\Fox\\defaults\\profile\\user.js", "newer\r\n");
    CapturedOutput again;
    EXPECT_EQ(RunUnattended(platform, {L"/patch", L"/folder", L"E:\\Fox"}, again), 0);
    EXPECT_EQ(platform.Bytes(L"E:\\Fox\\defaults\\profile\\user.js"), PayloadFile);
    EXPECT_EQ(platform.Bytes(L"E:\\Fox\\defaults\\user.js.tarnwick-original"), "original\r\n");
    EXPECT_EQ(platform.Bytes(L"E:\\Fox\\defaults\\user.js.changed-1"), "newer\r\n");
    EXPECT_NE(again.written.find(L" so Tarnwick kept it as E:\\Fox\\defaults\\user.js.changed-1.\r\n"),
              std::wstring::npos)
        << FakePlatform::Narrow(again.written);

    // The same file put there before every boot's patch is kept once, and
    // named where it is; a different one gets the next number.
    for (const char* bytes : {"newer\r\n", "newer\r\n", "newest\r\n", "newer\r\n"}) {
        platform.AddFile(L"E:\\Fox\\defaults\\profile\\user.js", bytes);
        CapturedOutput boot;
        EXPECT_EQ(RunUnattended(platform, {L"/patch", L"/folder", L"E:\\Fox"}, boot), 0);
        const std::wstring where = bytes[4] == 's' ? L"changed-2" : L"kept already as E:\\Fox\\defaults\\user.js.changed-1.";
        EXPECT_NE(boot.written.find(where), std::wstring::npos) << FakePlatform::Narrow(boot.written);
    }
    EXPECT_EQ(platform.Bytes(L"E:\\Fox\\defaults\\user.js.changed-2"), "newest\r\n");
    EXPECT_FALSE(platform.Has(L"E:\\Fox\\defaults\\user.js.changed-3"));
}

// The log: first line and exit code, once per run; a refused command line too.
TEST_F(UnattendedRun, LogsEachRunTheCommandLineRefusedToo) {
    platform.AddFolder(L"C:\\");
    platform.AddFolder(L"C:\\Logs");
    CapturedOutput output;
    EXPECT_EQ(RunUnattended(platform, {L"/undo", L"/force", L"-LOG", L"C:\\Logs\\t.log"}, output), 2);
    EXPECT_EQ(RunUnattended(platform, {L"/patch", L"/log", L"/force"}, output), 2);
    EXPECT_EQ(platform.Bytes(L"C:\\Logs\\t.log"), "2026-12-10 07:05:09 exit 2: /folder and /force go with /patch "
                                                 "only: undo knows only the browser's own folders.\r\n");
    EXPECT_NE(output.written.find(L"/log needs a file after it.\r\n\r\nUsage: tarnwick.exe /patch"), std::wstring::npos);
}

// A log that is refused, busy or cannot be written changes neither the run
// nor its exit code: the line says why, and nothing is written to it.
struct LogCase {
    const char* name;
    void (*arrange)(FakePlatform&);
    std::wstring log;
    std::string clause;  // added to the line; "" when the log is written
    long long waited;    // on the scripted clock, for a busy log
    friend void PrintTo(const LogCase& c, std::ostream* out) { *out << c.name; }
};

class Logs : public ::testing::TestWithParam<LogCase> {};

TEST_P(Logs, NeverChangeTheRunAndAreWrittenOnlyWhereNobodyElseCanSteerThem) {
    const LogCase& c = GetParam();
    FakePlatform platform;
    platform.AddFolder(L"C:\\");
    platform.AddFolder(L"C:\\Logs");
    platform.AddFile(L"C:\\Logs\\t.log", "earlier\r\n");
    if (c.arrange) c.arrange(platform);
    const std::optional<std::string> before = platform.Bytes(c.log);
    CapturedOutput output;
    EXPECT_EQ(RunUnattended(platform, Log(c.log.c_str()), output), 0);
    const std::string line = "Not patched: there is nothing to undo in C:\\Program Files\\Mozilla Firefox\\ or "
                             "C:\\Program Files (x86)\\Mozilla Firefox\\.";
    EXPECT_EQ(FakePlatform::Narrow(output.written), line + c.clause + "\r\n");
    EXPECT_EQ(platform.Bytes(c.log),
              c.clause.empty() ? before.value_or("") + "2026-12-10 07:05:09 exit 0: " + line + "\r\n" : before);
    EXPECT_EQ(platform.clock.count(), c.waited);
}

const std::wstring Path = L"C:\\Logs\\t.log";
const std::string NotWritten = " The log was not written: C:\\Logs\\";  // and what there
std::wstring Key(const std::wstring& path) { return FakePlatform::Key(path); }
AccessEntry Allow(const wchar_t* account, std::uint32_t rights, std::uint8_t flags = 0) {
    return {0, flags, rights, account};
}

INSTANTIATE_TEST_SUITE_P(
    Unattended, Logs,
    ::testing::Values(
        LogCase{"Appended", nullptr, Path, "", 0},
        LogCase{"Made", nullptr, L"C:\\Logs\\new.log", "", 0},
        LogCase{"ALink", [](FakePlatform& p) { p.files[Key(Path)].link = true; }, Path,
                NotWritten + "t.log is a link.", 0},
        LogCase{"ASecondName", [](FakePlatform& p) { p.files[Key(Path)].names = 2; }, Path,
                NotWritten + "t.log has more than one name.", 0},
        LogCase{"ADevice", [](FakePlatform& p) { p.files[Key(Path)].device = true; }, Path,
                NotWritten + "t.log is not a file on a disk.", 0},
        LogCase{"BusyAMoment", [](FakePlatform& p) { p.FailAt("OpenToAppend", 1, FailureCode::FileBusy); }, Path,
                "", 100},
        LogCase{"BusyPastItsBound",
                [](FakePlatform& p) {
                    for (int n = 1; n <= 21; ++n) p.FailAt("OpenToAppend", n, n % 2 ? FailureCode::FileBusy : 32);
                },
                Path, NotWritten + "t.log is busy: another program keeps it open.", 2000},
        LogCase{"Failing", [](FakePlatform& p) { p.FailAt("OpenToAppend"); }, Path,
                " The log was not written: injected.", 0},
        LogCase{"InALink", [](FakePlatform& p) { p.files[Key(L"C:\\Logs")].link = true; }, Path,
                NotWritten + " is a link.", 0},
        LogCase{"InAFolderThatIsNotThere", nullptr, L"C:\\None\\t.log",
                " The log was not written: C:\\None\\ does not exist.", 0},
        LogCase{"InAFolderOthersMayWrite",
                [](FakePlatform& p) { p.access[L"c:\\logs"] = {L"S-1-5-32-544", true, {Allow(L"S-1-1-0", 1u << 30)}}; },
                Path, " The log was not written: Everyone (S-1-1-0) may add, remove or change files in C:\\Logs\\.",
                0},
        LogCase{"OnAShareAsSystem", [](FakePlatform& p) { p.runAccount = L"S-1-5-18"; }, L"\\\\srv\\logs\\t.log",
                " The log was not written: a run as SYSTEM reaches \\\\srv\\logs\\ as the computer's account, which "
                "cannot tell who may change a folder there.",
                0}),
    [](const auto& info) { return std::string(info.param.name); });

// Who may change a folder on the log's way: only SYSTEM, Administrators,
// TrustedInstaller and the run's own account, whatever else the entries say.
struct RightsCase {
    const char* name;
    FolderAccess folder;
    std::vector<AccessEntry> parent;  // C:\'s entries; "Root" rows are C:\ itself
    bool holdsTheLog;
    std::wstring why;  // how the refusal begins; "" when the folder passes
};

TEST(LogFolderRights, AreOnlyThoseOfTrustedAccounts) {
    constexpr std::uint32_t Delete = 0x10000, WriteDac = 0x40000, GenericAll = 0x10000000,
                            GenericWrite = 0x40000000, ReadAndExecute = 0x1200A9, AddFile = 0x2,
                            AddFolder = 0x4, DeleteChild = 0x40;
    constexpr std::uint8_t Inherited = 0x10, InheritOnlyForAll = 0x0B;
    const wchar_t *Admins = L"S-1-5-32-544", *Users = L"S-1-5-32-545", *Authenticated = L"S-1-5-11",
                  *Run = L"S-1-5-21-1-2-3-1001";
    const FolderAccess windowsLogs{L"S-1-5-18", true,
                                   {Allow(L"S-1-5-18", GenericAll, 3), Allow(Admins, 0x1F01FF, 3),
                                    Allow(Users, ReadAndExecute, 3), Allow(L"S-1-3-0", GenericAll, InheritOnlyForAll),
                                    Allow(Account::TrustedInstaller, 0x1F01FF)}};
    const RightsCase rows[] = {
        {"WindowsLogs", windowsLogs, {Allow(Authenticated, AddFolder)}, true, L""},
        {"OwnedByTheRunsAccount", {Run, true, {Allow(Run, GenericAll)}}, {}, true, L""},
        {"OwnedByAnotherUser", {L"S-1-5-21-1-2-3-1002", true, {}}, {}, false,
         L"C:\\Logs\\ belongs to S-1-5-21-1-2-3-1002"},
        {"NoAccessList", {Admins, false, {}}, {}, false, L"anyone may move, delete or take over C:\\Logs\\"},
        {"InheritedEntry", {Admins, true, {Allow(Users, WriteDac, Inherited)}}, {}, false,
         L"Users (S-1-5-32-545) may move, delete or take over C:\\Logs\\"},
        {"InheritOnlyEntry", {Admins, true, {Allow(Users, GenericAll, InheritOnlyForAll)}}, {}, true, L""},
        {"GenericWrite", {Admins, true, {Allow(Authenticated, GenericWrite)}}, {}, true,
         L"Authenticated Users (S-1-5-11) may add, remove or change files in C:\\Logs\\"},
        {"GenericWriteOnTheWay", {Admins, true, {Allow(Authenticated, GenericWrite)}}, {}, false, L""},
        {"DenyExcusesNothing", {Admins, true, {{1, 0, GenericAll, L"S-1-1-0"}, Allow(L"S-1-1-0", Delete)}}, {},
         false, L"Everyone (S-1-1-0) may move"},
        {"CreatorOwner", {Admins, true, {Allow(L"S-1-3-0", GenericAll), Allow(L"S-1-3-1", GenericAll)}}, {}, true,
         L""},
        {"ParentGrantsDeleteChild", {Admins, true, {}}, {Allow(Users, DeleteChild)}, false,
         L"Users (S-1-5-32-545) may delete what C:\\ holds, C:\\Logs\\ among it"},
        {"RootsAddFolderRight", {Admins, true, {Allow(Authenticated, AddFolder)}}, {}, false, L""},
        {"RootHoldingTheLog", {Admins, true, {Allow(Authenticated, AddFile)}}, {}, true,
         L"Authenticated Users (S-1-5-11) may add"},
        {"AnObjectEntry", {Admins, true, {{5, 0, Delete, L""}}}, {}, false,
         L"an access entry of a kind Tarnwick does not read may move"},
    };
    for (const RightsCase& row : rows) {
        const bool root = std::string(row.name).rfind("Root", 0) == 0;
        const FolderOnTheWay parent{L"C:\\", {Admins, true, row.parent}};
        const FolderOnTheWay folder{root ? L"C:\\" : L"C:\\Logs\\", row.folder};
        const std::wstring why = UntrustedHold(folder, root ? nullptr : &parent, row.holdsTheLog, Run);
        EXPECT_EQ(why.substr(0, row.why.size()), row.why) << row.name << ": " << FakePlatform::Narrow(why);
        EXPECT_EQ(why.empty(), row.why.empty()) << row.name << ": " << FakePlatform::Narrow(why);
    }
}

}  // namespace
}  // namespace tarnwick::testing
