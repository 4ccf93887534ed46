#include "app/Form1.h"

namespace tarnwick {

// The hover effect sets the flag on every move, whatever it was: the label
// simply shows where the pointer was last reported.
void Form1::Label1_MouseMove(short, short, float, float) { controls_.Label1.SetFontItalic(true); }
void Form1::Form_MouseMove(short, short, float, float) { controls_.Label1.SetFontItalic(false); }
void Form1::label2_MouseMove(short, short, float, float) { controls_.Label1.SetFontItalic(false); }
void Form1::image1_MouseMove(short, short, float, float) { controls_.Label1.SetFontItalic(false); }

void Form1::Label1_Click() {
    platform_.OpenAddress(hWnd(), L"Open", std::wstring(WebSiteAddress));
}

}  // namespace tarnwick
