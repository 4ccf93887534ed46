// The main window as a person sees it: frame, layout, texts, fonts, the
// install state it reads at start-up, and closing it.

#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>

#include "tests/e2e/Driver.h"

namespace tarnwick::e2e {
namespace {

const std::wstring Payload(PayloadFile.begin(), PayloadFile.end() - 2);
const std::wstring PatchText =
    L"Simply Click The Patch Button and you should have faster browsing in no time!";
const std::wstring UndoText =
    L"Simply Click The Undo Patch Button and this tweak will be uninstalled.";

struct Layout {
    UINT dpi;
    SIZE client;
    RECT command1, text1, label2, label1, image1;  // left, top, right, bottom
};

// Pixel positions of each control at the DPIs the rig runs.
const Layout Layouts[] = {
    {96, {270, 86}, {176, 56, 265, 81}, {8, 104, 353, 243}, {96, 8, 265, 65}, {80, 64, 169, 81},
     {0, 0, 88, 88}},
    {144, {405, 129}, {264, 84, 398, 122}, {12, 156, 530, 365}, {144, 12, 398, 98},
     {120, 96, 254, 122}, {0, 0, 132, 132}},
};

const Layout& ExpectedLayout() {
    for (const auto& layout : Layouts)
        if (layout.dpi == ScreenDpi()) return layout;
    ADD_FAILURE() << "no layout for " << ScreenDpi() << " DPI";
    return Layouts[0];
}

std::wstring DpiName() { return std::to_wstring(ScreenDpi()) + L"dpi"; }

class Window : public ::testing::Test {
protected:
    void SetUp() override {
        LayOutBrowser();
        wchar_t expected[16] = {};
        if (::GetEnvironmentVariableW(L"TARNWICK_EXPECT_DPI", expected, 16)) {
            ASSERT_EQ(ScreenDpi(), static_cast<UINT>(std::stoul(expected)))
                << "the rig did not set the prefix's DPI";
        }
    }
};

TEST_F(Window, IsAFixedToolWindowOfTheTabledSizeCentredOnTheScreen) {
    App app;
    ASSERT_TRUE(app.Window());
    HWND window = app.Window();
    EXPECT_EQ(TextOf(window), L"Tarnwick");
    const LONG_PTR style = ::GetWindowLongPtrW(window, GWL_STYLE);
    const LONG_PTR exStyle = ::GetWindowLongPtrW(window, GWL_EXSTYLE);
    EXPECT_EQ(style & WS_CAPTION, WS_CAPTION);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_FALSE(style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX)) << std::hex << style;
    EXPECT_TRUE(exStyle & WS_EX_TOOLWINDOW);
    EXPECT_EQ(::GetMenu(window), nullptr);

    RECT client{};
    ::GetClientRect(window, &client);
    EXPECT_EQ(client.right, ExpectedLayout().client.cx);
    EXPECT_EQ(client.bottom, ExpectedLayout().client.cy);

    // Centred in the work area of the monitor it is on.
    RECT frame{};
    ::GetWindowRect(window, &frame);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    ASSERT_TRUE(::GetMonitorInfoW(::MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor));
    const RECT& work = monitor.rcWork;
    EXPECT_NEAR((frame.left + frame.right) / 2, (work.left + work.right) / 2, 1);
    EXPECT_NEAR((frame.top + frame.bottom) / 2, (work.top + work.bottom) / 2, 1);

    // The ground is white where no control lies (right of the logo, under the label).
    const Capture ground = CaptureClient(window);
    const int x = ExpectedLayout().image1.right + 2;
    const int y = ExpectedLayout().client.cy - 2;
    EXPECT_EQ(ground.pixels[static_cast<size_t>(y) * ground.width + x], 0xFFFFFFu);
    app.Screenshot(L"window-patch-" + DpiName());
}

TEST_F(Window, HoldsItsControlsAtTheirPlacesWithTheirTexts) {
    App app;
    ASSERT_TRUE(app.Window());
    const Layout& layout = ExpectedLayout();
    struct Expected {
        HWND hwnd;
        const wchar_t* className;
        RECT rect;
    };
    const Expected controls[] = {
        {app.Command1(), L"Button", layout.command1}, {app.Text1(), L"Edit", layout.text1},
        {app.Label2(), L"Static", layout.label2},     {app.Label1(), L"Static", layout.label1},
    };
    const auto children = Children(app.Window());
    ASSERT_EQ(children.size(), 4u) << testing::PrintToString(Describe(children));  // the logo is drawn
    for (const auto& expected : controls) {
        ASSERT_TRUE(expected.hwnd) << testing::PrintToString(Describe(children));
        EXPECT_EQ(ClassOf(expected.hwnd), expected.className);
        RECT rect{};
        ::GetWindowRect(expected.hwnd, &rect);
        ::MapWindowPoints(nullptr, app.Window(), reinterpret_cast<POINT*>(&rect), 2);
        EXPECT_EQ(rect.left, expected.rect.left) << testing::PrintToString(ClassOf(expected.hwnd));
        EXPECT_EQ(rect.top, expected.rect.top) << testing::PrintToString(ClassOf(expected.hwnd));
        EXPECT_EQ(rect.right, expected.rect.right) << testing::PrintToString(ClassOf(expected.hwnd));
        EXPECT_EQ(rect.bottom, expected.rect.bottom) << testing::PrintToString(ClassOf(expected.hwnd));
        // The payload box is not shown at all, so screen readers pass it by.
        EXPECT_EQ(::IsWindowVisible(expected.hwnd), expected.hwnd != app.Text1());
        EXPECT_TRUE(::IsWindowEnabled(expected.hwnd));
    }
    EXPECT_EQ(TextOf(app.Command1()), L"Patch");
    EXPECT_EQ(TextOf(app.Label2()), PatchText);
    EXPECT_EQ(TextOf(app.Label1()), L"tarn.example");

    const LONG_PTR button = ::GetWindowLongPtrW(app.Command1(), GWL_STYLE);
    EXPECT_EQ(button & BS_TYPEMASK, BS_PUSHBUTTON) << "neither default nor owner-drawn";
    EXPECT_TRUE(button & WS_TABSTOP);
    for (HWND label : {app.Label1(), app.Label2()})  // the link is the other stop
        EXPECT_EQ((::GetWindowLongPtrW(label, GWL_STYLE) & WS_TABSTOP) != 0, label == app.Label1());

    // The link label lies above the logo where they overlap, the button
    // above the instruction text.
    POINT overlap{layout.label1.left + 2, layout.label1.top + 4};
    EXPECT_EQ(::ChildWindowFromPointEx(app.Window(), overlap, CWP_SKIPINVISIBLE), app.Label1());
    POINT shared{layout.command1.left + 4, layout.command1.top + 2};
    EXPECT_EQ(::ChildWindowFromPointEx(app.Window(), shared, CWP_SKIPINVISIBLE), app.Command1());
}

TEST_F(Window, KeepsThePayloadOutOfSightAndOutOfReachOfTheKeyboard) {
    App app;
    ASSERT_TRUE(app.Window());
    HWND text1 = app.Text1();
    EXPECT_EQ(TextOf(text1), Payload);
    const LONG_PTR style = ::GetWindowLongPtrW(text1, GWL_STYLE);
    EXPECT_TRUE(style & ES_MULTILINE);
    EXPECT_TRUE(style & ES_READONLY);
    EXPECT_FALSE(style & (WS_TABSTOP | WS_VSCROLL | WS_HSCROLL));

    RECT client{}, box{};
    ::GetClientRect(app.Window(), &client);
    ::GetWindowRect(text1, &box);
    ::MapWindowPoints(nullptr, app.Window(), reinterpret_cast<POINT*>(&box), 2);
    RECT seen{};
    EXPECT_FALSE(::IntersectRect(&seen, &client, &box)) << "part of the text box is visible";

    // Focus starts on the button; letters and arrows typed at the window
    // move it nowhere, least of all to the box.
    ::SetForegroundWindow(app.Window());
    ASSERT_TRUE(WaitUntil([&] { return ::GetForegroundWindow() == app.Window(); }));
    EXPECT_EQ(app.Focus(), app.Command1());
    for (WORD key : {WORD('A'), WORD(VK_DOWN), WORD('C'), WORD(VK_RIGHT), WORD(VK_UP), WORD(VK_LEFT),
                     WORD(VK_BACK), WORD(VK_DELETE), WORD('P')})
        app.PressKey(key);
    // Typing straight at the box is refused too.
    ::SendMessageW(text1, WM_CHAR, L'x', 0);
    EXPECT_EQ(TextOf(text1), Payload);
    EXPECT_EQ(app.Focus(), app.Command1());
    EXPECT_TRUE(app.Running());
    EXPECT_FALSE(app.AnyBox());
}

// Terminal servers run a program so marked without their compatibility shims.
TEST(ProgramFile, IsMarkedTerminalServerAware) {
    HMODULE image = ::LoadLibraryExW((DriverFolder() + L"tarnwick.exe").c_str(), nullptr,
                                     LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_TRUE(image);
    const auto* base = reinterpret_cast<const BYTE*>(reinterpret_cast<ULONG_PTR>(image) & ~ULONG_PTR(3));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    EXPECT_TRUE(nt->OptionalHeader.DllCharacteristics & IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE);
    EXPECT_EQ(nt->OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
    ::FreeLibrary(image);
}

struct MarkerCase {
    const char* name;
    enum { Absent, Folder, File, FolderWithoutBrowserFiles } marker;
    const wchar_t* caption;
    const std::wstring* instructions;
};

class InstallState : public Window, public ::testing::WithParamInterface<MarkerCase> {};

TEST_P(InstallState, ButtonAndInstructionsFollowTheMarker) {
    switch (GetParam().marker) {
        case MarkerCase::Absent:
            break;
        case MarkerCase::Folder:
            MakeFolders(MarkerFolder);
            break;
        case MarkerCase::File:
            WriteBytes(MarkerFolder, "");
            break;
        case MarkerCase::FolderWithoutBrowserFiles:
            RemoveBrowser();
            MakeFolders(MarkerFolder);
            break;
    }
    App app;
    ASSERT_TRUE(app.Window());
    EXPECT_EQ(TextOf(app.Command1()), GetParam().caption);
    EXPECT_EQ(TextOf(app.Label2()), *GetParam().instructions);
    const std::string name = GetParam().name;
    app.Screenshot(L"window-" + std::wstring(name.begin(), name.end()) + L"-" + DpiName());
}

INSTANTIATE_TEST_SUITE_P(
    Marker, InstallState,
    ::testing::Values(MarkerCase{"MarkerAbsent", MarkerCase::Absent, L"Patch", &PatchText},
                      MarkerCase{"MarkerPresent", MarkerCase::Folder, L"Undo Patch", &UndoText},
                      MarkerCase{"MarkerIsAFile", MarkerCase::File, L"Patch", &PatchText},
                      MarkerCase{"MarkerWithoutBrowserFiles", MarkerCase::FolderWithoutBrowserFiles,
                                 L"Undo Patch", &UndoText}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Window, ClosingEndsTheProgramWithCodeZeroAndChangesNothing) {
    MakeFolders(MarkerFolder);
    WriteBytes(PrefsFile, "user_pref(\"kept\", 1);\r\n");
    const auto before = Snapshot(DefaultFolder);
    App app;
    ASSERT_TRUE(app.Window());
    app.Close();
    EXPECT_EQ(app.WaitForExit(), 0u);
    EXPECT_EQ(Snapshot(DefaultFolder), before);
    EXPECT_TRUE(Snapshot(L"C:\\tarnwick-cwd").empty());
}

TEST_F(Window, LabelsAreInUprightVerdanaOnWhite) {
    App app;
    ASSERT_TRUE(app.Window());
    for (HWND label : {app.Label1(), app.Label2()}) {
        RECT rect{};
        ::GetClientRect(label, &rect);
        const Capture shown = CaptureClient(label);
        const RECT covered = CoveredBy(label, app.Command1());
        const std::wstring text = TextOf(label);
        const Capture upright = ReferenceLabel(text, {rect.right, rect.bottom}, false);
        EXPECT_EQ(Differences(shown, upright, covered), 0) << testing::PrintToString(text);
        if (Differences(shown, upright, covered) != 0) {
            SavePng(shown, DriverFolder() + L"screenshots\\label-shown.png");
            SavePng(upright, DriverFolder() + L"screenshots\\label-expected.png");
        }
        EXPECT_GT(Differences(shown, ReferenceLabel(text, {rect.right, rect.bottom}, true), covered), 0);
    }
}

// Measured with the label's own fonts: the site name fits whole, upright
// and leaning (an italic last letter may reach past its advance).
TEST_F(Window, TheSiteNameFitsItsLabelUprightAndInItalic) {
    App app;
    ASSERT_TRUE(app.Window());
    RECT label{};
    ::GetClientRect(app.Label1(), &label);
    const std::wstring text = TextOf(app.Label1());
    ASSERT_FALSE(text.empty());
    HDC dc = ::GetDC(nullptr);
    for (bool italic : {false, true}) {
        HFONT font = MakeLabelFont(italic);
        HGDIOBJ old = ::SelectObject(dc, font);
        SIZE extent{};
        ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
        ABC last{};
        ::GetCharABCWidthsW(dc, text.back(), text.back(), &last);
        const int drawn = extent.cx + std::max(0, -last.abcC);
        std::cout << "[ measure  ] " << ScreenDpi() << " DPI, " << (italic ? "italic" : "upright")
                  << ": text " << drawn << " px, label " << label.right << " px\n";
        EXPECT_LE(drawn, label.right) << (italic ? "italic" : "upright");
        ::SelectObject(dc, old);
        ::DeleteObject(font);
    }
    ::ReleaseDC(nullptr, dc);
}

// ---- colour schemes: readable in the scheme the prefix has ----

UINT32 Rgb(COLORREF colour) {
    return (GetRValue(colour) << 16) | (GetGValue(colour) << 8) | GetBValue(colour);
}

// White ground unless the system's window text would be hard to read on it.
UINT32 ExpectedGround() {
    const UINT32 text = Rgb(::GetSysColor(COLOR_WINDOWTEXT));
    return ContrastRatio(text, 0xFFFFFF) < 4.5 ? Rgb(::GetSysColor(COLOR_WINDOW)) : 0xFFFFFFu;
}

void ExpectReadableLabels(App& app, const char* when) {
    for (HWND label : {app.Label1(), app.Label2()}) {
        const InkOnGround seen = Contrast(CaptureClient(label), CoveredBy(label, app.Command1()));
        std::cout << "[ contrast ] " << when << ", " << testing::PrintToString(TextOf(label).substr(0, 20))
                  << ": ground " << std::hex << seen.ground << std::dec << ", ink " << seen.ratio << ":1\n";
        EXPECT_GE(seen.ratio, 4.5) << when;
        EXPECT_EQ(seen.ground, ExpectedGround()) << when;
    }
    const Capture window = CaptureClient(app.Window());
    const size_t surface = static_cast<size_t>(window.height - 2) * window.width + window.width / 2;
    EXPECT_EQ(window.pixels[surface], ExpectedGround()) << "the window's ground, " << when;
}

TEST(Colours, LabelsAreReadableInkOnTheirGround) {
    LayOutBrowser();
    App app;
    ASSERT_TRUE(app.Window());
    const bool dark = ContrastRatio(Rgb(::GetSysColor(COLOR_WINDOWTEXT)), 0xFFFFFF) < 4.5;
    ExpectReadableLabels(app, dark ? "dark scheme" : "normal scheme");
    app.Screenshot(dark ? L"window-dark-scheme" : L"window-normal-scheme");
}

// Pixel for pixel as the window of the program before it was drawn with
// fewer windows, frame included: that program's pictures, for each DPI and
// scheme the rig runs, are in tests/e2e/reference.
TEST_F(Window, LooksAsItDidPixelForPixel) {
    App app;
    ASSERT_TRUE(app.Window());
    const std::wstring name = (ExpectedGround() == 0xFFFFFFu ? L"window-" : L"window-dark-") + DpiName();
    ::Sleep(200);
    RECT frame{};
    ::GetWindowRect(app.Window(), &frame);
    const int differing =
        Differences(CaptureScreen(frame), LoadBitmapFile(DriverFolder() + L"reference\\" + name + L".bmp"));
    EXPECT_EQ(differing, 0) << testing::PrintToString(name) << " (-1: another size); as shown: screenshots\\"
                            << name << "-now.png";
    if (differing) app.Screenshot(name + L"-now");
}

}  // namespace
}  // namespace tarnwick::e2e
