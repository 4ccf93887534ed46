#pragma once

#include <windows.h>

#include <string>

#include "platform/Platform.h"
#include "platform/win32/Handles.h"

namespace tarnwick::win32 {

// The output of a run without a window. The program stays a GUI program:
// it writes to standard output when the caller redirected it (as UTF-8 to
// a file or pipe), otherwise to the console of the process that started
// it, if that has one; otherwise nowhere.
class Win32Output final : public Output {
public:
    void Write(const std::wstring& text) override;

private:
    void Open() noexcept;
    bool opened_ = false;
    HANDLE target_ = INVALID_HANDLE_VALUE;  // not owned: the standard handle
    UniqueFile console_;                    // owned: the parent's console
    bool isConsole_ = false;
};

}  // namespace tarnwick::win32
