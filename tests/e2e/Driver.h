#pragma once

// Drives the real tarnwick.exe from a second process in the same Wine
// prefix: starts it, finds its window and boxes, reads and presses them,
// and lays out the browser folder the way a test asks.

#include <windows.h>

#include "tests/common/PreferenceFile.h"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace tarnwick::e2e {

using namespace std::chrono_literals;

inline const std::wstring DefaultFolder = L"C:\\Program Files\\Mozilla Firefox\\";
inline const std::wstring MarkerFolder = L"C:\\Program Files\\Mozilla Firefox\\i386";
inline const std::wstring ProfileFolder = L"C:\\Program Files\\Mozilla Firefox\\defaults\\profile\\";
inline const std::wstring PrefsFile =
    L"C:\\Program Files\\Mozilla Firefox\\defaults\\profile\\user.js";
inline const std::wstring DefaultsFolder = L"C:\\Program Files\\Mozilla Firefox\\defaults\\";
inline const std::wstring BackupFile = DefaultsFolder + L"user.js.tarnwick-original";
// Where versions before this one kept it.
inline const std::wstring EarlierBackupFile = PrefsFile + L".tarnwick-original";
inline const std::wstring X86Folder = L"C:\\Program Files (x86)\\Mozilla Firefox\\";
inline const std::wstring X86MarkerFolder = X86Folder + L"i386";
inline const std::wstring X86PrefsFile = X86Folder + L"defaults\\profile\\user.js";

inline const std::string& PayloadFile = tarnwick::expected::ExpectedPreferenceFile;

// ---- files ----
void RemoveTree(const std::wstring& path);  // also clears read-only flags
void MakeFolders(const std::wstring& path);
void WriteBytes(const std::wstring& path, const std::string& bytes);
std::optional<std::string> ReadBytes(const std::wstring& path);
bool IsFolder(const std::wstring& path);
bool IsFile(const std::wstring& path);
void SetReadOnly(const std::wstring& path, bool readOnly);
// Every file and folder below `root` with its content, for "left as it was".
std::vector<std::pair<std::wstring, std::string>> Snapshot(const std::wstring& root);
// A browser folder laid out fresh, with defaults\profile, and no other.
void LayOutBrowser(const std::wstring& folder = DefaultFolder);
// The same, leaving any other browser where it is.
void LayOutBrowserBeside(const std::wstring& folder);
void RemoveBrowser();  // both the default and the 32-bit browser's folder
std::wstring DriverFolder();  // where this driver (and tarnwick.exe) lives
// The program under test: TARNWICK_EXE when set, else tarnwick.exe beside the driver.
std::wstring ProgramPath();
std::wstring RigFile(const std::wstring& name);  // a file in the rig's folder, as a Windows path
// stand-ins\firefox-<version>.exe laid out as the browser's firefox.exe in `folder`.
void CopyStandIn(const wchar_t* version, const std::wstring& folder);

// ---- links, made and removed from the Linux side ----
// Wine makes no links through Win32 and cannot remove them either, but it
// runs a Linux program handed to CreateProcessW and names the Linux path of
// a Windows one.
bool UnderWine();
// Whether Windows here has Program Files (x86), as it tells every process
// of a 64-bit system: false on 32-bit Windows (a 32-bit Wine prefix).
bool WindowsHasX86ProgramFiles();
std::string LinuxPath(const std::wstring& windowsPath);  // empty when there is none
std::wstring Wide(const std::string& utf8);
// Wine gives back no process handle for a Linux program, so callers poll
// for its effect on disk instead of waiting for it.
bool StartLinux(std::wstring commandLine);
void MakeLinuxLink(const std::wstring& link, const std::wstring& target);
// Whether opening `path` lands somewhere else than at that name in its
// folder: a link to a file, as Wine shows one.
bool LeadsElsewhere(const std::wstring& path);
void RemoveLinuxLink(const std::wstring& link);
// RemoveTree stops at a link under Wine: take them away first.
void RemoveLinksBelow(const std::wstring& folder);

// ---- windows ----
struct WindowInfo {
    HWND hwnd;
    std::wstring className;
    std::wstring text;
    RECT rect;  // in the parent's client coordinates for children, screen for top level
    LONG_PTR style;
    LONG_PTR exStyle;
    int id;
};
std::wstring ClassOf(HWND hwnd);
std::wstring TextOf(HWND hwnd);
std::vector<WindowInfo> Children(HWND parent);
std::wstring Describe(const std::vector<WindowInfo>& windows);

// A box or dialog of the program, as a person sees it.
struct Box {
    HWND hwnd = nullptr;
    std::wstring title;
    std::wstring text;         // the message text (empty for the folder dialog)
    std::vector<int> buttons;  // ids of the push buttons shown
    bool topmost = false;
    bool isFolderDialog = false;
    bool hasIcon = false;
};

// What a box says and offers, as a person sees it.
struct BoxLook {
    std::wstring text;
    std::vector<int> buttons;
    bool icon;
    bool topmost;
};
inline const BoxLook CompleteBox{L"Patching is complete.", {IDOK}, true, false};
inline const BoxLook LookAgainBox{
    L"Tarnwick could not find Firefox in this folder, would you like to look again?",
    {IDYES, IDNO}, true, false};
inline const BoxLook CannotFindBox{
    L"Tarnwick cannot find your Firefox folder, would you like to locate it?",
    {IDYES, IDNO}, true, false};
inline const BoxLook ConfirmUndoBox{L"This will undo the patch, are you sure you want to do this?",
                                    {IDYES, IDNO}, true, false};
// System-modal, so it stays above every other window; no icon.
inline const BoxLook RemovedBox{L"Tweak Removed. Thankyou for trying out the patch.", {IDOK}, false,
                                true};

class App {
public:
    App();  // starts tarnwick.exe and waits for its window
    ~App();  // never leaves the process behind
    App(const App&) = delete;
    App& operator=(const App&) = delete;

    HWND Window() const { return window_; }
    DWORD ProcessId() const { return processId_; }
    HWND Control(const wchar_t* className, int nth = 0) const;
    HWND Command1() const;
    HWND Text1() const;
    HWND Label1() const;
    HWND Label2() const;
    RECT Logo() const;  // drawn by the window itself; in its client coordinates

    // Clicks the button the way the keyboard would: no pointer needed.
    void ClickButton();
    // A key pressed at the window in front: held for `downs` key-downs (the
    // later ones repeats), with `modifier` held round it when there is one.
    void PressKey(WORD key, int downs = 1, WORD modifier = 0);
    HWND Focus() const;  // the program's keyboard focus, read across processes
    // The next box or dialog the program shows; fails the test if none comes.
    Box NextBox(std::chrono::milliseconds timeout = 10s);
    bool AnyBox() const;
    void Press(const Box& box, int buttonId);
    void ChooseFolder(const Box& dialog, const std::wstring& path);
    // Exit code once the process has ended; nullopt if it is still running.
    std::optional<DWORD> WaitForExit(std::chrono::milliseconds timeout = 10s);
    bool Running() const;
    void Close();  // the window's close command

    // Pointer and screen.
    void MovePointerTo(HWND control, int x, int y);  // client coordinates of `control`
    void ClickPointerAt(HWND control, int x, int y, int clicks = 1);
    void Screenshot(const std::wstring& name) const;  // PNG beside the driver

private:
    HANDLE process_ = nullptr;
    DWORD processId_ = 0;
    HWND window_ = nullptr;
};

// The next box of `app`, checked against `look`.
Box ExpectBox(App& app, const BoxLook& look);

// A run with switches, which must show nothing: it is polled while it runs
// for any visible top-level window of its own, and its standard output is
// read through a pipe.
struct SwitchedRun {
    std::optional<DWORD> exitCode;  // nullopt: it did not end in time (it is ended then)
    std::string output;             // standard output, UTF-8
    bool windowShown = false;
};
SwitchedRun RunSwitched(const std::wstring& arguments, std::chrono::milliseconds timeout = 20s);
// A run with switches ended by force after `lifetime`, as a deployment
// tool's time-out or a power cut would end it; its exit code when it ended
// by itself first.
std::optional<DWORD> RunSwitchedKilledAfter(const std::wstring& arguments,
                                            std::chrono::milliseconds lifetime);
// Several runs started together, each with its own arguments.
std::vector<SwitchedRun> RunSwitchedTogether(const std::vector<std::wstring>& arguments,
                                             std::chrono::milliseconds timeout = 90s);

// The names of the modules loaded in a process.
std::vector<std::wstring> ModulesOf(DWORD processId);

// Pixels of a rectangle of the screen, top-down rows of 0x00RRGGBB.
struct Capture {
    int width = 0;
    int height = 0;
    std::vector<UINT32> pixels;
    bool operator==(const Capture& other) const {
        return width == other.width && height == other.height && pixels == other.pixels;
    }
};
Capture CaptureScreen(const RECT& screenRect);
Capture CaptureClient(HWND hwnd);
void SavePng(const Capture& capture, const std::wstring& path);
Capture LoadBitmapFile(const std::wstring& path);  // 24 bits a pixel; no pixels when it cannot be read

UINT ScreenDpi();
// The labels' font as the program makes it: Verdana 8.25 pt at the screen's
// DPI, upright or italic. The caller deletes it.
HFONT MakeLabelFont(bool italic);
// The ratio of the most contrasting pixel to the ground (the commonest
// pixel), leaving out `covered`: how readable the ink of a label is.
struct InkOnGround {
    UINT32 ground;
    double ratio;
};
InkOnGround Contrast(const Capture& shown, const RECT& covered = RECT{});
double ContrastRatio(UINT32 a, UINT32 b);  // WCAG 2, colours as 0x00RRGGBB

// A label drawn in this process as the program should draw it: Verdana
// 8.25 pt, upright or italic, on white, on the same display.
Capture ReferenceLabel(const std::wstring& text, SIZE size, bool italic);
// Pixels that differ, leaving out `covered` (a sibling's part); -1 when the sizes differ.
int Differences(const Capture& shown, const Capture& expected, const RECT& covered = RECT{});
// The part of `label` that `sibling` lies over, in the label's coordinates.
RECT CoveredBy(HWND label, HWND sibling);

// Waits until `condition` holds, polling; false on time-out.
template <typename Condition>
bool WaitUntil(Condition condition, std::chrono::milliseconds timeout = 5s) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < end) {
        if (condition()) return true;
        ::Sleep(20);
    }
    return condition();
}

}  // namespace tarnwick::e2e
