// The web link label as a person uses it: it leans while the pointer is on
// it, straightens when the pointer reaches the window's own parts, opens the
// site through the shell once per click (from the keyboard and a screen
// reader too), and costs no GDI objects to hover.

#include <oleacc.h>
#include <winternl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "tests/e2e/Driver.h"

namespace tarnwick::e2e {
namespace {

const std::string SiteAddress = "http://tarn.example/";

// ---------------------------------------------------------------- places

// A control's rectangle in the window's client coordinates.
RECT RectInWindow(HWND window, HWND control) {
    RECT rect{};
    ::GetWindowRect(control, &rect);
    ::MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

POINT Middle(const RECT& r) { return {(r.left + r.right) / 2, (r.top + r.bottom) / 2}; }

enum class Place {
    Link,                    // Label1, where it lies over nothing
    LinkOverLogo,            // the strip where Label1 lies over the logo
    Surface,                 // the window's own ground
    Instructions,            // Label2, where nothing covers it
    Logo,                    // the logo, away from Label1
    Button,                  // Command1
    ButtonOverInstructions,  // Command1 where it lies over Label2
    Outside,                 // the desktop beside the window
};

const char* NameOf(Place place) {
    switch (place) {
        case Place::Link: return "link";
        case Place::LinkOverLogo: return "link over the logo";
        case Place::Surface: return "window surface";
        case Place::Instructions: return "instructions";
        case Place::Logo: return "logo";
        case Place::Button: return "button";
        case Place::ButtonOverInstructions: return "button over the instructions";
        case Place::Outside: return "outside the window";
    }
    return "?";
}

// Where to put the pointer for `place`, in the window's client coordinates,
// worked out from the controls so that it holds at any DPI.
POINT PointFor(const App& app, Place place) {
    HWND window = app.Window();
    const RECT link = RectInWindow(window, app.Label1());
    const RECT logo = app.Logo();
    const RECT text = RectInWindow(window, app.Label2());
    const RECT button = RectInWindow(window, app.Command1());
    RECT client{};
    ::GetClientRect(window, &client);
    switch (place) {
        case Place::Link: return {(std::max(link.left, logo.right) + link.right) / 2, (link.top + link.bottom) / 2};
        case Place::LinkOverLogo: {
            RECT both{};
            ::IntersectRect(&both, &link, &logo);
            return Middle(both);
        }
        case Place::Surface:  // right of the logo, under the button
            return {(button.left + button.right) / 2, (button.bottom + client.bottom) / 2};
        case Place::Instructions: return {(text.left + button.left) / 2, (text.top + button.top) / 2};
        case Place::Logo: return {(logo.left + logo.right) / 2, (logo.top + link.top) / 2};
        case Place::Button: return {(button.left + button.right) / 2, (std::max(button.top, text.bottom) + button.bottom) / 2};
        case Place::ButtonOverInstructions: return {(button.left + button.right) / 2, (button.top + text.bottom) / 2};
        case Place::Outside: {
            RECT frame{};
            ::GetWindowRect(window, &frame);
            POINT point{frame.left - 40, (frame.top + frame.bottom) / 2};
            ::ScreenToClient(window, &point);
            return point;
        }
    }
    return {};
}

// The window a person would be pointing at: nullptr for anything not the program's.
HWND ExpectedUnder(const App& app, Place place) {
    switch (place) {
        case Place::Link:
        case Place::LinkOverLogo: return app.Label1();
        case Place::Surface: return app.Window();
        case Place::Instructions: return app.Label2();
        case Place::Logo: return app.Window();
        case Place::Button:
        case Place::ButtonOverInstructions: return app.Command1();
        case Place::Outside: return nullptr;
    }
    return nullptr;
}

HWND UnderPoint(const App& app, POINT client) {
    ::ClientToScreen(app.Window(), &client);
    HWND under = ::WindowFromPoint(client);
    return ::GetAncestor(under, GA_ROOT) == app.Window() ? under : nullptr;
}

// Checks that `place` really is what the pointer will be over, then moves there.
void MoveTo(App& app, Place place) {
    const POINT point = PointFor(app, place);
    ASSERT_EQ(UnderPoint(app, point), ExpectedUnder(app, place))
        << NameOf(place) << " at " << point.x << "," << point.y << " is not where it should be";
    app.MovePointerTo(app.Window(), point.x, point.y);
}

void BringToFront(const App& app) {
    ::SetForegroundWindow(app.Window());
    ASSERT_TRUE(WaitUntil([&] { return ::GetForegroundWindow() == app.Window(); }))
        << "the window did not come to the front";
    ::Sleep(200);
}

// ---------------------------------------------------------------- the link's look

enum class Look { Upright, Italic, Neither };

const char* NameOf(Look look) {
    return look == Look::Upright ? "upright" : look == Look::Italic ? "italic" : "neither";
}

struct LinkLooks {
    Capture upright;
    Capture italic;
};

LinkLooks ReferenceLooks(const App& app) {
    RECT rect{};
    ::GetClientRect(app.Label1(), &rect);
    const std::wstring text = TextOf(app.Label1());
    LinkLooks looks{ReferenceLabel(text, {rect.right, rect.bottom}, false),
                    ReferenceLabel(text, {rect.right, rect.bottom}, true)};
    // The two must tell apart, or reading the look back proves nothing.
    EXPECT_GT(Differences(looks.upright, looks.italic), 0);
    return looks;
}

struct Reading {
    Look look;
    int fromUpright;
    int fromItalic;
};

Reading ReadOnce(const App& app, const LinkLooks& looks) {
    const Capture shown = CaptureClient(app.Label1());
    const int fromUpright = Differences(shown, looks.upright);
    const int fromItalic = Differences(shown, looks.italic);
    Look look = Look::Neither;
    if (fromUpright == 0 && fromItalic != 0) look = Look::Upright;
    if (fromItalic == 0 && fromUpright != 0) look = Look::Italic;
    return {look, fromUpright, fromItalic};
}

// The link's look once it has settled: a repaint can be caught half done,
// and a look that is about to change must have had the time to.
Reading SettledLook(const App& app, const LinkLooks& looks) {
    ::Sleep(250);
    Reading reading = ReadOnce(app, looks);
    WaitUntil(
        [&] {
            reading = ReadOnce(app, looks);
            return reading.look != Look::Neither;
        },
        2s);
    ::Sleep(150);
    const Reading again = ReadOnce(app, looks);
    return again.look == reading.look ? again : Reading{Look::Neither, again.fromUpright, again.fromItalic};
}

// ---------------------------------------------------------------- recorded addresses

std::wstring AddressesFile() { return RigFile(L"opened-addresses.txt"); }

std::vector<std::string> RecordedAddresses() {
    std::vector<std::string> lines;
    const std::string bytes = ReadBytes(AddressesFile()).value_or("");
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find('\n', start);
        if (end == std::string::npos) end = bytes.size();
        lines.push_back(bytes.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// The recorder runs on its own after the shell answers: wait for the lines
// expected, then a little more so that a late extra one shows too.
std::vector<std::string> AddressesOnceSettled(size_t expected) {
    WaitUntil([&] { return RecordedAddresses().size() >= expected; }, 6s);
    ::Sleep(expected ? 1500 : 3000);
    return RecordedAddresses();
}

class WebLinkFixture : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t rig[MAX_PATH] = {};
        ASSERT_TRUE(::GetEnvironmentVariableW(L"TARNWICK_RIG", rig, MAX_PATH))
            << "run under tests/rig/wine-rig.sh run: opened addresses are recorded by the rig";
        LayOutBrowser();
        ::DeleteFileW(AddressesFile().c_str());
        ASSERT_FALSE(IsFile(AddressesFile())) << "the recorded addresses could not be cleared";
    }
};

// ---------------------------------------------------------------- hover

struct HoverStep {
    Place place;
    Look expected;
};

using WebLinkHover = WebLinkFixture;

TEST_F(WebLinkHover, LeansOnlyWhileThePointerIsOnTheLinkAndStraightensOnTheWindowsOwnParts) {
    App app;
    ASSERT_TRUE(app.Window());
    const LinkLooks looks = ReferenceLooks(app);
    BringToFront(app);
    {
        const Reading start = SettledLook(app, looks);
        ASSERT_EQ(start.look, Look::Upright) << "before any move: " << start.fromUpright
                                             << " pixels off upright, " << start.fromItalic << " off italic";
    }

    const HoverStep steps[] = {
        {Place::Link, Look::Italic},
        {Place::Surface, Look::Upright},
        {Place::Link, Look::Italic},
        {Place::Instructions, Look::Upright},
        {Place::Link, Look::Italic},
        {Place::Logo, Look::Upright},
        {Place::LinkOverLogo, Look::Italic},  // the link lies on top of the logo
        {Place::Surface, Look::Upright},
        {Place::Link, Look::Italic},
        {Place::Button, Look::Italic},  // straight off the link onto the button
        {Place::ButtonOverInstructions, Look::Italic},
        {Place::Outside, Look::Italic},
        {Place::Link, Look::Italic},
        {Place::Outside, Look::Italic},  // straight off the link out of the window
        {Place::Surface, Look::Upright},
        {Place::Button, Look::Upright},  // the button does not lean the link either
        {Place::Outside, Look::Upright},
        {Place::Instructions, Look::Upright},
        {Place::LinkOverLogo, Look::Italic},
        {Place::Logo, Look::Upright},
    };
    int number = 0;
    for (const auto& step : steps) {
        ++number;
        SCOPED_TRACE(testing::Message() << "move " << number << " onto the " << NameOf(step.place));
        MoveTo(app, step.place);
        if (HasFatalFailure()) return;
        const Reading reading = SettledLook(app, looks);
        EXPECT_EQ(NameOf(reading.look), std::string(NameOf(step.expected)))
            << reading.fromUpright << " pixels off upright, " << reading.fromItalic << " off italic";
        if (reading.look != step.expected) {
            ::CreateDirectoryW((DriverFolder() + L"screenshots").c_str(), nullptr);
            SavePng(CaptureClient(app.Label1()),
                    DriverFolder() + L"screenshots\\link-move-" + std::to_wstring(number) + L".png");
        }
    }
    EXPECT_EQ(TextOf(app.Label1()), L"tarn.example");
    EXPECT_TRUE(app.Running());
    EXPECT_FALSE(app.AnyBox());
}

// ---------------------------------------------------------------- GDI objects

using NtQueryInformationProcessFn = NTSTATUS(NTAPI*)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);

// Wine keeps each process's GDI objects in a handle table that the PEB points
// at, laid out as on Windows: 24-byte entries, the type byte at offset 14,
// zero for a free entry. Counting live entries there is what
// GetGuiResources would answer, if Wine implemented it. A 32-bit process
// (as wide as this driver) has its pointer at 0x94; on 64-bit Windows it also
// has a 64-bit PEB, the page below, and Wine sets the pointer only there.
std::optional<int> LiveGdiHandles(HANDLE process) {
    constexpr size_t EntrySize = 24;
    constexpr size_t TypeOffset = 14;
    constexpr size_t MaxHandles = 0x4000;  // Wine's limit; the table is larger
    static const auto query = reinterpret_cast<NtQueryInformationProcessFn>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess")));
    if (!query) return std::nullopt;
    PROCESS_BASIC_INFORMATION basic{};
    if (query(process, ProcessBasicInformation, &basic, sizeof basic, nullptr) != 0) return std::nullopt;
    const char* peb = static_cast<const char*>(static_cast<void*>(basic.PebBaseAddress));
    SIZE_T got = 0;
    const auto pointerAt = [&](const char* at, SIZE_T size) {
        UINT64 value = 0;
        return ::ReadProcessMemory(process, at, &value, size, &got) ? value : 0;
    };
    UINT64 table = sizeof(void*) == 8 ? pointerAt(peb + 0xF8, 8) : pointerAt(peb + 0x94, 4);
    if (!table && sizeof(void*) == 4) table = pointerAt(peb - 0x1000 + 0xF8, 8);
    if (!table) return std::nullopt;
    std::vector<unsigned char> entries(MaxHandles * EntrySize);
    if (!::ReadProcessMemory(process, reinterpret_cast<const void*>(static_cast<ULONG_PTR>(table)), entries.data(),
                             entries.size(), &got))
        return std::nullopt;
    int live = 0;
    for (size_t i = 0; i < MaxHandles; ++i)
        if (entries[i * EntrySize + TypeOffset] != 0) ++live;
    return live;
}

struct GdiCount {
    DWORD guiResources;
    DWORD guiResourcesError;
    std::optional<int> tableEntries;
};

GdiCount CountGdi(HANDLE process) {
    ::SetLastError(0);
    const DWORD objects = ::GetGuiResources(process, GR_GDIOBJECTS);
    const DWORD error = ::GetLastError();
    return {objects, error, LiveGdiHandles(process)};
}

// A real pointer move, without the settling pause the driver's move makes.
void QuickMove(HWND window, POINT client) {
    ::ClientToScreen(window, &client);
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dx = ::MulDiv(client.x, 65535, ::GetSystemMetrics(SM_CXSCREEN) - 1);
    input.mi.dy = ::MulDiv(client.y, 65535, ::GetSystemMetrics(SM_CYSCREEN) - 1);
    input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    ::SendInput(1, &input, sizeof input);
    ::Sleep(6);
}

using WebLinkResources = WebLinkFixture;

TEST_F(WebLinkResources, HoveringTheLinkAThousandTimesCostsNoGdiObjects) {
    // The counter must see a new object, or an unchanged count proves nothing.
    {
        const GdiCount before = CountGdi(::GetCurrentProcess());
        HFONT font = ::CreateFontW(-11, 0, 0, 0, FW_NORMAL, TRUE, 0, 0, ANSI_CHARSET, 0, 0, 0, 0, L"Verdana");
        const GdiCount with = CountGdi(::GetCurrentProcess());
        ::DeleteObject(font);
        const GdiCount after = CountGdi(::GetCurrentProcess());
        ASSERT_TRUE(before.tableEntries && with.tableEntries && after.tableEntries)
            << "the GDI handle table cannot be read";
        EXPECT_EQ(*with.tableEntries, *before.tableEntries + 1);
        EXPECT_EQ(*after.tableEntries, *before.tableEntries);
        std::cout << "[ info     ] GetGuiResources in the driver: " << before.guiResources << " before, "
                  << with.guiResources << " with a new font (error " << with.guiResourcesError << ")\n";
    }

    App app;
    ASSERT_TRUE(app.Window());
    const LinkLooks looks = ReferenceLooks(app);
    HANDLE process = ::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, app.ProcessId());
    ASSERT_TRUE(process) << "error " << ::GetLastError();
    BringToFront(app);

    HWND window = app.Window();
    const POINT link = PointFor(app, Place::Link);
    const POINT surface = PointFor(app, Place::Surface);
    const POINT text = PointFor(app, Place::Instructions);
    ASSERT_EQ(UnderPoint(app, link), app.Label1());
    ASSERT_EQ(UnderPoint(app, {link.x - 2, link.y + 2}), app.Label1());
    ASSERT_EQ(UnderPoint(app, {link.x + 2, link.y - 2}), app.Label1());
    ASSERT_EQ(UnderPoint(app, surface), app.Window());
    ASSERT_EQ(UnderPoint(app, text), app.Label2());

    // Whatever a first hover sets up once (caches, the italic font realised)
    // is not a leak: count from after it.
    for (int i = 0; i < 3; ++i) {
        MoveTo(app, Place::Link);
        ASSERT_EQ(SettledLook(app, looks).look, Look::Italic);
        MoveTo(app, Place::Surface);
        ASSERT_EQ(SettledLook(app, looks).look, Look::Upright);
    }
    const GdiCount before = CountGdi(process);

    // Three small moves on the link, then off it onto the surface or the
    // instructions: 1000 moves, 500 changes of font.
    int moves = 0;
    for (int round = 0; round < 250; ++round) {
        QuickMove(window, link);
        QuickMove(window, {link.x - 2, link.y + 2});
        QuickMove(window, {link.x + 2, link.y - 2});
        if (round % 50 == 25) {
            // Now and then make sure the moves are really reaching the link.
            EXPECT_EQ(NameOf(SettledLook(app, looks).look), std::string("italic")) << "round " << round;
        }
        QuickMove(window, round % 2 ? surface : text);
        if (round % 50 == 49) {
            EXPECT_EQ(NameOf(SettledLook(app, looks).look), std::string("upright")) << "round " << round;
        }
        moves += 4;
    }
    EXPECT_EQ(moves, 1000);
    ::Sleep(500);
    const GdiCount after = CountGdi(process);
    std::cout << "[ info     ] tarnwick GDI objects: GetGuiResources " << before.guiResources << " -> "
              << after.guiResources << ", handle table " << before.tableEntries.value_or(-1) << " -> "
              << after.tableEntries.value_or(-1) << "\n";

    ASSERT_TRUE(before.tableEntries && after.tableEntries) << "the program's GDI handle table cannot be read";
    EXPECT_GT(*before.tableEntries, 0);
    EXPECT_EQ(*after.tableEntries, *before.tableEntries);
    if (before.guiResources != 0 || after.guiResources != 0) {
        EXPECT_EQ(after.guiResources, before.guiResources);
    }
    EXPECT_TRUE(app.Running());
    ::CloseHandle(process);
}

// ---------------------------------------------------------------- clicks

struct ClickCase {
    const char* name;
    Place place;
    int times;      // separate clicks, further apart than a double-click
    int clicks;     // presses in each: 2 is a double-click
    size_t opened;  // addresses the shell should have been asked to open
};

void PrintTo(const ClickCase& c, std::ostream* out) { *out << c.name; }

class WebLinkClick : public WebLinkFixture, public ::testing::WithParamInterface<ClickCase> {};

TEST_P(WebLinkClick, OpensTheSiteOncePerClickAndChangesNothingElse) {
    App app;
    ASSERT_TRUE(app.Window());
    BringToFront(app);
    const std::wstring title = TextOf(app.Window());
    const std::wstring caption = TextOf(app.Command1());
    const std::wstring instructions = TextOf(app.Label2());
    const std::wstring link = TextOf(app.Label1());
    ASSERT_EQ(link, L"tarn.example");

    const POINT point = PointFor(app, GetParam().place);
    ASSERT_EQ(UnderPoint(app, point), ExpectedUnder(app, GetParam().place)) << NameOf(GetParam().place);
    for (int i = 0; i < GetParam().times; ++i) {
        if (i) ::Sleep(::GetDoubleClickTime() + 300);
        app.ClickPointerAt(app.Window(), point.x, point.y, GetParam().clicks);
    }

    const auto opened = AddressesOnceSettled(GetParam().opened);
    EXPECT_EQ(opened, std::vector<std::string>(GetParam().opened, SiteAddress));
    EXPECT_TRUE(app.Running());
    EXPECT_FALSE(app.AnyBox());
    EXPECT_EQ(TextOf(app.Window()), title);
    EXPECT_EQ(TextOf(app.Command1()), caption);
    EXPECT_EQ(TextOf(app.Label2()), instructions);
    EXPECT_EQ(TextOf(app.Label1()), link);
}

INSTANTIATE_TEST_SUITE_P(
    WebLink, WebLinkClick,
    ::testing::Values(ClickCase{"OneClick", Place::Link, 1, 1, 1},
                      ClickCase{"ThreeSeparateClicks", Place::Link, 3, 1, 3},
                      ClickCase{"DoubleClick", Place::Link, 1, 2, 1},
                      ClickCase{"ClickWhereTheLinkLiesOverTheLogo", Place::LinkOverLogo, 1, 1, 1},
                      ClickCase{"ClickOnTheLogo", Place::Logo, 1, 1, 0},
                      ClickCase{"ClickOnTheSurface", Place::Surface, 1, 1, 0},
                      ClickCase{"ClickOnTheInstructions", Place::Instructions, 1, 1, 0}),
    [](const auto& info) { return std::string(info.param.name); });

using WebLinkNoOpen = WebLinkFixture;

// Clicks beside the link open nothing; one on the link afterwards shows the
// recorder was listening all along.
TEST_F(WebLinkNoOpen, ClicksOnTheLogoAndTheSurfaceOpenNothingWhileTheLinkStillDoes) {
    App app;
    ASSERT_TRUE(app.Window());
    BringToFront(app);
    for (Place place : {Place::Logo, Place::Surface, Place::Logo, Place::Surface}) {
        const POINT point = PointFor(app, place);
        ASSERT_EQ(UnderPoint(app, point), ExpectedUnder(app, place)) << NameOf(place);
        app.ClickPointerAt(app.Window(), point.x, point.y, 1);
        ::Sleep(::GetDoubleClickTime() + 300);
    }
    EXPECT_EQ(AddressesOnceSettled(0), std::vector<std::string>{});

    const POINT link = PointFor(app, Place::Link);
    app.ClickPointerAt(app.Window(), link.x, link.y, 1);
    EXPECT_EQ(AddressesOnceSettled(1), std::vector<std::string>{SiteAddress});
    EXPECT_TRUE(app.Running());
    EXPECT_FALSE(app.AnyBox());
}

// ---------------------------------------------------------------- keyboard

// A control's picture once two looks a moment apart agree.
Capture Settled(HWND control) {
    Capture last;
    WaitUntil([&] {
        const Capture now = CaptureClient(control);
        return std::exchange(last, now) == now || (::Sleep(150), false);
    });
    return last;
}

// `with` differs from `without` only on the outline of one rectangle, and
// all of the label's ink lies within it.
void ExpectOnlyAFocusFrame(const Capture& without, const Capture& with) {
    ASSERT_EQ(with.pixels.size(), without.pixels.size());
    const LONG width = with.width, size = static_cast<LONG>(with.pixels.size());
    RECT frame{width, with.height, -1, -1};
    int changed = 0, stray = 0;
    for (LONG i = 0; i < size; ++i)
        if (with.pixels[i] != without.pixels[i])
            ++changed, frame = {std::min(frame.left, i % width), std::min(frame.top, i / width),
                                std::max(frame.right, i % width), std::max(frame.bottom, i / width)};
    const UINT32 ground = Contrast(without).ground;
    for (LONG i = 0, x = 0, y = 0; i < size; ++i, x = i % width, y = i / width) {
        const bool inside = x > frame.left && x < frame.right && y > frame.top && y < frame.bottom;
        const bool outside = x < frame.left || x > frame.right || y < frame.top || y > frame.bottom;
        stray += (with.pixels[i] != without.pixels[i] && inside) || (without.pixels[i] != ground && outside);
    }
    EXPECT_TRUE(changed >= 40 && frame.right < with.width - 1) << "no focus rectangle round the text";
    EXPECT_EQ(stray, 0) << "changes inside the frame, or ink outside it";
}

using WebLinkKeys = WebLinkFixture;

// Tab and Shift+Tab go between the button and the link, which shows its
// focus; Enter (held too) and Space there open the site once each; the focus
// comes back after another window; Enter on the button does nothing.
TEST_F(WebLinkKeys, TabReachesTheLinkWhichShowsItsFocusAndOpensTheSiteOnEnterOrSpace) {
    App app;
    ASSERT_TRUE(app.Window());
    BringToFront(app);
    EXPECT_EQ(app.Focus(), app.Command1());
    // Hovered first, so the link leans with the focus and without.
    MoveTo(app, Place::Link);
    const Capture unfocused = Settled(app.Label1());
    for (auto [modifier, stop] : {std::pair{WORD(0), app.Label1()}, {WORD(0), app.Command1()},
                                  {WORD(VK_SHIFT), app.Label1()}, {WORD(VK_SHIFT), app.Command1()},
                                  {WORD(0), app.Label1()}}) {
        app.PressKey(VK_TAB, 1, modifier);
        ASSERT_TRUE(WaitUntil([&] { return app.Focus() == stop; })) << "Tab with " << modifier;
        if (stop == app.Command1()) {
            EXPECT_EQ(Settled(app.Label1()), unfocused) << "the focus rectangle stayed";
        }
    }
    ExpectOnlyAFocusFrame(unfocused, Settled(app.Label1()));
    const bool dark = ContrastRatio(::GetSysColor(COLOR_WINDOWTEXT), 0xFFFFFF) < 4.5;
    app.Screenshot(dark ? L"link-focused-dark-scheme" : L"link-focused");

    app.PressKey(VK_RETURN, 6);
    EXPECT_EQ(AddressesOnceSettled(1), std::vector<std::string>{SiteAddress});
    app.PressKey(VK_SPACE);
    EXPECT_EQ(AddressesOnceSettled(2), std::vector<std::string>(2, SiteAddress));

    HWND other = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP | WS_VISIBLE, 0, 0, 60, 60, nullptr, nullptr,
                                   nullptr, nullptr);
    ::SetForegroundWindow(other);
    EXPECT_TRUE(WaitUntil([&] { return app.Focus() == nullptr; })) << "the window was not left";
    BringToFront(app);
    EXPECT_EQ(app.Focus(), app.Label1()) << "after another window";
    ::DestroyWindow(other);

    app.PressKey(VK_TAB);
    ASSERT_EQ(app.Focus(), app.Command1());
    app.PressKey(VK_RETURN);
    EXPECT_EQ(AddressesOnceSettled(2).size(), 2u);
    EXPECT_FALSE(app.AnyBox());
    EXPECT_FALSE(IsFile(PrefsFile) || IsFolder(MarkerFolder));
    EXPECT_EQ(::GetWindowLongPtrW(app.Command1(), GWL_STYLE) & BS_TYPEMASK, BS_PUSHBUTTON);
    app.PressKey(VK_F4, 1, VK_MENU);
    EXPECT_EQ(app.WaitForExit(), 0u) << "Alt+F4";
}

// ---------------------------------------------------------------- screen readers

using WebLinkAccessibility = WebLinkFixture;

// Asked from another process, as a screen reader asks, and only then loaded:
// the link says what it is, where, and whether it has the focus, and follows
// the address on its default action; the payload box is invisible; once the
// window is gone, every question fails.
TEST_F(WebLinkAccessibility, TellsAScreenReaderItIsALinkToTheSiteAndFollowsIt) {
    App app;
    ASSERT_TRUE(app.Window());
    const auto loaded = [&] { return std::ranges::count(ModulesOf(app.ProcessId()), std::wstring(L"oleacc.dll")); };
    EXPECT_FALSE(loaded());
    ASSERT_TRUE(SUCCEEDED(::CoInitialize(nullptr)));
    IAccessible *link = nullptr, *box = nullptr;
    for (auto [control, object] : {std::pair{app.Label1(), &link}, {app.Text1(), &box}})
        ASSERT_EQ(::AccessibleObjectFromWindow(control, OBJID_CLIENT, __uuidof(IAccessible),
                                               reinterpret_cast<void**>(object)), S_OK);
    EXPECT_TRUE(loaded());
    VARIANT self{};  // CHILDID_SELF
    self.vt = VT_I4;
    const auto text = [&](auto get) {
        BSTR value = nullptr;
        const std::wstring got = SUCCEEDED((link->*get)(self, &value)) && value ? value : L"<none>";
        ::SysFreeString(value);
        return got;
    };
    const auto number = [&](IAccessible* object, auto get) {
        VARIANT value{};
        return SUCCEEDED((object->*get)(self, &value)) && value.vt == VT_I4 ? value.lVal : -1;
    };
    EXPECT_EQ(number(link, &IAccessible::get_accRole), ROLE_SYSTEM_LINK);
    EXPECT_EQ(text(&IAccessible::get_accName), L"tarn.example");
    EXPECT_EQ(text(&IAccessible::get_accValue), L"http://tarn.example/");
    EXPECT_EQ(text(&IAccessible::get_accDefaultAction), L"Jump");
    const LONG linked = STATE_SYSTEM_FOCUSABLE | STATE_SYSTEM_LINKED, states = linked | STATE_SYSTEM_FOCUSED;
    EXPECT_EQ(number(link, &IAccessible::get_accState) & (states | STATE_SYSTEM_INVISIBLE), linked);
    EXPECT_EQ(number(box, &IAccessible::get_accState) & STATE_SYSTEM_INVISIBLE, STATE_SYSTEM_INVISIBLE);
    RECT shown{}, told{};
    ::GetWindowRect(app.Label1(), &shown);
    EXPECT_EQ(link->accLocation(&told.left, &told.top, &told.right, &told.bottom, self), S_OK);
    EXPECT_TRUE(told.left == shown.left && told.top == shown.top && told.left + told.right == shown.right &&
                told.top + told.bottom == shown.bottom);

    BringToFront(app);
    app.PressKey(VK_TAB);
    EXPECT_EQ(number(link, &IAccessible::get_accState) & states, states);
    EXPECT_EQ(link->accDoDefaultAction(self), S_OK);
    EXPECT_EQ(AddressesOnceSettled(1), std::vector<std::string>{SiteAddress});
    app.Close();
    EXPECT_EQ(app.WaitForExit(), 0u);
    EXPECT_EQ(number(link, &IAccessible::get_accRole), -1);
    link->Release();
    box->Release();
    ::CoUninitialize();
}

}  // namespace
}  // namespace tarnwick::e2e
