#include "app/Form1.h"

#include <utility>

namespace tarnwick {

// The link leans while the pointer was last reported on it, or while it has
// the focus. Each move sets the look again, whatever it was: the label
// simply shows where the pointer was last reported.
void Form1::Label1_MouseMove(short, short, float, float) { PointerOnLink(true); }
void Form1::Form_MouseMove(short, short, float, float) { PointerOnLink(false); }
void Form1::label2_MouseMove(short, short, float, float) { PointerOnLink(false); }
void Form1::image1_MouseMove(short, short, float, float) { PointerOnLink(false); }

void Form1::PointerOnLink(bool on) {
    pointerOnLink_ = on;
    controls_.Label1.SetFontItalic(pointerOnLink_ || linkFocused_);
}

void Form1::Label1_GotFocus() {
    linkFocused_ = true;
    controls_.Label1.SetFontItalic(true);
}

void Form1::Label1_LostFocus() {
    linkFocused_ = false;
    spaceDownOnLink_ = false;
    controls_.Label1.SetFontItalic(pointerOnLink_);
}

// Two stops, so Tab and Shift+Tab both go to the other one. With Ctrl or
// Alt held it is another key.
void Form1::Form_KeyDown(short KeyCode, short Shift) {
    if (KeyCode != Key::Tab || (Shift & (CtrlMask | AltMask))) return;
    if (linkFocused_) {
        controls_.Command1.SetFocus();
    } else {
        controls_.Label1.SetFocus();
    }
}

// Enter opens the site when pressed, once however long it is held; Space
// when released, as it presses a button.
void Form1::Label1_KeyDown(short KeyCode, short, bool Repeated) {
    if (KeyCode == Key::Return && !Repeated) controls_.Label1.PostClick();
    if (KeyCode == Key::Space) spaceDownOnLink_ = true;
}

void Form1::Label1_KeyUp(short KeyCode, short) {
    if (KeyCode == Key::Space && std::exchange(spaceDownOnLink_, false)) controls_.Label1.PostClick();
}

// An elevated program must not hand its administrator rights to the
// browser: it asks the desktop's shell, which runs as the user, and when
// that cannot be had it opens nothing rather than fall back to its own call.
void Form1::Label1_Click() {
    const std::wstring address(WebSiteAddress);
    if (platform_.IsElevated()) {
        platform_.OpenAsDesktopUser(L"Open", address);
    } else {
        platform_.OpenAddress(hWnd(), L"Open", address);
    }
}

}  // namespace tarnwick
