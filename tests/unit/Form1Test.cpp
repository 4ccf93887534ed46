#include "tests/unit/Bench.h"

namespace tarnwick::testing {
namespace {

class FormLoad : public Bench {};

TEST_F(FormLoad, ShowsThePatchOfferWhenThereIsNoMarker) {
    InstallBrowser();
    form.Form_Load();
    EXPECT_EQ(command1.text, L"Patch");
    EXPECT_EQ(label2.text, PatchInstructions);
    EXPECT_EQ(platform.log, (std::vector<std::string>{"dir? C:\\Program Files\\Mozilla Firefox\\i386"}));
}

TEST_F(FormLoad, TheMarkerAloneDecidesEvenWithoutTheBrowserFiles) {
    platform.AddFolder(Marker);  // no default folder contents, no user.js
    form.Form_Load();
    EXPECT_EQ(command1.text, L"Undo Patch");
    EXPECT_EQ(label2.text, UndoInstructions);
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

TEST_F(WebLink, EachClickOpensTheSiteOnceWithTheWindowAsOwner) {
    form.Label1_MouseMove(0, 0, 0, 0);
    form.Label1_Click();
    form.Label1_Click();
    EXPECT_EQ(platform.log, (std::vector<std::string>{
                                "open Open http://tarnwick.example/ owner=4660",
                                "open Open http://tarnwick.example/ owner=4660"}));
    EXPECT_TRUE(label1.italic);
    EXPECT_EQ(command1.textChanges, 0);
    EXPECT_TRUE(form.browserFolder().empty());
}

TEST(WebSite, IsAnHttpAddressOfItsOwnHost) {
    EXPECT_EQ(WebSiteAddress.rfind(L"http://", 0), 0u);
    EXPECT_EQ(std::wstring(WebSiteAddress).substr(7, WebSiteHost.size()), WebSiteHost);
}

}  // namespace
}  // namespace tarnwick::testing
