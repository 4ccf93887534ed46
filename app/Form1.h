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

    Platform& platform_;
    Form1Controls controls_;
    PatchEngine engine_;
    std::unique_ptr<Watchdog> watchdog_;
    bool waiting_ = false;
    std::optional<std::wstring> instructionsBeforeWaiting_;  // while the notice shows
};

}  // namespace tarnwick
