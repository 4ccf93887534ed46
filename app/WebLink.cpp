#include "app/Form1.h"

namespace tarnwick {

// The hover effect sets the flag on every move, whatever it was: the label
// simply shows where the pointer was last reported.
void Form1::Label1_MouseMove(short, short, float, float) { controls_.Label1.SetFontItalic(true); }
void Form1::Form_MouseMove(short, short, float, float) { controls_.Label1.SetFontItalic(false); }
void Form1::label2_MouseMove(short, short, float, float) { controls_.Label1.SetFontItalic(false); }
void Form1::image1_MouseMove(short, short, float, float) { controls_.Label1.SetFontItalic(false); }

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
