#pragma once

#include <windows.h>

#include <string>

#include "platform/Failure.h"

namespace tarnwick::win32 {

// The failure for the calling thread's last Win32 error, naming what failed.
Failure LastErrorFailure(const std::wstring& what);
Failure ErrorFailure(DWORD error, const std::wstring& what);
// ERROR_UNTRUSTED_MOUNT_POINT, newer than the headers: with redirection
// trust on, an open met a junction a standard user made.
constexpr DWORD ErrorUntrustedMountPoint = 448;

// Errors that mean "there is nothing at this path", as opposed to "cannot tell".
bool MeansAbsent(DWORD error);

}  // namespace tarnwick::win32
