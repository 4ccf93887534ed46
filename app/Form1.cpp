#include "app/Form1.h"

#include "patch/Locations.h"

namespace tarnwick {

Form1::Form1(Platform& platform, Form1Controls controls)
    : platform_(platform), controls_(controls) {}

void Form1::Form_Load() {
    if (DirectoryExists(std::wstring(MarkerFolder))) {
        controls_.Command1.SetText(std::wstring(UndoPatchCaption));
    }
    // The instructions follow what the button offers, as it reads now.
    if (controls_.Command1.Text() == PatchCaption) {
        controls_.Label2.SetText(std::wstring(PatchInstructions));
    } else {
        controls_.Label2.SetText(std::wstring(UndoInstructions));
    }
}

}  // namespace tarnwick
