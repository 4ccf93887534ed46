#pragma once

// COM and OLE, loaded only when the folder dialog or the link first needs
// them: the window comes up without ole32 and oleaut32 in the process.

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <new>
#include <utility>

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

// The reference count of a COM object of our own: the last Release deletes
// it. Objects are made only by MakeObject, so they always live on the heap.
template <typename Interface>
class Counted : public Interface {
public:
    ULONG STDMETHODCALLTYPE AddRef() noexcept override {
        return static_cast<ULONG>(::InterlockedIncrement(&references_));
    }
    ULONG STDMETHODCALLTYPE Release() noexcept override {
        const LONG left = ::InterlockedDecrement(&references_);
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }

protected:
    Counted() noexcept = default;
    virtual ~Counted() = default;

private:
    LONG references_ = 1;
};

// A new object whose first reference the result holds; null when there is
// no memory. From then on its references decide how long it lives.
template <typename Object, typename... Arguments>
ComPtr<Object> MakeObject(Arguments&&... arguments) noexcept {
    ComPtr<Object> made;
    *made.put() = new (std::nothrow) Object(std::forward<Arguments>(arguments)...);
    return made;
}

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
