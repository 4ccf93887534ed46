#include "app/Form1.h"

#include "picker/Module1.h"

namespace tarnwick {

namespace {
constexpr std::wstring_view FolderPrompt = L"Please select your FireFox Directory";
}  // namespace

Form1::Form1(Platform& platform, Form1Controls controls)
    : platform_(platform),
      controls_(controls),
      engine_(platform, *this, [this] { return controls_.Text1.Text(); }) {}

void Form1::Form_Load() {
    // The marker of the folder a click would use: for a browser in its
    // default folder, that is the default marker.
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

// Every way through the command ends the program: one run, one click.
void Form1::Command1_Click() {
    engine_.Command(Request::Toggle);
    platform_.EndProgram();
}

int Form1::Show(const Message& message) { return platform_.ShowMessage(message.text, message.style); }

std::wstring Form1::ChooseBrowserFolder() {
    return Module1::PickFolder(platform_, std::wstring(FolderPrompt), *this);
}

}  // namespace tarnwick
