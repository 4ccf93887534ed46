#pragma once

#include <windows.h>

#include <string>

namespace tarnwick::win32 {

// Opens an address the way the user would from the desktop. An elevated
// process hands the request to the desktop's own shell, so the browser does
// not inherit administrator rights; otherwise, or when the desktop shell
// cannot be reached, the plain shell call. The shell's answer is not
// reported: a failure to open shows nothing. Only a shell that cannot be
// loaded at all raises.
void OpenWithUserRights(HWND owner, const std::wstring& verb, const std::wstring& address);

bool IsProcessElevated() noexcept;

}  // namespace tarnwick::win32
