#include "app/Colours.h"
#include "app/Layout.h"
#include "tests/unit/Bench.h"

namespace tarnwick::testing {
namespace {

class FormLoad : public Bench {};

// The offer follows the markers: patched when either known folder's marker
// is there, whatever else the folders hold, as a click decides.
struct LoadCase {
    const char* name;
    bool defaultFolder, defaultMarker, x86Folder, x86Marker;
    bool undo;
    friend void PrintTo(const LoadCase& c, std::ostream* out) { *out << c.name; }
};

const std::string DefaultMarkerProbe = "dir? C:\\Program Files\\Mozilla Firefox\\i386";
const std::string X86MarkerProbe = "dir? C:\\Program Files (x86)\\Mozilla Firefox\\i386";

class FormLoadIn : public Bench, public ::testing::WithParamInterface<LoadCase> {};

TEST_P(FormLoadIn, OffersWhatAClickWouldDo) {
    const LoadCase& c = GetParam();
    if (c.defaultFolder) InstallBrowser();
    if (c.defaultMarker) platform.AddFolder(Marker);
    if (c.x86Folder) InstallBrowserAt(std::wstring(X86Folder));
    if (c.x86Marker) platform.AddFolder(std::wstring(X86MarkerFolder));
    form.Form_Load();
    EXPECT_EQ(command1.text, c.undo ? L"Undo Patch" : L"Patch");
    EXPECT_EQ(label2.text, c.undo ? UndoInstructions : PatchInstructions);
    std::vector<std::string> probes{DefaultMarkerProbe};
    if (!c.defaultMarker) probes.push_back(X86MarkerProbe);
    EXPECT_EQ(platform.log, probes);
}

INSTANTIATE_TEST_SUITE_P(
    Folders, FormLoadIn,
    ::testing::Values(
        LoadCase{"Default", true, false, false, false, false},
        LoadCase{"DefaultPatched", true, true, false, false, true},
        // A marker with nothing else of the browser still decides.
        LoadCase{"MarkerAlone", false, true, false, false, true},
        LoadCase{"X86", false, false, true, false, false},
        LoadCase{"X86Patched", false, false, true, true, true},
        // A browser in the default folder since the 32-bit one was patched:
        // the tweak is still there to undo.
        LoadCase{"BothX86Patched", true, false, true, true, true},
        LoadCase{"BothPatched", true, true, true, true, true},
        LoadCase{"Neither", false, false, false, false, false}),
    [](const auto& info) { return std::string(info.param.name); });

// While a click waits for another run, the button takes no second click,
// and after a second the instructions say why nothing happens; then the
// window is as it was, and the click goes on.
TEST_F(FormLoad, AClickThatWaitsForAnotherRunSaysSoAndThenGoesOn) {
    InstallBrowser();
    form.Form_Load();
    platform.lockedElsewhere = true;
    struct Look {
        long long at;
        bool enabled;
        std::wstring instructions;
    };
    std::vector<Look> looks;  // at each try of the lock
    platform.onStep = [&](const std::string& entry) {
        if (entry != "lock") return;
        looks.push_back({platform.clock.count(), command1.enabled, label2.text});
        if (platform.clock >= std::chrono::milliseconds(3000)) platform.lockedElsewhere = false;
    };
    EXPECT_TRUE(Click());
    ASSERT_EQ(looks.size(), 31u);  // every 100 ms
    for (const Look& look : looks) {
        EXPECT_EQ(look.enabled, look.at == 0) << look.at;
        EXPECT_EQ(look.instructions, look.at > 1000 ? WaitingInstructions : PatchInstructions) << look.at;
    }
    EXPECT_TRUE(command1.enabled);
    EXPECT_EQ(label2.text, PatchInstructions);
    EXPECT_EQ(platform.Bytes(Prefs), PayloadFile);
    EXPECT_TRUE(platform.HasFolder(Marker));
}

// The window's click meets the same limit, and a box says why it ends; the
// time a person takes over a question does not count.
TEST_F(FormLoad, AClickThatNeverEndsIsEndedWithABoxThatSaysWhy) {
    InstallBrowser();
    platform.Answer(Answer::Yes);
    platform.SetVersion(Default + L"firefox.exe", {133, 0, 3, 0});
    platform.onStep = [&](const std::string& entry) {
        if (entry.rfind("box ", 0) == 0 && entry.find("stopped after") == std::string::npos)
            platform.clock += std::chrono::minutes(10);
    };
    platform.HangAt("Commit");
    EXPECT_THROW(Click(), Killed);
    EXPECT_EQ(platform.watchdogExit, 1);  // the stuck rename was issued, and may land yet
    EXPECT_EQ(platform.clock, std::chrono::minutes(15));  // armed again after the question
    EXPECT_EQ(platform.log.back().substr(0, 53), "box Tarnwick stopped after 5 minutes: a step that sho");
    EXPECT_EQ(platform.log.back().substr(platform.log.back().size() - 6), " /4112");
}

// A step that ends after all once the watchdog has fired is the click's
// last: its box is the only one, and the window waits for the end.
TEST_F(FormLoad, AClickWhoseStepEndsPastTheLimitTakesNoFurtherStep) {
    InstallBrowser();
    platform.SlowAt("Commit");
    EXPECT_THROW(Click(), Killed);
    EXPECT_TRUE(platform.watchdogExit);
    for (const std::string& entry : platform.log) {
        if (entry.rfind("box ", 0) == 0) {
            EXPECT_EQ(entry.substr(0, 37), "box Tarnwick stopped after 5 minutes:");
        }
    }
}

TEST_F(FormLoad, AFileNamedLikeTheMarkerIsNotTheMarker) {
    InstallBrowser();
    platform.AddFile(Marker, "");
    form.Form_Load();
    EXPECT_EQ(command1.text, L"Patch");
    EXPECT_EQ(label2.text, PatchInstructions);
}

TEST_F(FormLoad, InstructionsFollowTheButtonCaptionNotTheProbe) {
    command1.text = L"patch";  // any caption but the exact "Patch" reads as undo
    form.Form_Load();
    EXPECT_EQ(label2.text, UndoInstructions);
}

TEST_F(FormLoad, AProbeThatCannotAnswerIsAFailureNotAnAnswer) {
    platform.FailAt("FolderExists");
    EXPECT_THROW(form.Form_Load(), Failure);
    EXPECT_EQ(label2.textChanges, 0);
}

TEST_F(FormLoad, ProbesShareNoObjectAndCacheNothing) {
    PatchEngine& engine = Engine();
    EXPECT_FALSE(engine.DirectoryExists(Marker));
    platform.AddFolder(Marker);
    EXPECT_TRUE(engine.DirectoryExists(Marker));
    EXPECT_TRUE(engine.DirectoryExists(Marker + L"\\"));
    EXPECT_FALSE(engine.FileExists(Marker));
    EXPECT_EQ(platform.log.size(), 4u);
}

TEST(Payload, IsTheShippedTextByteForByte) {
    EXPECT_EQ(PreferencePayload.size(), 175u);
    EXPECT_EQ(std::wstring(PreferencePayload) + L"\r\n",
              std::wstring(PayloadFile.begin(), PayloadFile.end()));
}

TEST(Locations, AreTheFixedPathsEachStoredWhole) {
    EXPECT_EQ(DefaultFolder.size(), 33u);
    EXPECT_EQ(MarkerFolder.size(), 37u);
    EXPECT_EQ(DefaultPrefsFile.size(), 57u);
    EXPECT_EQ(PrefsRelativePath.size(), 24u);
    EXPECT_EQ(std::wstring(DefaultFolder) + std::wstring(PrefsRelativePath), DefaultPrefsFile);
    EXPECT_EQ(std::wstring(DefaultFolder) + L"i386", MarkerFolder);
    EXPECT_EQ(std::wstring(X86Folder) + std::wstring(PrefsRelativePath), X86PrefsFile);
    EXPECT_EQ(std::wstring(X86Folder) + L"i386", X86MarkerFolder);
    for (const KnownInstall* install : KnownInstalls) {
        EXPECT_EQ(std::wstring(install->folder) + L"defaults\\profile\\", install->profileFolder);
        EXPECT_EQ(std::wstring(install->folder) + L"firefox.exe", install->programFile);
    }
}

// ---- the web link ----

class WebLink : public Bench {};

TEST_F(WebLink, HoverTurnsTheLinkItalicAndTheRestOfTheWindowTurnsItBack) {
    struct Move {
        void (Form1::*handler)(short, short, float, float);
        bool italicAfter;
    };
    const Move moves[] = {
        {&Form1::Label1_MouseMove, true},  {&Form1::Form_MouseMove, false},
        {&Form1::Label1_MouseMove, true},  {&Form1::label2_MouseMove, false},
        {&Form1::Label1_MouseMove, true},  {&Form1::image1_MouseMove, false},
        {&Form1::image1_MouseMove, false}, {&Form1::Label1_MouseMove, true},
        {&Form1::Label1_MouseMove, true},
    };
    int step = 0;
    for (const auto& move : moves) {
        (form.*move.handler)(1, 2, 3.5f, -4.0f);
        EXPECT_EQ(label1.italic, move.italicAfter) << "after move " << step++;
    }
    // Set every time, unconditionally; nothing else about the label changes.
    EXPECT_EQ(label1.italicSets, 9);
    EXPECT_EQ(label1.textChanges, 0);
    EXPECT_EQ(label1.text, WebSiteHost);
    EXPECT_TRUE(platform.log.empty());
}

TEST_F(WebLink, LeavingTheLinkForTheButtonLeavesItItalic) {
    form.Label1_MouseMove(0, 0, 0, 0);
    // The button has no handler: nothing is reported until the window's surface.
    EXPECT_TRUE(label1.italic);
}

TEST_F(WebLink, AnElevatedProgramOpensTheSiteOnlyAsTheDesktopUser) {
    for (bool elevated : {false, true}) {
        FreshForm world;
        world.platform.elevated = elevated;
        world.form.Label1_Click();
        // Elevated, the desktop shell's route is the only one: no fallback
        // to the program's own call, whether or not that route works.
        EXPECT_EQ(world.platform.log,
                  (std::vector<std::string>{elevated ? "desktop open Open http://tarn.example/"
                                                     : "open Open http://tarn.example/ owner=4660"}))
            << elevated;
    }
}

TEST_F(WebLink, EachClickOpensTheSiteOnceWithTheWindowAsOwner) {
    form.Label1_MouseMove(0, 0, 0, 0);
    form.Label1_Click();
    form.Label1_Click();
    EXPECT_EQ(platform.log, (std::vector<std::string>{
                                "open Open http://tarn.example/ owner=4660",
                                "open Open http://tarn.example/ owner=4660"}));
    EXPECT_TRUE(label1.italic);
    EXPECT_EQ(command1.textChanges, 0);
    EXPECT_TRUE(form.browserFolder().empty());
}

// Tab and Shift+Tab go to the other stop, Ctrl+Tab nowhere. Enter on the
// link posts its click once however long it is held, Space when released
// after a press there; it leans while it has the focus or the pointer.
TEST_F(WebLink, KeysMoveBetweenTheStopsAndOpenTheSiteFromTheLink) {
    struct Step { std::function<void()> event; int toLink, toButton, clicks; bool italic; };
    const Step steps[] = {
        {[&] { form.Form_KeyDown(Key::Tab, 0); }, 1, 0, 0, false},
        {[&] { form.Label1_GotFocus(); }, 1, 0, 0, true},
        {[&] { form.Form_MouseMove(0, 0, 0, 0); }, 1, 0, 0, true},
        {[&] { form.Form_KeyDown(Key::Tab, CtrlMask); }, 1, 0, 0, true},
        {[&] { form.Label1_KeyDown(Key::Return, 0, true); }, 1, 0, 0, true},  // a repeat
        {[&] { form.Label1_KeyDown(Key::Return, 0, false); }, 1, 0, 1, true},
        {[&] { form.Label1_KeyUp(Key::Space, 0); }, 1, 0, 1, true},  // not pressed here
        {[&] { form.Label1_KeyDown(Key::Space, 0, false); }, 1, 0, 1, true},
        {[&] { form.Form_KeyDown(Key::Tab, ShiftMask); }, 1, 1, 1, true},
        {[&] { form.Label1_LostFocus(); }, 1, 1, 1, false},
        {[&] { form.Label1_KeyUp(Key::Space, 0); }, 1, 1, 1, false},
        {[&] { form.Label1_MouseMove(0, 0, 0, 0); }, 1, 1, 1, true},
        {[&] { form.Label1_GotFocus(); form.Label1_LostFocus(); }, 1, 1, 1, true},  // the pointer's still on it
    };
    int number = 0;
    for (const Step& step : steps) {
        step.event();
        EXPECT_EQ((std::vector<int>{label1.focusTaken, command1.focusTaken, label1.clicksPosted, label1.italic}),
                  (std::vector<int>{step.toLink, step.toButton, step.clicks, step.italic}))
            << "after step " << ++number;
    }
    EXPECT_TRUE(platform.log.empty());
}

TEST(WebSite, IsAnHttpAddressOfItsOwnHost) {
    EXPECT_EQ(WebSiteAddress.rfind(L"http://", 0), 0u);
    EXPECT_EQ(std::wstring(WebSiteAddress).substr(7, WebSiteHost.size()), WebSiteHost);
}

// ---- the frame and the fonts at each DPI ----

TEST(FrameLayout, IsSizedForTheWindowsOwnDpiAndCentredInItsWorkArea) {
    struct Row {
        unsigned dpi;
        FrameMargins margins;  // as Windows 10 gives them for the tool-window frame
        Pixels expected;       // in a 1920 x 1040 work area at (0, 0)
    };
    const Row rows[] = {
        {96, {3, 26, 3, 3}, {822, 462, 276, 115}},
        {120, {4, 31, 4, 4}, {787, 448, 346, 143}},  // 4050 and 1290 twips round up to 338 x 108
        {144, {5, 36, 5, 5}, {752, 435, 415, 170}},
        {192, {6, 46, 6, 6}, {684, 408, 552, 224}},
    };
    for (const Row& row : rows) {
        const Pixels frame = FramePlacement(row.dpi, row.margins, {0, 0, 1920, 1040});
        EXPECT_EQ(frame.left, row.expected.left) << row.dpi;
        EXPECT_EQ(frame.top, row.expected.top) << row.dpi;
        EXPECT_EQ(frame.width, row.expected.width) << row.dpi;
        EXPECT_EQ(frame.height, row.expected.height) << row.dpi;
        // The visible controls fit the client area at that DPI.
        for (const Twips& box : {Command1Box, Label1Box, Label2Box}) {
            const Pixels at = PixelsOf(box, row.dpi);
            EXPECT_LE(at.left + at.width, PixelsOf(ClientWidthTwips, row.dpi)) << row.dpi;
            EXPECT_LE(at.top + at.height, PixelsOf(ClientHeightTwips, row.dpi)) << row.dpi;
        }
    }
    // On a second monitor, centred in its own work area.
    const Pixels right = FramePlacement(144, {5, 36, 5, 5}, {1920, 40, 2560, 1400});
    EXPECT_EQ(right.left, 1920 + (2560 - 415) / 2);
    EXPECT_EQ(right.top, 40 + (1400 - 170) / 2);
    // Larger than the work area: the caption stays on screen.
    const Pixels cramped = FramePlacement(192, {6, 46, 6, 6}, {100, 50, 400, 200});
    EXPECT_EQ(cramped.left, 100);
    EXPECT_EQ(cramped.top, 50);
}

TEST(FrameLayout, ScalesTheSystemsFontByTheWindowsDpiOverTheSystemsDpi) {
    struct Row {
        int systemHeight;
        unsigned dpi, systemDpi;
        int expected;
    };
    const Row rows[] = {
        {-12, 96, 96, -12},   {-15, 120, 120, -15},  // Windows 7 and 8 at 125%: as it is
        {-18, 144, 144, -18}, {-12, 144, 96, -18},   // a 150% monitor on a 100% system
        {-18, 96, 144, -12},  {-16, 192, 120, -26},
    };
    for (const Row& row : rows)
        EXPECT_EQ(FontHeightFor(row.systemHeight, row.dpi, row.systemDpi), row.expected)
            << row.systemHeight << " at " << row.dpi << "/" << row.systemDpi;
}

// Round the text, a pixel clear at 96 DPI, within the label; the system's line as thick at any DPI.
TEST(FrameLayout, TheLinksFocusRectangleGoesRoundItsTextAtTheWindowsDpi) {
    const Pixels box = FocusRectAround({3, 2, 100, 20}, 134, 23, 144);
    EXPECT_EQ((std::vector<int>{box.left, box.top, box.width, box.height}), (std::vector<int>{1, 0, 104, 23}));
    for (auto [dpi, systemDpi, frames] : {std::tuple{96u, 96u, 1}, {120u, 96u, 1}, {144u, 96u, 2}, {96u, 144u, 1}})
        EXPECT_EQ(FocusFramesAt(dpi, systemDpi), frames) << dpi << "/" << systemDpi;
}

// ---- colour schemes ----

TEST(ColourScheme, TakesTheSystemsPairOnlyWhenWhiteWouldNotDo) {
    struct Row {
        bool highContrast;
        Rgb windowText;
        double contrastOnWhite;  // WCAG 2 ratio, to two places
        bool systemPair;
    };
    const Row rows[] = {
        {false, {0, 0, 0}, 21.00, false},        // the normal scheme: nothing changes
        {false, {0x76, 0x76, 0x76}, 4.54, false}, // the lightest grey that passes
        {false, {0x77, 0x77, 0x77}, 4.48, true},  // and the darkest that does not
        {false, {0, 0, 128}, 16.01, false},
        {false, {255, 255, 0}, 1.07, true},
        {false, {255, 255, 255}, 1.00, true},     // white text: a dark scheme
        {true, {0, 0, 0}, 21.00, true},           // high contrast, whatever its colours
    };
    for (const Row& row : rows) {
        const double ratio = ContrastRatio(row.windowText, {255, 255, 255});
        EXPECT_NEAR(ratio, row.contrastOnWhite, 0.005) << int(row.windowText.red);
        EXPECT_EQ(UsesSystemPair(row.highContrast, row.windowText), row.systemPair)
            << int(row.windowText.red) << " high contrast " << row.highContrast;
    }
    EXPECT_DOUBLE_EQ(ContrastRatio({0, 0, 0}, {255, 255, 255}), ContrastRatio({255, 255, 255}, {0, 0, 0}));
}

}  // namespace
}  // namespace tarnwick::testing
