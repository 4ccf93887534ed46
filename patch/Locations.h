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

// Where the 32-bit browser lives on 64-bit Windows: the builds that read
// the tweak (up to version 45) were nearly always 32-bit ones.
inline constexpr std::wstring_view X86Folder = L"C:\\Program Files (x86)\\Mozilla Firefox\\";
inline constexpr std::wstring_view X86MarkerFolder =
    L"C:\\Program Files (x86)\\Mozilla Firefox\\i386";
inline constexpr std::wstring_view X86PrefsFile =
    L"C:\\Program Files (x86)\\Mozilla Firefox\\defaults\\profile\\user.js";

// What says a browser is in a known folder: its profile defaults folder,
// where the tweak goes, or else its program file. A folder with neither (an
// uninstaller's leftover) is no browser.
inline constexpr std::wstring_view DefaultProfileFolder =
    L"C:\\Program Files\\Mozilla Firefox\\defaults\\profile\\";
inline constexpr std::wstring_view DefaultProgramFile =
    L"C:\\Program Files\\Mozilla Firefox\\firefox.exe";
inline constexpr std::wstring_view X86ProfileFolder =
    L"C:\\Program Files (x86)\\Mozilla Firefox\\defaults\\profile\\";
inline constexpr std::wstring_view X86ProgramFile =
    L"C:\\Program Files (x86)\\Mozilla Firefox\\firefox.exe";

// A folder the program knows, with the marker that records the tweak in it.
// Undo reaches only these: a marker anywhere else would promise an undo
// that cannot be.
struct KnownInstall {
    std::wstring_view folder;  // ends in a backslash
    std::wstring_view marker;
    std::wstring_view profileFolder;
    std::wstring_view programFile;
};
inline constexpr KnownInstall DefaultInstall{DefaultFolder, MarkerFolder, DefaultProfileFolder,
                                             DefaultProgramFile};
inline constexpr KnownInstall X86Install{X86Folder, X86MarkerFolder, X86ProfileFolder, X86ProgramFile};
// In the order a click looks at them, and undo goes through them.
inline constexpr const KnownInstall* KnownInstalls[] = {&DefaultInstall, &X86Install};

// Single names, each opened in the folder that holds it. The browser copies
// `defaults\profile` whole into every new profile, so nothing but user.js
// goes there: a user.js that was there before the tweak is kept one level
// up, so undo can put the administrator's own file back, and new files are
// written there too before they are renamed into place.
inline constexpr std::wstring_view MarkerName = L"i386";
inline constexpr std::wstring_view BrowserProgramName = L"firefox.exe";
inline constexpr std::wstring_view DefaultsName = L"defaults";
inline constexpr std::wstring_view ProfileName = L"profile";
inline constexpr std::wstring_view PrefsName = L"user.js";
inline constexpr std::wstring_view KeptOriginalName = L"user.js.tarnwick-original";
// A user.js that was changed after the patch is never thrown away: it is
// kept in `defaults\` as "user.js.changed-<n>", under a name nothing had.
inline constexpr std::wstring_view ChangedPrefix = L"user.js.changed-";

// The same places below a browser folder, as messages name them.
inline constexpr std::wstring_view DefaultsRelativePath = L"defaults\\";
inline constexpr std::wstring_view ProfileRelativePath = L"defaults\\profile\\";

// New files are made under names of the program's own in `defaults\`,
// "tarnwick-<n>.tmp"; earlier versions left theirs in `defaults\profile` as
// "TWK<hex>.tmp", and kept the original there too, under the same name as
// now: still found, put back, and moved up. Either kind of temporary file
// found is a leftover of a run cut short.
inline constexpr std::wstring_view TemporaryPrefix = L"tarnwick-";
inline constexpr std::wstring_view TemporarySuffix = L".tmp";
inline constexpr std::wstring_view EarlierTemporaryPrefix = L"TWK";

}  // namespace tarnwick
