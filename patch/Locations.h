#pragma once

#include <string_view>

namespace tarnwick {

// Where the browser is looked for first, and the files the tweak touches.
// Each is written out whole: none is built from another, so each can be
// read (and searched for) exactly as it appears on disk.
inline constexpr std::wstring_view DefaultFolder = L"C:\\Program Files\\Mozilla Firefox\\";
inline constexpr std::wstring_view MarkerFolder = L"C:\\Program Files\\Mozilla Firefox\\i386";
inline constexpr std::wstring_view DefaultPrefsFile =
    L"C:\\Program Files\\Mozilla Firefox\\defaults\\profile\\user.js";
inline constexpr std::wstring_view PrefsRelativePath = L"defaults\\profile\\user.js";

// The browser's program file in its folder; its version says whether the
// browser reads the tweak at all.
inline constexpr std::wstring_view BrowserProgramName = L"firefox.exe";

// A user.js that was there before the tweak is kept beside it under this
// suffix, so undo can put the administrator's own file back.
inline constexpr std::wstring_view PrefsBackupSuffix = L".tarnwick-original";

}  // namespace tarnwick
