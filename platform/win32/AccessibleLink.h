#pragma once

#include <windows.h>

#include <optional>

#include "platform/win32/Com.h"
#include "platform/win32/Handles.h"

namespace tarnwick::win32 {

class LinkObject;

// What Active Accessibility clients, screen readers among them, are told
// about a static control that works as a link: a link named by its text,
// with the address as its value, whose default action is a click. Nothing
// is loaded until the first question: then COM comes up for this thread,
// for as long as this lives, and the object is made. When the control goes,
// the object is cut off from its clients.
class LinkAccessibility {
public:
    // `address` is a constant that outlives every client.
    explicit LinkAccessibility(const wchar_t* address) noexcept;
    ~LinkAccessibility();
    LinkAccessibility(const LinkAccessibility&) = delete;
    LinkAccessibility& operator=(const LinkAccessibility&) = delete;

    // The answer to WM_GETOBJECT sent to `link`; nullopt where the control's
    // own processing answers (every other object, UI Automation's included)
    // or the object cannot be had.
    std::optional<LRESULT> Answer(HWND link, WPARAM flags, LPARAM objectId) noexcept;
    // From now on every call of a client fails as for an object that is gone.
    void Disconnect() noexcept;

private:
    const wchar_t* address_;
    std::optional<com::OleSession> session_;
    ComPtr<LinkObject> object_;
};

}  // namespace tarnwick::win32
