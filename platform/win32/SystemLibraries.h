#pragma once

#include <windows.h>

#include <string>

#include "platform/win32/Errors.h"

namespace tarnwick::win32 {

// Libraries only some commands need: the window comes up without them.
struct Shell32 {
    static constexpr wchar_t Name[] = L"shell32.dll";
};
struct Ole32 {
    static constexpr wchar_t Name[] = L"ole32.dll";
};
struct OleAut32 {
    static constexpr wchar_t Name[] = L"oleaut32.dll";
};
// Active Accessibility: only once a screen reader or another client asks.
struct OleAcc {
    static constexpr wchar_t Name[] = L"oleacc.dll";
};
// Not imported, so that nothing is looked for beside the program before its
// first statement has set where libraries come from. The manifest's
// activation context still makes it version 6.
struct CommonControls {
    static constexpr wchar_t Name[] = L"comctl32.dll";
};

// A library from the system folder, never from the program's own folder or
// the current one: an elevated program must not pick up a planted copy
// there. Its own dependencies come from the system folder too.
inline HMODULE LoadSystemLibrary(const wchar_t* name) noexcept {
    if (HMODULE library = ::LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)) return library;
    // Windows 7 without KB2533623 knows no such flag: the full path then,
    // with its dependencies searched from there.
    if (::GetLastError() != ERROR_INVALID_PARAMETER) return nullptr;
    wchar_t folder[MAX_PATH] = {};
    const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return nullptr;
    const std::wstring path = std::wstring(folder, length) + L"\\" + name;
    return ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

// The first thing the program does, before anything can load a library:
// libraries come from the system folder only. A downloaded tool is usually
// started from the Downloads folder, where a drive-by download can leave a
// DLL under a system library's name, and this program runs as an
// administrator.
inline void LoadLibrariesFromTheSystemOnly() noexcept {
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    const auto setDefaultDllDirectories = reinterpret_cast<SetDefaultDllDirectoriesFn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"),
                                                 "SetDefaultDllDirectories")));
    if (setDefaultDllDirectories && setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)) return;
    // Windows 7 without KB2533623: the current folder is taken out of the
    // search, and the libraries that the system's own would otherwise look
    // for beside the program are loaded first, by their full path.
    ::SetDllDirectoryW(L"");
    for (const wchar_t* name : {L"uxtheme.dll", L"dwmapi.dll", L"propsys.dll", L"userenv.dll",
                                L"cryptbase.dll", L"oleacc.dll", L"clbcatq.dll", L"setupapi.dll",
                                L"apphelp.dll", L"version.dll"})
        LoadSystemLibrary(name);
}

// Junctions a standard user made are not followed: redirection trust
// (Windows 10 21H2 and later) makes an open that meets one on its way fail
// with ErrorUntrustedMountPoint. Before, it is not there, and a failure
// changes nothing.
inline void FollowNoJunctionsOfStandardUsers() noexcept {
    using SetPolicyFn = BOOL(WINAPI*)(PROCESS_MITIGATION_POLICY, PVOID, SIZE_T);
    const auto setPolicy = reinterpret_cast<SetPolicyFn>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "SetProcessMitigationPolicy")));
    PROCESS_MITIGATION_REDIRECTION_TRUST_POLICY policy{};
    policy.EnforceRedirectionTrust = 1;
    if (setPolicy) setPolicy(ProcessRedirectionTrustPolicy, &policy, sizeof policy);
}

// A system library, loaded on first use and kept: never freed, not even at
// exit, when the shell's worker threads may still be running in it. Null
// when it cannot be loaded.
template <typename Library>
HMODULE SystemLibraryOrNull() noexcept {
    static const HMODULE library = LoadSystemLibrary(Library::Name);
    return library;
}

// A routine of `library`, or a failure that names what is missing: the
// library itself (when it is null, as it could not be loaded) or the
// routine. One body for every routine the program looks up.
FARPROC RoutineOf(HMODULE library, const wchar_t* libraryName, const char* name);

// A routine of a system library, looked up by name. Callers keep it in a
// static of their own, so each is looked up once.
template <typename Function, typename Library = Shell32>
Function SystemFunction(const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(
        RoutineOf(SystemLibraryOrNull<Library>(), Library::Name, name)));
}

// The same for a caller that cannot fail: null when there is no such routine.
template <typename Function, typename Library>
Function SystemFunctionOrNull(const char* name) noexcept {
    HMODULE library = SystemLibraryOrNull<Library>();
    auto* routine = library ? ::GetProcAddress(library, name) : nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void*>(routine));
}

}  // namespace tarnwick::win32
