#pragma once

#include <windows.h>

#include "platform/win32/Handles.h"
#include "platform/win32/Win32Platform.h"

namespace tarnwick::win32 {

struct ModuleTraits {
    static HMODULE Invalid() noexcept { return nullptr; }
    static bool IsValid(HMODULE m) noexcept { return m != nullptr; }
    static void Close(HMODULE m) noexcept { ::FreeLibrary(m); }
};

// A routine of shell32, looked up by name on its first call. The shell is
// large and only a click needs it, so the window comes up without it.
template <typename Function>
Function ShellFunction(const char* name) {
    static const UniqueResource<HMODULE, ModuleTraits> shell(::LoadLibraryW(L"shell32.dll"));
    if (!shell) throw LastErrorFailure(L"shell32.dll could not be loaded.");
    auto* routine = ::GetProcAddress(shell.get(), name);
    if (!routine) {
        const std::string text(name);
        throw LastErrorFailure(L"shell32.dll has no " + std::wstring(text.begin(), text.end()) + L".");
    }
    return reinterpret_cast<Function>(reinterpret_cast<void*>(routine));
}

}  // namespace tarnwick::win32
