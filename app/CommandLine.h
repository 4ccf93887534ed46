#pragma once

#include <string>
#include <vector>

#include "patch/Locations.h"

namespace tarnwick {

// What the program was asked to do. With no arguments it shows its window;
// with any, it runs unattended and shows nothing at all.
struct CommandLine {
    enum class Verb { Window, Patch, Undo, Help, Invalid };
    Verb verb = Verb::Window;
    std::wstring folder;  // /folder: a full path, ending in a backslash
    bool force = false;   // /force: patch even a browser that would ignore it
    // /only: the one of the browser's own folders a patch may use, as an
    // installer's rollback puts the tweak back exactly where it was.
    const KnownInstall* only = nullptr;
    std::wstring log;     // /log: the file the run's line is added to, whatever else fails
    std::wstring error;   // Invalid: what was not understood
};

// Switches are case-insensitive and take "/" or "-". `arguments` leaves out
// the program's own name.
CommandLine ParseCommandLine(const std::vector<std::wstring>& arguments);

// The usage text, with the exit codes.
extern const wchar_t* const Usage;

}  // namespace tarnwick
