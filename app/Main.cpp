#include <windows.h>
#include <commctrl.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "app/Form1Window.h"
#include "app/StartupStages.h"
#include "app/Unattended.h"
#include "platform/win32/Handles.h"
#include "platform/win32/SystemLibraries.h"
#include "platform/win32/Win32Output.h"
#include "platform/win32/Win32Platform.h"

// With no arguments: one window, one click. With switches: the same
// command run unattended, for deployment tools, with nothing on screen.
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    tarnwick::win32::LoadLibrariesFromTheSystemOnly();
    tarnwick::win32::FollowNoJunctionsOfStandardUsers();
    tarnwick::MarkStage(tarnwick::Stage::Entry);
    // Hide the system's critical-error boxes (such as "no disk in drive"):
    // a failing probe is reported by the program itself.
    ::SetErrorMode(SEM_FAILCRITICALERRORS);

    if (__argc > 1) {
        // Nobody may be there to close a crash report either.
        ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
        tarnwick::win32::Win32Platform platform;
        tarnwick::win32::Win32Output output;
        int exitCode = tarnwick::ExitCode::Failed;
        try {
            const std::vector<std::wstring> arguments(__wargv + 1, __wargv + __argc);
            exitCode = tarnwick::RunUnattended(platform, arguments, output);
        } catch (...) {
            // Out of memory before the run began: the exit code says it.
        }
        return exitCode;
    }

    using InitCommonControlsExFn = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
    static const auto initCommonControls = tarnwick::win32::SystemFunctionOrNull<
        InitCommonControlsExFn, tarnwick::win32::CommonControls>("InitCommonControlsEx");
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
    if (initCommonControls) initCommonControls(&controls);

    tarnwick::win32::Win32Platform platform;
    tarnwick::Form1Window window(instance, platform);
    if (!window.Create()) return window.ExitCode();
    tarnwick::MarkStage(tarnwick::Stage::WindowCreated);
    window.Show(showCommand);
    tarnwick::MarkStage(tarnwick::Stage::FirstPainted);
    return window.Serve();
}
