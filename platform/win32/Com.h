#pragma once

// COM and OLE, loaded only when the folder dialog or the link first needs
// them: the window comes up without ole32 and oleaut32 in the process.

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include "platform/win32/Handles.h"
#include "platform/win32/SystemLibraries.h"

namespace tarnwick::win32::com {

inline HRESULT CreateInstance(REFCLSID type, DWORD context, REFIID interfaceId,
                              void** object) noexcept {
    using Fn = HRESULT(WINAPI*)(REFCLSID, LPUNKNOWN, DWORD, REFIID, LPVOID*);
    static const auto create = SystemFunctionOrNull<Fn, Ole32>("CoCreateInstance");
    return create ? create(type, nullptr, context, interfaceId, object) : REGDB_E_CLASSNOTREG;
}

inline void AllowSetForegroundWindow(IUnknown* object) noexcept {
    using Fn = HRESULT(WINAPI*)(IUnknown*, LPVOID);
    static const auto allow = SystemFunctionOrNull<Fn, Ole32>("CoAllowSetForegroundWindow");
    if (allow) allow(object, nullptr);
}

// A BSTR copy of `text`; null when there is no memory or no oleaut32.
inline BSTR AllocString(const wchar_t* text) noexcept {
    using Fn = BSTR(WINAPI*)(const OLECHAR*);
    static const auto alloc = SystemFunctionOrNull<Fn, OleAut32>("SysAllocString");
    return alloc ? alloc(text) : nullptr;
}

template <typename T>
struct CoTaskMemTraits {
    static T Invalid() noexcept { return nullptr; }
    static bool IsValid(T p) noexcept { return p != nullptr; }
    static void Close(T p) noexcept {
        using Fn = void(WINAPI*)(LPVOID);
        static const auto free = SystemFunctionOrNull<Fn, Ole32>("CoTaskMemFree");
        if (free) free(p);
    }
};
struct BstrTraits {
    static BSTR Invalid() noexcept { return nullptr; }
    static bool IsValid(BSTR b) noexcept { return b != nullptr; }
    static void Close(BSTR b) noexcept {
        using Fn = void(WINAPI*)(BSTR);
        static const auto free = SystemFunctionOrNull<Fn, OleAut32>("SysFreeString");
        if (free) free(b);
    }
};
template <typename T>
using UniqueCoTaskMem = UniqueResource<T, CoTaskMemTraits<T>>;
using UniqueBstr = UniqueResource<BSTR, BstrTraits>;

// OLE for the user-interface thread: the shell's dialog and its automation
// objects want a single-threaded apartment. Made on first need, ended with
// its owner.
class OleSession {
public:
    OleSession() noexcept {
        using Fn = HRESULT(WINAPI*)(LPVOID);
        static const auto initialize = SystemFunctionOrNull<Fn, Ole32>("OleInitialize");
        ok_ = initialize && SUCCEEDED(initialize(nullptr));
    }
    ~OleSession() {
        using Fn = void(WINAPI*)();
        static const auto uninitialize = SystemFunctionOrNull<Fn, Ole32>("OleUninitialize");
        if (ok_ && uninitialize) uninitialize();
    }
    OleSession(const OleSession&) = delete;
    OleSession& operator=(const OleSession&) = delete;

private:
    bool ok_ = false;
};

}  // namespace tarnwick::win32::com
