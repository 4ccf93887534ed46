// The smallest Win32 program that shows one window with one button: the
// yardstick the start-up and memory figures are measured against. It marks
// the same start-up milestones as the program's timed build.
#include <windows.h>

#include "app/StartupStages.h"

static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
    tarnwick::MarkStage(tarnwick::Stage::Entry);
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    windowClass.lpszClassName = L"Baseline";
    RegisterClassW(&windowClass);
    HWND hwnd = CreateWindowExW(WS_EX_TOOLWINDOW, L"Baseline", L"Baseline",
                                WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU, CW_USEDEFAULT,
                                CW_USEDEFAULT, 280, 110, nullptr, nullptr, instance, nullptr);
    CreateWindowExW(0, L"BUTTON", L"Patch", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 176, 56, 89, 25,
                    hwnd, nullptr, instance, nullptr);
    tarnwick::MarkStage(tarnwick::Stage::WindowCreated);
    ShowWindow(hwnd, show);
    UpdateWindow(hwnd);
    tarnwick::MarkStage(tarnwick::Stage::FirstPainted);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}
