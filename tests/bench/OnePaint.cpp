// The limit of what the window can cost: the same pixels as the program's
// window (Patch offered, the normal scheme), with only the button a window
// of its own; the frame draws the logo, the instructions and the link's
// text in one paint. It marks the same start-up milestones as the timed
// build. Nothing else works in it: no link, no keys, no screen reader.
#include <windows.h>

#include "app/Layout.h"
#include "app/Resources.h"
#include "app/StartupStages.h"

namespace {

using namespace tarnwick;

constexpr DWORD FrameStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
constexpr DWORD FrameExStyle = WS_EX_TOOLWINDOW;

UINT dpi = 96;
HFONT labelFont = nullptr;
HBITMAP logo = nullptr;

RECT RectOf(const Twips& box) {
    const Pixels at = PixelsOf(box, dpi);
    return {at.left, at.top, at.left + at.width, at.top + at.height};
}

// As a static control draws its text: its box filled, the text wrapped in it.
void DrawLabel(HDC dc, const Twips& box, const wchar_t* text) {
    RECT rect = RectOf(box);
    ::FillRect(dc, &rect, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
    ::DrawTextW(dc, text, -1, &rect, DT_LEFT | DT_EXPANDTABS | DT_WORDBREAK);
}

void Paint(HWND hwnd) {
    PAINTSTRUCT paint{};
    HDC dc = ::BeginPaint(hwnd, &paint);
    BITMAP size{};
    ::GetObjectW(logo, sizeof size, &size);
    HDC source = ::CreateCompatibleDC(dc);
    HGDIOBJ old = ::SelectObject(source, logo);
    const int pixels = ::MulDiv(size.bmWidth, static_cast<int>(dpi), 96);
    if (pixels == size.bmWidth) {
        ::BitBlt(dc, 0, 0, size.bmWidth, size.bmHeight, source, 0, 0, SRCCOPY);
    } else {
        ::SetStretchBltMode(dc, HALFTONE);
        ::SetBrushOrgEx(dc, 0, 0, nullptr);
        ::StretchBlt(dc, 0, 0, pixels, pixels, source, 0, 0, size.bmWidth, size.bmHeight, SRCCOPY);
    }
    ::SelectObject(source, old);
    ::DeleteDC(source);
    HGDIOBJ oldFont = ::SelectObject(dc, labelFont);
    ::SetTextColor(dc, ::GetSysColor(COLOR_WINDOWTEXT));
    ::SetBkColor(dc, RGB(255, 255, 255));
    DrawLabel(dc, Label2Box, L"Simply Click The Patch Button and you should have faster browsing in no time!");
    DrawLabel(dc, Label1Box, L"tarn.example");
    ::SelectObject(dc, oldFont);
    ::EndPaint(hwnd, &paint);
}

LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_PAINT:
            Paint(hwnd);
            return 0;
        case WM_DESTROY:
            ::PostQuitMessage(0);
            return 0;
        default:
            return ::DefWindowProcW(hwnd, message, wParam, lParam);
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
    MarkStage(Stage::Entry);
    HDC screen = ::GetDC(nullptr);
    dpi = static_cast<UINT>(::GetDeviceCaps(screen, LOGPIXELSY));
    ::ReleaseDC(nullptr, screen);

    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(IDI_TARNWICK), IMAGE_ICON,
                                                        ::GetSystemMetrics(SM_CXICON),
                                                        ::GetSystemMetrics(SM_CYICON), 0));
    windowClass.hIconSm = static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(IDI_TARNWICK),
                                                          IMAGE_ICON, ::GetSystemMetrics(SM_CXSMICON),
                                                          ::GetSystemMetrics(SM_CYSMICON), 0));
    windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH));
    windowClass.lpszClassName = L"TarnwickForm1";  // so that the test driver finds it
    ::RegisterClassExW(&windowClass);
    logo = static_cast<HBITMAP>(::LoadImageW(instance, MAKEINTRESOURCEW(IDB_LOGO), IMAGE_BITMAP, 0, 0,
                                             LR_CREATEDIBSECTION));

    // Made centred in the work area, at its size for the DPI.
    RECT frame{0, 0, 0, 0};
    ::AdjustWindowRectEx(&frame, FrameStyle, FALSE, FrameExStyle);
    RECT work{};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    const Pixels at = FramePlacement(dpi, {-frame.left, -frame.top, frame.right, frame.bottom},
                                     {work.left, work.top, work.right - work.left, work.bottom - work.top});
    HWND hwnd = ::CreateWindowExW(FrameExStyle, windowClass.lpszClassName, L"Tarnwick", FrameStyle, at.left,
                                  at.top, at.width, at.height, nullptr, nullptr, instance, nullptr);

    LOGFONTW font{};
    font.lfHeight = -::MulDiv(825, static_cast<int>(dpi), 7200);
    font.lfWeight = FW_NORMAL;
    font.lfCharSet = ANSI_CHARSET;
    font.lfPitchAndFamily = DEFAULT_PITCH | FF_SWISS;
    ::lstrcpynW(font.lfFaceName, L"Verdana", LF_FACESIZE);
    labelFont = ::CreateFontIndirectW(&font);
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    ::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
    HFONT messageFont = ::CreateFontIndirectW(&metrics.lfMessageFont);

    const RECT button = RectOf(Command1Box);
    HWND command1 = ::CreateWindowExW(0, L"BUTTON", L"Patch", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON,
                                      button.left, button.top, button.right - button.left,
                                      button.bottom - button.top, hwnd, nullptr, instance, nullptr);
    ::SendMessageW(command1, WM_SETFONT, reinterpret_cast<WPARAM>(messageFont), FALSE);
    MarkStage(Stage::WindowCreated);
    ::ShowWindow(hwnd, show);
    ::UpdateWindow(hwnd);
    ::SetFocus(command1);
    MarkStage(Stage::FirstPainted);
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    return 0;
}
