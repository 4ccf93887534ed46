#pragma once

#include <windows.h>

#include <string>

namespace tarnwick::win32 {

// The shell's own ShellExecuteW: the browser gets this process's rights.
// Only a shell that cannot be loaded at all raises.
void OpenWithOwnRights(HWND owner, const std::wstring& verb, const std::wstring& address);

// Hands the address to the desktop's shell (Explorer), so the browser runs
// with the signed-in user's rights and may come to the front. False when
// that shell cannot be reached: no Explorer, another shell, a COM error.
bool OpenThroughDesktopShell(const std::wstring& verb, const std::wstring& address) noexcept;

bool IsProcessElevated() noexcept;

}  // namespace tarnwick::win32
