#include "app/Form1Window.h"

#include <commctrl.h>
#include <windowsx.h>

#include <iterator>
#include <utility>
#include <vector>

#include "app/Colours.h"
#include "app/Layout.h"
#include "app/Resources.h"
#include "app/StartupStages.h"
#include "platform/win32/SystemLibraries.h"
#include "patch/Payload.h"

namespace tarnwick {

namespace {

constexpr wchar_t WindowClass[] = L"TarnwickForm1";
constexpr int Command1Id = 101;
constexpr int Text1Id = 102;
constexpr int Label2Id = 103;
constexpr int Label1Id = 104;

// Windows 10 1703 on asks for the frame's size at a new DPI with this.
constexpr UINT WmGetDpiScaledSize = 0x02E4;

constexpr DWORD FrameStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
constexpr DWORD FrameExStyle = WS_EX_TOOLWINDOW;

// Functions newer than the oldest Windows this runs on, looked up once.
template <typename Function>
Function User32Function(const char* name) {
    return reinterpret_cast<Function>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), name)));
}

// The DPI the system's metrics are given at: the screen's, for a program
// that is aware of each monitor's DPI. Asked of the system where it can
// answer (Windows 10 on), else read from a screen DC.
UINT SystemDpi() noexcept {
    using GetDpiForSystemFn = UINT(WINAPI*)();
    static const auto getDpiForSystem = User32Function<GetDpiForSystemFn>("GetDpiForSystem");
    if (getDpiForSystem) {
        if (UINT dpi = getDpiForSystem()) return dpi;
    }
    HDC screen = ::GetDC(nullptr);
    const int dpi = screen ? ::GetDeviceCaps(screen, LOGPIXELSY) : 96;
    if (screen) ::ReleaseDC(nullptr, screen);
    return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

// The window's own DPI; before Windows 10 there is only the system's.
UINT DpiOf(HWND hwnd) noexcept {
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static const auto getDpiForWindow = User32Function<GetDpiForWindowFn>("GetDpiForWindow");
    if (getDpiForWindow && hwnd) {
        if (UINT dpi = getDpiForWindow(hwnd)) return dpi;
    }
    return SystemDpi();
}

// The work area of the monitor Windows puts a new window on: the one whose
// taskbar started the program (which Windows then names in place of a
// standard output), else the primary monitor. False when the program was
// started at a given position: Windows places the window there itself.
bool StartingWorkArea(Pixels& work) noexcept {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    ::GetStartupInfoW(&startup);
    if (startup.dwFlags & STARTF_USEPOSITION) return false;
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    RECT area{0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
    if (!(startup.dwFlags & STARTF_USESTDHANDLES) && startup.hStdOutput &&
        ::GetMonitorInfoW(static_cast<HMONITOR>(startup.hStdOutput), &monitor))
        area = monitor.rcWork;
    else
        ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    work = {area.left, area.top, area.right - area.left, area.bottom - area.top};
    return true;
}

// The frame around the client area at `dpi`. Without the DPI-aware call
// (Windows 7 and 8.x) the system does not scale the frame per monitor, so
// its metrics at the system DPI are the ones the window gets.
FrameMargins FrameMarginsAt(UINT dpi) noexcept {
    using AdjustForDpiFn = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
    static const auto adjustForDpi = User32Function<AdjustForDpiFn>("AdjustWindowRectExForDpi");
    RECT rect{0, 0, 0, 0};
    if (!adjustForDpi || !adjustForDpi(&rect, FrameStyle, FALSE, FrameExStyle, dpi))
        ::AdjustWindowRectEx(&rect, FrameStyle, FALSE, FrameExStyle);
    return {-rect.left, -rect.top, rect.right, rect.bottom};
}

win32::UniqueHfont MakeVerdana(UINT dpi, bool italic) noexcept {
    LOGFONTW font{};
    font.lfHeight = -::MulDiv(825, static_cast<int>(dpi), 7200);  // 8.25 points
    font.lfWeight = FW_NORMAL;
    font.lfItalic = italic ? TRUE : FALSE;
    font.lfCharSet = ANSI_CHARSET;
    font.lfOutPrecision = OUT_DEFAULT_PRECIS;
    font.lfClipPrecision = CLIP_DEFAULT_PRECIS;
    font.lfQuality = DEFAULT_QUALITY;
    font.lfPitchAndFamily = DEFAULT_PITCH | FF_SWISS;
    ::lstrcpynW(font.lfFaceName, L"Verdana", LF_FACESIZE);
    return win32::UniqueHfont(::CreateFontIndirectW(&font));
}

// The user-interface font Windows uses for message text, at the given DPI.
win32::UniqueHfont MakeDefaultFont(UINT dpi) noexcept {
    using ParametersForDpiFn = BOOL(WINAPI*)(UINT, UINT, PVOID, UINT, UINT);
    static const auto forDpi = User32Function<ParametersForDpiFn>("SystemParametersInfoForDpi");
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    if (forDpi && forDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi))
        return win32::UniqueHfont(::CreateFontIndirectW(&metrics.lfMessageFont));
    if (::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
        // These metrics are at the system DPI already: scale only by the
        // window's DPI against that.
        metrics.lfMessageFont.lfHeight = FontHeightFor(metrics.lfMessageFont.lfHeight, dpi, SystemDpi());
        return win32::UniqueHfont(::CreateFontIndirectW(&metrics.lfMessageFont));
    }
    return win32::UniqueHfont();  // the control keeps the system's own font
}

// Mouse-move arguments as the handlers take them: buttons and shift keys
// as bit sets, the position in twips.
short MouseButtons(WPARAM wParam) {
    return static_cast<short>(((wParam & MK_LBUTTON) ? 1 : 0) | ((wParam & MK_RBUTTON) ? 2 : 0) |
                              ((wParam & MK_MBUTTON) ? 4 : 0));
}
short ShiftKeys(WPARAM wParam) {
    return static_cast<short>(((wParam & MK_SHIFT) ? 1 : 0) | ((wParam & MK_CONTROL) ? 2 : 0) |
                              ((::GetKeyState(VK_MENU) < 0) ? 4 : 0));
}

// The shift keys held down with a key, as the key handlers take them.
short HeldShiftKeys() {
    return static_cast<short>(((::GetKeyState(VK_SHIFT) < 0) ? ShiftMask : 0) |
                              ((::GetKeyState(VK_CONTROL) < 0) ? CtrlMask : 0) |
                              ((::GetKeyState(VK_MENU) < 0) ? AltMask : 0));
}

}  // namespace

// ---- Win32Control ----

void Win32Control::Attach(HWND hwnd, HFONT upright, HFONT italic) noexcept {
    hwnd_ = hwnd;
    SetFonts(upright, italic);
}

void Win32Control::SetFonts(HFONT upright, HFONT italic) noexcept {
    upright_ = upright;
    italicFont_ = italic;
    ApplyFont(false);
}

void Win32Control::ApplyFont(bool redraw) noexcept {
    HFONT font = italic_ && italicFont_ ? italicFont_ : upright_;
    if (hwnd_ && font) ::SendMessageW(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(font), redraw);
}

// Our procedure is found in the control itself, and each message reaches it
// without a look-up on the way (comctl32's subclassing looks up a window
// property for every message, which costs a trip to Wine's server).
void Win32Control::Subclass(WNDPROC procedure, void* data) noexcept {
    ::SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(data));
    if (auto own = reinterpret_cast<WNDPROC>(
            ::SetWindowLongPtrW(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(procedure))))
        ownProc_ = own;
}

std::wstring Win32Control::Text() const {
    if (CanLeaveOut && !hwnd_) return leftOutText_;
    const int length = ::GetWindowTextLengthW(hwnd_);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    const int copied = ::GetWindowTextW(hwnd_, text.data(), length + 1);
    text.resize(static_cast<size_t>(copied > 0 ? copied : 0));
    return text;
}

void Win32Control::SetText(const std::wstring& text) {
    if (CanLeaveOut && !hwnd_) {
        leftOutText_ = text;
        return;
    }
    if (!::SetWindowTextW(hwnd_, text.c_str()))
        throw win32::LastErrorFailure(L"A caption could not be set.");
}

void Win32Control::SetEnabled(bool enabled) { ::EnableWindow(hwnd_, enabled ? TRUE : FALSE); }

void Win32Control::SetFocus() {
    ::SetFocus(hwnd_);
    // Moved by a key: from now on the window shows where the focus is, as a
    // dialog does once Tab is pressed.
    ::SendMessageW(hwnd_, WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS), 0);
}

// A button's click and a static control's are both notification 0.
void Win32Control::PostClick() {
    ::PostMessageW(::GetParent(hwnd_), WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(hwnd_), BN_CLICKED),
                   reinterpret_cast<LPARAM>(hwnd_));
}

void Win32Control::SetFontItalic(bool italic) {
    // The same value again is no change to draw: no repaint, no flicker.
    if (italic == italic_) return;
    italic_ = italic;
    ApplyFont(true);
}

// ---- Form1Window ----

Form1Window::Form1Window(HINSTANCE instance, win32::Win32Platform& platform)
    : instance_(instance), platform_(platform) {}

Form1Window::~Form1Window() {
    if (hwnd_) ::DestroyWindow(hwnd_);
    ::UnregisterClassW(WindowClass, instance_);
}

bool Form1Window::Create() {
    if (!LeftOut(Piece::Icon)) {
        icon_.reset(static_cast<HICON>(::LoadImageW(instance_, MAKEINTRESOURCEW(IDI_TARNWICK),
                                                    IMAGE_ICON, ::GetSystemMetrics(SM_CXICON),
                                                    ::GetSystemMetrics(SM_CYICON), 0)));
        smallIcon_.reset(static_cast<HICON>(::LoadImageW(instance_, MAKEINTRESOURCEW(IDI_TARNWICK),
                                                         IMAGE_ICON, ::GetSystemMetrics(SM_CXSMICON),
                                                         ::GetSystemMetrics(SM_CYSMICON), 0)));
    }
    if (!LeftOut(Piece::Logo))
        logo_.reset(static_cast<HBITMAP>(::LoadImageW(instance_, MAKEINTRESOURCEW(IDB_LOGO),
                                                      IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
    ReadColourScheme();

    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = &Form1Window::WindowProc;
    windowClass.hInstance = instance_;
    windowClass.hIcon = icon_.get();
    windowClass.hIconSm = smallIcon_.get();
    windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = nullptr;  // painted in WM_ERASEBKGND, in the scheme's ground
    windowClass.lpszClassName = WindowClass;
    if (!::RegisterClassExW(&windowClass)) {
        win32::ReportUncaughtFailure(nullptr, win32::LastErrorFailure(L"The window class could not be registered."));
        exitCode_ = 1;
        return false;
    }

    // Made centred where Windows would put a new window, at its size for the
    // system DPI, which is the window's own DPI on most systems: moving it
    // afterwards costs a round of window messages. The window's DPI is only
    // known once it exists; should it differ, the frame is placed again below.
    const UINT expectedDpi = SystemDpi();
    Pixels work{0, 0, 0, 0};
    const bool centred = !LeftOut(Piece::Centring) && StartingWorkArea(work);
    const Pixels expected = FramePlacement(expectedDpi, FrameMarginsAt(expectedDpi), work);
    creating_ = true;
    hwnd_ = ::CreateWindowExW(FrameExStyle, WindowClass, win32::ProgramTitle, FrameStyle,
                              centred ? expected.left : CW_USEDEFAULT, centred ? expected.top : CW_USEDEFAULT,
                              expected.width, expected.height, nullptr, nullptr, instance_, this);
    creating_ = false;
    if (!hwnd_) {
        if (!ended_) {
            win32::ReportUncaughtFailure(nullptr, win32::LastErrorFailure(L"The window could not be created."));
            exitCode_ = 1;
        }
        return false;
    }
    platform_.SetOwner(hwnd_);
    if (!LeftOut(Piece::Centring) && (!centred || dpi_ != expectedDpi)) PlaceFrame();

    Guard([this] { form_->Form_Load(); });
    return !ended_;
}

void Form1Window::Show(int showCommand) noexcept {
    ::ShowWindow(hwnd_, showCommand == SW_HIDE ? SW_SHOWNORMAL : showCommand);
    ::UpdateWindow(hwnd_);
    ::SetFocus(command1_.hwnd());
}

int Form1Window::Serve() noexcept {
    MSG message{};
    for (;;) {
        // The payload box is not needed to see the window: it is made once
        // the window first waits for input, with nothing in its queue.
        // Tried once: a failure is reported, not repeated.
        if (payloadBoxDue_ && !::PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE)) {
            payloadBoxDue_ = false;
            Guard([this] { MakePayloadBox(); });
        }
        if (::GetMessageW(&message, nullptr, 0, 0) <= 0) break;
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    return exitCode_;
}

// The frame for the window's own DPI, centred in the work area of the
// monitor the window is on (not always the primary one).
void Form1Window::PlaceFrame() noexcept {
    Pixels work{0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    if (::GetMonitorInfoW(::MonitorFromWindow(hwnd_, MONITOR_DEFAULTTONEAREST), &monitor)) {
        const RECT& area = monitor.rcWork;
        work = {area.left, area.top, area.right - area.left, area.bottom - area.top};
    }
    const Pixels frame = FramePlacement(dpi_, FrameMarginsAt(dpi_), work);
    ::SetWindowPos(hwnd_, nullptr, frame.left, frame.top, frame.width, frame.height,
                   SWP_NOZORDER | SWP_NOACTIVATE);
}

void Form1Window::ReadColourScheme() noexcept {
    HIGHCONTRASTW contrast{};
    contrast.cbSize = sizeof contrast;
    const bool highContrast =
        ::SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof contrast, &contrast, 0) &&
        (contrast.dwFlags & HCF_HIGHCONTRASTON);
    const COLORREF text = ::GetSysColor(COLOR_WINDOWTEXT);
    systemColours_ = UsesSystemPair(
        highContrast, Rgb{GetRValue(text), GetGValue(text), GetBValue(text)});
}

// White, unless the scheme asks for its own pair. The system's brushes are
// its own: never freed.
HBRUSH Form1Window::GroundBrush() const noexcept {
    return systemColours_ ? ::GetSysColorBrush(COLOR_WINDOW)
                          : static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH));
}

// Each handler is called through one plain function, so that the catching
// is made once rather than once for every handler.
template <typename Handler>
bool Form1Window::Guard(Handler&& handler) noexcept {
    return GuardCall([](void* it) { (*static_cast<std::remove_reference_t<Handler>*>(it))(); }, &handler);
}

bool Form1Window::GuardCall(void (*call)(void*), void* handler) noexcept {
    if (ended_) return false;  // after the end, no handler runs any more
    try {
        call(handler);
        return true;
    } catch (const ProgramEnd& end) {
        End(end.exitCode);
    } catch (const Failure& failure) {
        Fail(failure);
    } catch (const std::bad_alloc&) {
        Fail(Failure(ERROR_NOT_ENOUGH_MEMORY, L"Out of memory."));
    } catch (...) {
        Fail(Failure(ERROR_INTERNAL_ERROR, L"Unexpected failure."));
    }
    return false;
}

void Form1Window::Fail(const Failure& failure) noexcept {
    ended_ = true;
    // While the window is being created it is no owner yet.
    win32::ReportUncaughtFailure(creating_ ? nullptr : hwnd_, failure);
    End(1);
}

void Form1Window::End(int exitCode) noexcept {
    ended_ = true;
    exitCode_ = exitCode;
    if (creating_) return;  // WM_CREATE answers -1 and the window goes with it
    if (hwnd_) {
        ::DestroyWindow(hwnd_);
    } else {
        ::PostQuitMessage(exitCode_);
    }
}

LRESULT CALLBACK Form1Window::WindowProc(HWND hwnd, UINT message, WPARAM wParam,
                                         LPARAM lParam) noexcept {
    Form1Window* self = nullptr;
    if (message == WM_NCCREATE) {
        self = static_cast<Form1Window*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        self->hwnd_ = hwnd;
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    } else {
        self = reinterpret_cast<Form1Window*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    }
    if (!self) return ::DefWindowProcW(hwnd, message, wParam, lParam);
    return self->HandleMessage(hwnd, message, wParam, lParam);
}

LRESULT CALLBACK Form1Window::ControlProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
    auto* self = reinterpret_cast<Form1Window*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    const bool link = hwnd == self->label1_.hwnd();
    const Win32Control& control =
        link ? self->label1_ : hwnd == self->label2_.hwnd() ? self->label2_ : self->command1_;
    switch (message) {
        case WM_MOUSEMOVE:
            self->MouseMoved(hwnd, wParam, lParam);
            break;
        case WM_KEYDOWN:
        case WM_KEYUP:
            self->KeyPressed(hwnd, message, wParam, lParam);
            break;
        case WM_SETFOCUS:
        case WM_KILLFOCUS:
            if (link) self->LinkFocusChanged(message == WM_SETFOCUS);
            break;
        case WM_PAINT:
            if (link && self->PaintLinkWithFocus()) return 0;
            break;
        case WM_UPDATEUISTATE:
            // The focus is to be shown, or hidden, from now on.
            if (link) ::InvalidateRect(hwnd, nullptr, TRUE);
            break;
        case WM_GETOBJECT:
            if (link) {
                if (const auto answer = self->linkAccessibility_.Answer(hwnd, wParam, lParam)) return *answer;
            }
            break;
        case WM_NCDESTROY:
            if (link) self->linkAccessibility_.Disconnect();
            break;
        default:
            break;
    }
    return control.CallOwn(message, wParam, lParam);
}

void Form1Window::MouseMoved(HWND source, WPARAM wParam, LPARAM lParam) noexcept {
    const short button = MouseButtons(wParam);
    const short shift = ShiftKeys(wParam);
    const float x = static_cast<float>(GET_X_LPARAM(lParam)) * 1440.0f / static_cast<float>(dpi_);
    const float y = static_cast<float>(GET_Y_LPARAM(lParam)) * 1440.0f / static_cast<float>(dpi_);
    // The logo is the window's own drawing: a move over it is told by its place.
    const bool onLogo =
        source == hwnd_ && Contains(PixelsOf(Image1Box, dpi_), GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
    Guard([&] {
        if (onLogo) {
            form_->image1_MouseMove(button, shift, x, y);
        } else if (source == hwnd_) {
            form_->Form_MouseMove(button, shift, x, y);
        } else if (source == label1_.hwnd()) {
            form_->Label1_MouseMove(button, shift, x, y);
        } else if (source == label2_.hwnd()) {
            form_->label2_MouseMove(button, shift, x, y);
        }
    });
}

// The form sees each key first, wherever the focus is; a key on the link
// goes on to the link's own handlers. A key held down repeats its press.
void Form1Window::KeyPressed(HWND source, UINT message, WPARAM key, LPARAM flags) noexcept {
    const auto code = static_cast<short>(key);
    const short shift = HeldShiftKeys();
    const bool repeated = (static_cast<DWORD>(flags) & (KF_REPEAT << 16)) != 0;
    Guard([&] {
        if (message == WM_KEYDOWN) form_->Form_KeyDown(code, shift);
        if (source != label1_.hwnd()) return;
        if (message == WM_KEYDOWN) {
            form_->Label1_KeyDown(code, shift, repeated);
        } else {
            form_->Label1_KeyUp(code, shift);
        }
    });
}

void Form1Window::LinkFocusChanged(bool focused) noexcept {
    linkFocused_ = focused;
    Guard([&] {
        if (focused) {
            form_->Label1_GotFocus();
        } else {
            form_->Label1_LostFocus();
        }
    });
    // The focus rectangle comes or goes, whether or not the lean changed.
    ::InvalidateRect(label1_.hwnd(), nullptr, TRUE);
}

// While the link has the focus, and the window shows where the focus is,
// the control paints into this paint and the focus rectangle goes on top.
bool Form1Window::PaintLinkWithFocus() noexcept {
    HWND link = label1_.hwnd();
    if (!linkFocused_ || (::SendMessageW(link, WM_QUERYUISTATE, 0, 0) & UISF_HIDEFOCUS)) return false;
    PAINTSTRUCT paint{};
    HDC dc = ::BeginPaint(link, &paint);
    if (!dc) return false;
    label1_.CallOwn(WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
    DrawLinkFocus(dc);
    ::EndPaint(link, &paint);
    return true;
}

// The system's focus rectangle around the text as the control lays it out
// (not the whole label, which reaches over the logo), as thick at the
// window's DPI as the system draws it at its own.
void Form1Window::DrawLinkFocus(HDC dc) noexcept {
    HWND link = label1_.hwnd();
    RECT client{};
    ::GetClientRect(link, &client);
    wchar_t text[256] = {};
    const int length = ::GetWindowTextW(link, text, 256);
    const win32::ScopedSelection font(dc, reinterpret_cast<HGDIOBJ>(::SendMessageW(link, WM_GETFONT, 0, 0)));
    RECT measured = client;
    ::DrawTextW(dc, text, length, &measured, DT_CALCRECT | DT_LEFT | DT_EXPANDTABS | DT_WORDBREAK);
    const Pixels box = FocusRectAround(
        {measured.left, measured.top, measured.right - measured.left, measured.bottom - measured.top},
        client.right, client.bottom, dpi_);
    RECT frame{box.left, box.top, box.left + box.width, box.top + box.height};
    UINT across = 1, down = 1;
    ::SystemParametersInfoW(SPI_GETFOCUSBORDERWIDTH, 0, &across, 0);
    ::SystemParametersInfoW(SPI_GETFOCUSBORDERHEIGHT, 0, &down, 0);
    for (int frames = FocusFramesAt(dpi_, SystemDpi()); frames > 0; --frames) {
        ::DrawFocusRect(dc, &frame);
        frame.left += static_cast<LONG>(across), frame.right -= static_cast<LONG>(across);
        frame.top += static_cast<LONG>(down), frame.bottom -= static_cast<LONG>(down);
    }
}

// Leaving the window, and coming back to it, keeps the focus where it was.
void Form1Window::RememberFocus() noexcept {
    HWND focus = ::GetFocus();
    if (focus && (focus == command1_.hwnd() || focus == label1_.hwnd())) focusToRestore_ = focus;
}

void Form1Window::RestoreFocus() noexcept {
    HWND target = focusToRestore_ ? focusToRestore_ : command1_.hwnd();
    if (target) ::SetFocus(target);
}

LRESULT Form1Window::HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
    switch (message) {
        case WM_CREATE: {
            // Inside the boundary like every handler: a failure here ends
            // the creation, and the run-time error box says why.
            const bool created = Guard([this] {
                dpi_ = DpiOf(hwnd_);
                CreateControls();
            });
            return created ? 0 : -1;
        }
        case WM_COMMAND: {
            const int id = LOWORD(wParam);
            const int code = HIWORD(wParam);
            if (id == Command1Id && code == BN_CLICKED) {
                if (std::exchange(inCommand_, true)) return 0;
                Guard([this] {
                    MakePayloadBox();
                    form_->Command1_Click();
                });
                inCommand_ = false;
                if (std::exchange(closePending_, false) && hwnd_) ::DestroyWindow(hwnd_);
            } else if (id == Label1Id && code == STN_CLICKED) {
                Guard([this] { form_->Label1_Click(); });
            }
            return 0;
        }
        case WM_CLOSE:
            if (inCommand_) {
                closePending_ = true;
                return 0;
            }
            break;
        case WM_MOUSEMOVE:
            MouseMoved(hwnd_, wParam, lParam);
            return 0;
        case WM_KEYDOWN:
        case WM_KEYUP:
            KeyPressed(hwnd_, message, wParam, lParam);
            return 0;
        case WM_ACTIVATE:
            if (LOWORD(wParam) == WA_INACTIVE) RememberFocus();
            break;
        case WM_ERASEBKGND: {
            RECT client{};
            ::GetClientRect(hwnd_, &client);
            ::FillRect(reinterpret_cast<HDC>(wParam), &client, GroundBrush());
            return 1;
        }
        case WM_CTLCOLORSTATIC:
            if (reinterpret_cast<HWND>(lParam) != text1_.hwnd()) {
                HDC dc = reinterpret_cast<HDC>(wParam);
                ::SetTextColor(dc, ::GetSysColor(COLOR_WINDOWTEXT));
                ::SetBkColor(dc, systemColours_ ? ::GetSysColor(COLOR_WINDOW) : RGB(255, 255, 255));
                return reinterpret_cast<LRESULT>(GroundBrush());
            }
            break;
        case WM_SETTINGCHANGE:
            if (wParam != SPI_SETHIGHCONTRAST) break;
            [[fallthrough]];
        case WM_SYSCOLORCHANGE:
            // A new scheme is followed at once, without a restart.
            ReadColourScheme();
            for (HWND child = ::GetWindow(hwnd_, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT))
                ::SendMessageW(child, WM_SYSCOLORCHANGE, 0, 0);
            ::RedrawWindow(hwnd_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
            return 0;
        case WM_PAINT:
            Paint();
            return 0;
        case WM_SETFOCUS:
            RestoreFocus();
            return 0;
        case WmGetDpiScaledSize: {
            // The frame at the new DPI, exactly as it is first made there.
            const UINT dpi = static_cast<UINT>(wParam);
            const Pixels frame = FramePlacement(dpi, FrameMarginsAt(dpi), Pixels{0, 0, 0, 0});
            auto* size = reinterpret_cast<SIZE*>(lParam);
            size->cx = frame.width;
            size->cy = frame.height;
            return TRUE;
        }
        case WM_DPICHANGED: {
            dpi_ = HIWORD(wParam);
            const auto* suggested = reinterpret_cast<const RECT*>(lParam);
            ::SetWindowPos(hwnd_, nullptr, suggested->left, suggested->top,
                           suggested->right - suggested->left, suggested->bottom - suggested->top,
                           SWP_NOZORDER | SWP_NOACTIVATE);
            ApplyFonts(dpi_);
            PlaceControls(dpi_);
            // Every control draws again at the new size, the logo included.
            ::RedrawWindow(hwnd_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
            return 0;
        }
        case WM_DESTROY:
            ::PostQuitMessage(exitCode_);
            return 0;
        case WM_NCDESTROY:
            hwnd_ = nullptr;
            break;
        default:
            break;
    }
    return ::DefWindowProcW(hwnd, message, wParam, lParam);
}

// Each control is made where it belongs at the window's DPI: moving it
// afterwards would cost a round of window messages per control.
HWND Form1Window::MakeControl(const wchar_t* kind, const wchar_t* text, DWORD style, DWORD exStyle,
                              int id, const Twips& box) {
    const Pixels at = PixelsOf(box, dpi_);
    HWND control = ::CreateWindowExW(exStyle, kind, text, WS_CHILD | WS_CLIPSIBLINGS | style, at.left,
                                     at.top, at.width, at.height, hwnd_,
                                     reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance_, nullptr);
    if (!control) throw win32::LastErrorFailure(L"A control of the window could not be created.");
    return control;
}

// Only what a person sees and works is a window of its own: the button, the
// link and the instructions, which a screen reader reads too. The logo is
// decorative: the window draws it itself (Paint), and a pointer over it is
// told apart by its place (MouseMoved).
void Form1Window::CreateControls() {
    // Made in stacking order, top first: the button over the instruction
    // text where they meet, and the link label over the logo in their shared
    // strip, so the whole site name is the link. The button is an ordinary
    // push button: neither the default (Enter) nor the cancel (Esc) button.
    // The button and the link are the window's two tab stops.
    HWND command1 = MakeControl(L"BUTTON", PatchCaption.data(), WS_VISIBLE | BS_PUSHBUTTON | WS_TABSTOP,
                                0, Command1Id, Command1Box);
    HWND label1 = LeftOut(Piece::Label1)
                      ? nullptr
                      : MakeControl(L"STATIC", WebSiteHost.data(),
                                    WS_VISIBLE | SS_LEFT | SS_NOTIFY | WS_TABSTOP, 0, Label1Id, Label1Box);
    HWND label2 = LeftOut(Piece::Label2)
                      ? nullptr
                      : MakeControl(L"STATIC", L"", WS_VISIBLE | SS_LEFT | SS_NOTIFY, 0, Label2Id, Label2Box);
    command1_.Attach(command1, nullptr, nullptr);
    label2_.Attach(label2, nullptr, nullptr);
    label1_.Attach(label1, nullptr, nullptr);

    // Siblings stack in the order they are made; should a system stack them
    // otherwise, they are put in order here.
    const HWND stack[] = {command1, label1, label2};
    bool stacked = CanLeaveOut || ::GetWindow(hwnd_, GW_CHILD) == stack[0];
    for (size_t i = 1; stacked && i < std::size(stack); ++i)
        stacked = ::GetWindow(stack[i - 1], GW_HWNDNEXT) == stack[i];
    if (!stacked) {
        HWND above = HWND_TOP;
        for (HWND control : stack) {
            ::SetWindowPos(control, above, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
            above = control;
        }
    }
    for (Win32Control* control : {&command1_, &label1_, &label2_})
        if (control->hwnd() && !LeftOut(Piece::Subclassing)) control->Subclass(&Form1Window::ControlProc, this);

    ApplyFonts(dpi_);
    form_ = std::make_unique<Form1>(
        platform_, Form1Controls{*this, command1_, text1_, label2_, label1_});
}

// The payload box lies outside the client area, and is not shown at all, so
// a screen reader passes it by. It is read-only and no tab stop, so keys
// typed at the window can never reach the file. Only a click's command reads
// it: it is made once the window is up and waiting, or by the command if a
// click comes first. Its text comes once its font is set, so its lines are
// laid out only once.
void Form1Window::MakePayloadBox() {
    if (text1_.hwnd() || LeftOut(Piece::Text1)) return;
    text1_.Attach(MakeControl(L"EDIT", L"", ES_MULTILINE | ES_READONLY | ES_LEFT, WS_EX_CLIENTEDGE, Text1Id,
                              Text1Box),
                  defaultFont_.get(), nullptr);
    text1_.SetText(std::wstring(PreferencePayload));
}

// Made for the DPI in use, and again only when that changes.
void Form1Window::ApplyFonts(UINT dpi) noexcept {
    // The controls take the new fonts before the old ones are let go. A font
    // that cannot be made leaves its controls with the one they have.
    auto labelFont = LeftOut(Piece::LabelFont) ? win32::UniqueHfont() : MakeVerdana(dpi, false);
    auto labelItalicFont = LeftOut(Piece::ItalicFont) ? win32::UniqueHfont() : MakeVerdana(dpi, true);
    if ((labelFont || LeftOut(Piece::LabelFont)) && (labelItalicFont || LeftOut(Piece::ItalicFont))) {
        label2_.SetFonts(labelFont.get(), nullptr);
        label1_.SetFonts(labelFont.get(), labelItalicFont.get());
        labelFont_ = std::move(labelFont);
        labelItalicFont_ = std::move(labelItalicFont);
    }
    if (auto defaultFont = LeftOut(Piece::MessageFont) ? win32::UniqueHfont() : MakeDefaultFont(dpi)) {
        command1_.SetFonts(defaultFont.get(), nullptr);
        text1_.SetFonts(defaultFont.get(), nullptr);
        defaultFont_ = std::move(defaultFont);
    }
}

void Form1Window::PlaceControls(UINT dpi) noexcept {
    auto place = [dpi](const Win32Control& control, const Twips& box) {
        if (!control.hwnd()) return;  // the payload box, before it is made
        const Pixels at = PixelsOf(box, dpi);
        ::SetWindowPos(control.hwnd(), nullptr, at.left, at.top, at.width, at.height,
                       SWP_NOZORDER | SWP_NOACTIVATE);
    };
    place(command1_, Command1Box);
    place(text1_, Text1Box);
    place(label2_, Label2Box);
    place(label1_, Label1Box);
}

// The window's own pixels: the ground (WM_ERASEBKGND), then the logo. The
// link label lies over the logo's right edge; the children are clipped out,
// so the label draws that strip.
void Form1Window::Paint() noexcept {
    PAINTSTRUCT paint{};
    HDC dc = ::BeginPaint(hwnd_, &paint);
    if (!dc) return;
    DrawLogo(dc);
    if constexpr (CanLeaveOut) DrawLeftOutLabels(dc);
    ::EndPaint(hwnd_, &paint);
}

void Form1Window::DrawLogo(HDC dc) noexcept {
    BITMAP size{};
    if (!logo_ || !::GetObjectW(logo_.get(), sizeof size, &size)) return;
    const win32::UniqueMemoryDc source(::CreateCompatibleDC(dc));
    if (!source) return;
    const win32::ScopedSelection selected(source.get(), logo_.get());
    // Unscaled at 96 DPI; the same size in inches at any other DPI.
    const int pixels = ::MulDiv(size.bmWidth, static_cast<int>(dpi_), 96);
    if (pixels == size.bmWidth) {
        ::BitBlt(dc, 0, 0, size.bmWidth, size.bmHeight, source.get(), 0, 0, SRCCOPY);
    } else {
        ::SetStretchBltMode(dc, HALFTONE);
        ::SetBrushOrgEx(dc, 0, 0, nullptr);
        ::StretchBlt(dc, 0, 0, pixels, pixels, source.get(), 0, 0, size.bmWidth, size.bmHeight, SRCCOPY);
    }
}

// The benchmark's build draws a label it made no window for as the control
// draws itself, in the same font and colours, while it is timed.
void Form1Window::DrawLeftOutLabels(HDC dc) noexcept {
    const win32::ScopedSelection font(dc, labelFont_.get());
    ::SetTextColor(dc, ::GetSysColor(COLOR_WINDOWTEXT));
    ::SetBkColor(dc, systemColours_ ? ::GetSysColor(COLOR_WINDOW) : RGB(255, 255, 255));
    for (auto [label, box] : {std::pair{&label2_, Label2Box}, {&label1_, Label1Box}}) {
        if (label->hwnd()) continue;
        const Pixels at = PixelsOf(box, dpi_);
        RECT rect{at.left, at.top, at.left + at.width, at.top + at.height};
        ::FillRect(dc, &rect, GroundBrush());
        const std::wstring text = label == &label1_ ? std::wstring(WebSiteHost) : label->Text();
        ::DrawTextW(dc, text.c_str(), -1, &rect, DT_LEFT | DT_EXPANDTABS | DT_WORDBREAK);
    }
}

}  // namespace tarnwick
