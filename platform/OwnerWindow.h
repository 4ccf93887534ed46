#pragma once

#include "platform/Platform.h"

namespace tarnwick {

// A window as the owner of dialogs and shell calls: only its handle is read.
class OwnerWindow {
public:
    virtual ~OwnerWindow() = default;
    virtual WindowHandle hWnd() const = 0;
};

}  // namespace tarnwick
