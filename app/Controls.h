#pragma once

#include <string>

#include "platform/OwnerWindow.h"
#include "platform/Platform.h"

namespace tarnwick {

// What the window's handlers ask of one control. A button's or label's
// caption and a text box's text are both its text.
class Control {
public:
    virtual ~Control() = default;
    virtual std::wstring Text() const = 0;
    virtual void SetText(const std::wstring& text) = 0;
    virtual bool FontItalic() const = 0;
    virtual void SetFontItalic(bool italic) = 0;
    virtual void SetEnabled(bool enabled) = 0;
    // Takes the keyboard focus as the keyboard moves it: shown from then on,
    // even where the system had hidden it.
    virtual void SetFocus() = 0;
    // Queues the command a click on the control sends: it runs from the
    // window's message loop, after the event at hand.
    virtual void PostClick() = 0;
};

struct Form1Controls {
    OwnerWindow& Form;
    Control& Command1;
    Control& Text1;
    Control& Label2;
    Control& Label1;
};

}  // namespace tarnwick
