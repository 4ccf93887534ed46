#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "app/Form1.h"
#include "app/Layout.h"
#include "platform/win32/AccessibleLink.h"
#include "platform/win32/Handles.h"
#include "platform/win32/Win32Platform.h"

namespace tarnwick {

// A Win32 child control as the handlers see it.
class Win32Control final : public Control {
public:
    Win32Control() = default;
    void Attach(HWND hwnd, HFONT upright, HFONT italic) noexcept;
    // Redraws nothing: the controls are not shown yet, or are all redrawn after.
    void SetFonts(HFONT upright, HFONT italic) noexcept;
    HWND hwnd() const noexcept { return hwnd_; }
    // Puts `procedure` in front of the control's own, which CallOwn calls.
    // Its user data is handed to the procedure.
    void Subclass(WNDPROC procedure, void* data) noexcept;
    LRESULT CallOwn(UINT message, WPARAM wParam, LPARAM lParam) const noexcept {
        return ::CallWindowProcW(ownProc_, hwnd_, message, wParam, lParam);
    }

    std::wstring Text() const override;
    void SetText(const std::wstring& text) override;
    bool FontItalic() const override { return italic_; }
    void SetFontItalic(bool italic) override;
    void SetEnabled(bool enabled) override;
    void SetFocus() override;
    void PostClick() override;

private:
    void ApplyFont(bool redraw) noexcept;
    HWND hwnd_ = nullptr;
    WNDPROC ownProc_ = ::DefWindowProcW;
    HFONT upright_ = nullptr;
    HFONT italicFont_ = nullptr;
    bool italic_ = false;
    std::wstring leftOutText_;  // the benchmark's build, with no window
};

// The Win32 side of the window: creates the controls, lays them out for the
// window's DPI, and turns each message into a call of its named handler.
// Every handler runs inside Guard, the one place where a failure is caught.
class Form1Window final : public OwnerWindow {
public:
    Form1Window(HINSTANCE instance, win32::Win32Platform& platform);
    ~Form1Window() override;
    Form1Window(const Form1Window&) = delete;
    Form1Window& operator=(const Form1Window&) = delete;

    // Creates the window and runs the load handler; false when the program
    // ended there (then ExitCode says how).
    bool Create();
    // Shows the window and paints it.
    void Show(int showCommand) noexcept;
    // Serves events until the program ends; returns the process exit code.
    int Serve() noexcept;
    int ExitCode() const noexcept { return exitCode_; }

    WindowHandle hWnd() const override { return reinterpret_cast<WindowHandle>(hwnd_); }

private:
    // No exception ever leaves these for the system's frames.
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam,
                                       LPARAM lParam) noexcept;
    static LRESULT CALLBACK ControlProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) noexcept;
    LRESULT HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) noexcept;

    HWND MakeControl(const wchar_t* kind, const wchar_t* text, DWORD style, DWORD exStyle, int id,
                     const Twips& box);
    void CreateControls();
    void MakePayloadBox();
    void PlaceFrame() noexcept;
    void ApplyFonts(UINT dpi) noexcept;
    void PlaceControls(UINT dpi) noexcept;
    void MouseMoved(HWND source, WPARAM wParam, LPARAM lParam) noexcept;
    void KeyPressed(HWND source, UINT message, WPARAM key, LPARAM flags) noexcept;
    void LinkFocusChanged(bool focused) noexcept;
    bool PaintLinkWithFocus() noexcept;
    void DrawLinkFocus(HDC dc) noexcept;
    void RememberFocus() noexcept;
    void RestoreFocus() noexcept;
    void Paint() noexcept;
    void DrawLogo(HDC dc) noexcept;
    void DrawLeftOutLabels(HDC dc) noexcept;
    void ReadColourScheme() noexcept;
    HBRUSH GroundBrush() const noexcept;
    // Runs a handler; false when it failed or ended the program.
    template <typename Handler>
    bool Guard(Handler&& handler) noexcept;
    bool GuardCall(void (*call)(void*), void* handler) noexcept;
    void Fail(const Failure& failure) noexcept;
    void End(int exitCode) noexcept;

    HINSTANCE instance_;
    win32::Win32Platform& platform_;
    HWND hwnd_ = nullptr;
    UINT dpi_ = 96;
    bool creating_ = false;  // inside CreateWindowEx: no owner yet, nothing to destroy
    bool ended_ = false;
    bool payloadBoxDue_ = true;  // made once the window first waits for input
    // A click's command runs, boxes and waits included: no second click may
    // enter it, and a close is put off until it is over.
    bool inCommand_ = false;
    bool closePending_ = false;
    bool systemColours_ = false;  // window text on window, instead of on white
    bool linkFocused_ = false;
    HWND focusToRestore_ = nullptr;  // the button or the link, when the window was last left
    int exitCode_ = 0;

    win32::UniqueHicon icon_;
    win32::UniqueHicon smallIcon_;
    win32::UniqueHfont labelFont_;
    win32::UniqueHfont labelItalicFont_;
    win32::UniqueHfont defaultFont_;
    win32::UniqueHbitmap logo_;

    Win32Control command1_;
    Win32Control text1_;
    Win32Control label2_;
    Win32Control label1_;

    std::unique_ptr<Form1> form_;
    win32::LinkAccessibility linkAccessibility_{WebSiteAddress.data()};
};

}  // namespace tarnwick
