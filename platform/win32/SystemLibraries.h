#pragma once

#include <windows.h>

#include <string>

#include "platform/win32/Handles.h"
#include "platform/win32/Errors.h"

namespace tarnwick::win32 {

struct ModuleTraits {
    static HMODULE Invalid() noexcept { return nullptr; }
    static bool IsValid(HMODULE m) noexcept { return m != nullptr; }
    static void Close(HMODULE m) noexcept { ::FreeLibrary(m); }
};

// Libraries only some commands need: the window comes up without them.
struct Shell32 {
    static constexpr wchar_t Name[] = L"shell32.dll";
};
struct VersionLibrary {
    static constexpr wchar_t Name[] = L"version.dll";
};
struct Ole32 {
    static constexpr wchar_t Name[] = L"ole32.dll";
};
struct OleAut32 {
    static constexpr wchar_t Name[] = L"oleaut32.dll";
};

// Loaded by full path from the system folder, never from the program's own
// folder: an elevated program must not pick up a planted copy there.
inline HMODULE LoadSystemLibrary(const wchar_t* name) noexcept {
    wchar_t folder[MAX_PATH] = {};
    const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return nullptr;
    const std::wstring path = std::wstring(folder, length) + L"\\" + name;
    return ::LoadLibraryW(path.c_str());
}

// A system library, loaded on first use and kept until the program ends;
// null when it cannot be loaded.
template <typename Library>
HMODULE SystemLibraryOrNull() noexcept {
    static const UniqueResource<HMODULE, ModuleTraits> library(LoadSystemLibrary(Library::Name));
    return library.get();
}

template <typename Library>
HMODULE SystemLibrary() {
    HMODULE library = SystemLibraryOrNull<Library>();
    if (!library) throw LastErrorFailure(std::wstring(Library::Name) + L" could not be loaded.");
    return library;
}

// A routine of a system library, looked up by name. Callers keep it in a
// static of their own, so each is looked up once.
template <typename Function, typename Library = Shell32>
Function SystemFunction(const char* name) {
    auto* routine = ::GetProcAddress(SystemLibrary<Library>(), name);
    if (!routine) {
        const std::string text(name);
        throw LastErrorFailure(std::wstring(Library::Name) + L" has no " +
                               std::wstring(text.begin(), text.end()) + L".");
    }
    return reinterpret_cast<Function>(reinterpret_cast<void*>(routine));
}

// The same for a caller that cannot fail: null when there is no such routine.
template <typename Function, typename Library>
Function SystemFunctionOrNull(const char* name) noexcept {
    HMODULE library = SystemLibraryOrNull<Library>();
    auto* routine = library ? ::GetProcAddress(library, name) : nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void*>(routine));
}

}  // namespace tarnwick::win32
