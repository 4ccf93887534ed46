#include <windows.h>
#include <commctrl.h>

#include "app/Form1Window.h"
#include "platform/win32/Handles.h"
#include "platform/win32/Win32Platform.h"

// The program takes nothing on its command line: one window, one click.
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    // Never let the system show its own fault dialogs over ours.
    ::SetErrorMode(SEM_FAILCRITICALERRORS);

    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&controls);

    tarnwick::win32::OleSession ole;
    tarnwick::win32::Win32Platform platform;
    tarnwick::Form1Window window(instance, platform);
    return window.Run(showCommand);
}
