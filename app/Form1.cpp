#include "app/Form1.h"

#include <utility>

#include "app/Unattended.h"
#include "picker/Module1.h"

namespace tarnwick {

namespace {
constexpr std::wstring_view FolderPrompt = L"Please select your FireFox Directory";
// A wait shorter than this goes by without a word.
constexpr std::chrono::milliseconds WaitNoticeAfter{1000};
}  // namespace

Form1::Form1(Platform& platform, Form1Controls controls)
    : platform_(platform),
      controls_(controls),
      engine_(platform, *this, [this] { return controls_.Text1.Text(); }) {}

void Form1::Form_Load() {
    // Patched when a known folder's marker is there, as a click decides.
    if (engine_.IsPatched()) {
        controls_.Command1.SetText(std::wstring(UndoPatchCaption));
    }
    // The instructions follow what the button offers, as it reads now.
    if (controls_.Command1.Text() == PatchCaption) {
        controls_.Label2.SetText(std::wstring(PatchInstructions));
    } else {
        controls_.Label2.SetText(std::wstring(UndoInstructions));
    }
}

// Every way through the command ends the program: one run, one click. The
// watchdog is let go before a failure's run-time error box too.
void Form1::Command1_Click() {
    ArmWatchdog();
    try {
        engine_.Command(Request::Toggle);
    } catch (...) {
        // After the watchdog has stopped the run, this waits for its end.
        Disarm();
        throw;
    }
    Disarm();
    platform_.EndProgram();
}

// A step that never ends would leave the window frozen for ever: after the
// limit the run ends, and a box (with no owner, since the window's thread is
// the one that is stuck) says why, for as long as the person takes.
void Form1::ArmWatchdog() {
    watchdog_ = platform_.StartWatchdog(RunLimit, std::nullopt, [this](const std::wstring& stuckOn) {
        const Done done = engine_.Stop();
        return LastWord{RunLimitExitCode(done.changed), [this, text = RunLimitText(stuckOn, done)] {
                            platform_.ShowMessage(text, Style::OkStop);
                        }};
    });
}

// Once the watchdog has fired, this thread takes no further step: it keeps
// the window answering until the watchdog's box is closed and the program ends.
void Form1::Disarm() {
    if (watchdog_ && !watchdog_->LetGo()) AwaitTheWatchdog(platform_);
    watchdog_.reset();
}

int Form1::Show(const Message& message) {
    Disarm();
    const int answer = platform_.ShowMessage(message.text, message.style);
    ArmWatchdog();
    return answer;
}

std::wstring Form1::ChooseBrowserFolder() {
    Disarm();
    std::wstring folder = Module1::PickFolder(platform_, std::wstring(FolderPrompt), *this);
    ArmWatchdog();
    return folder;
}

// The window stays alive while the click waits for another run: the button
// takes no second click meanwhile, and after a moment the instructions say
// what the wait is for.
void Form1::WaitingForAnotherRun(std::chrono::milliseconds waited) {
    if (!waiting_) {
        waiting_ = true;
        controls_.Command1.SetEnabled(false);
    }
    if (waited >= WaitNoticeAfter && !instructionsBeforeWaiting_) {
        instructionsBeforeWaiting_ = controls_.Label2.Text();
        controls_.Label2.SetText(std::wstring(WaitingInstructions));
    }
}

void Form1::DoneWaiting() {
    if (instructionsBeforeWaiting_) {
        controls_.Label2.SetText(*std::exchange(instructionsBeforeWaiting_, std::nullopt));
    }
    if (std::exchange(waiting_, false)) controls_.Command1.SetEnabled(true);
}

}  // namespace tarnwick
