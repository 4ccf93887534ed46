#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "app/Controls.h"
#include "patch/PatchEngine.h"
#include "platform/Platform.h"

namespace tarnwick {

// The maker's site: the link label shows the host, a click opens the address.
// A reserved example name, short enough to fit its label whole, upright and
// italic (about 76 of 89 pixels at 96 DPI).
inline constexpr std::wstring_view WebSiteHost = L"tarn.example";
inline constexpr std::wstring_view WebSiteAddress = L"http://tarn.example/";

inline constexpr std::wstring_view PatchCaption = L"Patch";
inline constexpr std::wstring_view UndoPatchCaption = L"Undo Patch";
inline constexpr std::wstring_view PatchInstructions =
    L"Simply Click The Patch Button and you should have faster browsing in no time!";
inline constexpr std::wstring_view UndoInstructions =
    L"Simply Click The Undo Patch Button and this tweak will be uninstalled.";
// Shown in place of the instructions while a click waits for another run.
inline constexpr std::wstring_view WaitingInstructions =
    L"Waiting for another run of Tarnwick to finish\u2026";

// Key codes and shift bits as the key handlers take them.
namespace Key {
inline constexpr short Tab = 9;
inline constexpr short Return = 13;
inline constexpr short Space = 32;
}  // namespace Key
inline constexpr short ShiftMask = 1;
inline constexpr short CtrlMask = 2;
inline constexpr short AltMask = 4;

// The program's one window: its handlers and the state that outlives an
// event. It reaches its controls through Form1Controls and the OS only
// through Platform, so every handler runs the same on a test bench. The
// patch engine it owns asks its questions in the window's message boxes.
class Form1 : public OwnerWindow, private Conversation {
public:
    Form1(Platform& platform, Form1Controls controls);

    // Start-up and the patch command.
    void Form_Load();
    void Command1_Click();

    // The web link.
    void Label1_MouseMove(short Button, short Shift, float X, float Y);
    void Form_MouseMove(short Button, short Shift, float X, float Y);
    void label2_MouseMove(short Button, short Shift, float X, float Y);
    void image1_MouseMove(short Button, short Shift, float X, float Y);
    void Label1_Click();

    // The keyboard. The form sees each key first: Tab and Shift+Tab move
    // between the button and the link. On the link, Enter and Space open the
    // site as a click does; it leans while it has the focus.
    void Form_KeyDown(short KeyCode, short Shift);
    void Label1_KeyDown(short KeyCode, short Shift, bool Repeated);
    void Label1_KeyUp(short KeyCode, short Shift);
    void Label1_GotFocus();
    void Label1_LostFocus();

    WindowHandle hWnd() const override { return controls_.Form.hWnd(); }

    const std::wstring& browserFolder() const { return engine_.browserFolder(); }

private:
    int Show(const Message& message) override;
    std::wstring ChooseBrowserFolder() override;
    void WaitingForAnotherRun(std::chrono::milliseconds waited) override;
    void DoneWaiting() override;

    // Armed while the command's work runs, and let go while a person is
    // asked or told anything.
    void ArmWatchdog();
    void Disarm();
    void PointerOnLink(bool on);

    Platform& platform_;
    Form1Controls controls_;
    PatchEngine engine_;
    std::unique_ptr<Watchdog> watchdog_;
    bool waiting_ = false;
    std::optional<std::wstring> instructionsBeforeWaiting_;  // while the notice shows
    bool pointerOnLink_ = false;  // where the pointer was last reported
    bool linkFocused_ = false;
    bool spaceDownOnLink_ = false;  // Space opens on its release, if pressed here
};

}  // namespace tarnwick
