#pragma once

// Small owners for Win32 and COM resources: each releases what it holds in
// its destructor and can be moved, never copied.

#include <windows.h>
#include <objbase.h>

#include <utility>

namespace tarnwick::win32 {

template <typename T, typename Traits>
class UniqueResource {
public:
    UniqueResource() noexcept = default;
    explicit UniqueResource(T value) noexcept : value_(value) {}
    ~UniqueResource() { reset(); }
    UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;

    T get() const noexcept { return value_; }
    explicit operator bool() const noexcept { return Traits::IsValid(value_); }
    T release() noexcept { return std::exchange(value_, Traits::Invalid()); }
    void reset(T value = Traits::Invalid()) noexcept {
        T old = std::exchange(value_, value);
        if (Traits::IsValid(old)) Traits::Close(old);
    }

private:
    T value_ = Traits::Invalid();
};

struct FileHandleTraits {
    static HANDLE Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static bool IsValid(HANDLE h) noexcept { return h != INVALID_HANDLE_VALUE && h != nullptr; }
    static void Close(HANDLE h) noexcept { ::CloseHandle(h); }
};
struct FindHandleTraits {
    static HANDLE Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static bool IsValid(HANDLE h) noexcept { return h != INVALID_HANDLE_VALUE; }
    static void Close(HANDLE h) noexcept { ::FindClose(h); }
};
struct WindowTraits {
    static HWND Invalid() noexcept { return nullptr; }
    static bool IsValid(HWND h) noexcept { return h != nullptr; }
    static void Close(HWND h) noexcept { ::DestroyWindow(h); }
};
struct FontTraits {
    static HFONT Invalid() noexcept { return nullptr; }
    static bool IsValid(HFONT h) noexcept { return h != nullptr; }
    static void Close(HFONT h) noexcept { ::DeleteObject(h); }
};
struct BitmapTraits {
    static HBITMAP Invalid() noexcept { return nullptr; }
    static bool IsValid(HBITMAP h) noexcept { return h != nullptr; }
    static void Close(HBITMAP h) noexcept { ::DeleteObject(h); }
};
struct MemoryDcTraits {
    static HDC Invalid() noexcept { return nullptr; }
    static bool IsValid(HDC h) noexcept { return h != nullptr; }
    static void Close(HDC h) noexcept { ::DeleteDC(h); }
};
struct IconTraits {
    static HICON Invalid() noexcept { return nullptr; }
    static bool IsValid(HICON h) noexcept { return h != nullptr; }
    static void Close(HICON h) noexcept { ::DestroyIcon(h); }
};

struct LocalMemoryTraits {
    static HLOCAL Invalid() noexcept { return nullptr; }
    static bool IsValid(HLOCAL h) noexcept { return h != nullptr; }
    static void Close(HLOCAL h) noexcept { ::LocalFree(h); }
};

using UniqueFile = UniqueResource<HANDLE, FileHandleTraits>;
using UniqueHandle = UniqueResource<HANDLE, FileHandleTraits>;  // any kernel object
using UniqueFind = UniqueResource<HANDLE, FindHandleTraits>;
using UniqueHwnd = UniqueResource<HWND, WindowTraits>;
using UniqueHfont = UniqueResource<HFONT, FontTraits>;
using UniqueHicon = UniqueResource<HICON, IconTraits>;
using UniqueHbitmap = UniqueResource<HBITMAP, BitmapTraits>;
using UniqueMemoryDc = UniqueResource<HDC, MemoryDcTraits>;  // from CreateCompatibleDC
using UniqueLocal = UniqueResource<HLOCAL, LocalMemoryTraits>;  // what the system gave from LocalAlloc

// An object selected into a device context until the end of the scope,
// when the context gets back what it held before.
class ScopedSelection {
public:
    ScopedSelection(HDC dc, HGDIOBJ object) noexcept : dc_(dc), old_(::SelectObject(dc, object)) {}
    ~ScopedSelection() {
        if (old_) ::SelectObject(dc_, old_);
    }
    ScopedSelection(const ScopedSelection&) = delete;
    ScopedSelection& operator=(const ScopedSelection&) = delete;

private:
    HDC dc_;
    HGDIOBJ old_;
};

// A COM interface pointer that releases its reference.
template <typename T>
class ComPtr {
public:
    ComPtr() noexcept = default;
    ~ComPtr() { reset(); }
    ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    ComPtr& operator=(ComPtr&& other) noexcept {
        if (this != &other) {
            reset();
            p_ = std::exchange(other.p_, nullptr);
        }
        return *this;
    }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;

    T* get() const noexcept { return p_; }
    T* operator->() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }
    // For out-parameters: drops what is held and hands out the slot.
    T** put() noexcept {
        reset();
        return &p_;
    }
    void** put_void() noexcept { return reinterpret_cast<void**>(put()); }
    void reset() noexcept {
        if (T* old = std::exchange(p_, nullptr)) old->Release();
    }
    template <typename U>
    ComPtr<U> query() const noexcept {
        ComPtr<U> result;
        if (p_) p_->QueryInterface(__uuidof(U), result.put_void());
        return result;
    }

private:
    T* p_ = nullptr;
};

}  // namespace tarnwick::win32
