#include "platform/win32/ShellOpen.h"

#include <exdisp.h>
#include <shellapi.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shlobj.h>

#include "platform/win32/Com.h"
#include "platform/win32/Handles.h"
#include "platform/win32/SystemLibraries.h"

namespace tarnwick::win32 {

bool IsProcessElevated() noexcept {
    HANDLE rawToken = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &rawToken)) return false;
    UniqueFile token(rawToken);
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    if (!::GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof elevation, &size))
        return false;
    return elevation.TokenIsElevated != 0;
}

namespace {

// Spelled out here rather than taken from uuid.lib, which would bring every
// GUID Windows defines into the program.
constexpr CLSID ShellWindowsClass = {0x9BA05972, 0xF6A8, 0x11CF, {0xA4, 0x42, 0x00, 0xA0, 0xC9, 0x0A, 0x8F, 0x39}};
constexpr GUID TopLevelBrowserService = {0x4C96BE40, 0x915C, 0x11CF, {0x99, 0xD3, 0x00, 0xAA, 0x00, 0x4A, 0xE8, 0x37}};

// The desktop's shell dispatch object: the shell window's view of the
// desktop, its folder view's automation object, and that one's application.
ComPtr<IShellDispatch2> DesktopShellDispatch() noexcept {
    ComPtr<IShellWindows> shellWindows;
    if (FAILED(com::CreateInstance(ShellWindowsClass, CLSCTX_LOCAL_SERVER, __uuidof(IShellWindows),
                                   shellWindows.put_void())))
        return {};
    VARIANT desktopLocation{};
    desktopLocation.vt = VT_I4;
    desktopLocation.lVal = CSIDL_DESKTOP;
    VARIANT empty{};
    long desktopWindow = 0;
    ComPtr<IDispatch> desktop;
    if (shellWindows->FindWindowSW(&desktopLocation, &empty, SWC_DESKTOP, &desktopWindow,
                                   SWFO_NEEDDISPATCH, desktop.put()) != S_OK ||
        !desktop)
        return {};
    auto services = desktop.query<IServiceProvider>();
    if (!services) return {};
    ComPtr<IShellBrowser> browser;
    if (FAILED(services->QueryService(TopLevelBrowserService, __uuidof(IShellBrowser),
                                      browser.put_void())))
        return {};
    ComPtr<IShellView> view;
    if (FAILED(browser->QueryActiveShellView(view.put()))) return {};
    ComPtr<IDispatch> background;
    if (FAILED(view->GetItemObject(SVGIO_BACKGROUND, __uuidof(IDispatch), background.put_void())))
        return {};
    auto folderView = background.query<IShellFolderViewDual>();
    if (!folderView) return {};
    ComPtr<IDispatch> application;
    if (FAILED(folderView->get_Application(application.put()))) return {};
    return application.query<IShellDispatch2>();
}

}  // namespace

bool OpenThroughDesktopShell(const std::wstring& verb, const std::wstring& address) noexcept {
    auto shell = DesktopShellDispatch();
    if (!shell) return false;
    // The shell may then hand the foreground on to the browser it starts.
    com::AllowSetForegroundWindow(shell.get());
    com::UniqueBstr file(com::AllocString(address.c_str()));
    com::UniqueBstr operationText(com::AllocString(verb.c_str()));
    if (!file || !operationText) return false;
    VARIANT noArguments{};
    VARIANT noFolder{};
    VARIANT operation{};
    operation.vt = VT_BSTR;
    operation.bstrVal = operationText.get();
    VARIANT show{};
    show.vt = VT_I4;
    show.lVal = SW_SHOWNORMAL;
    return SUCCEEDED(shell->ShellExecute(file.get(), noArguments, noFolder, operation, show));
}

void OpenWithOwnRights(HWND owner, const std::wstring& verb, const std::wstring& address) {
    static const auto shellExecute =
        SystemFunction<HINSTANCE(WINAPI*)(HWND, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, INT)>(
            "ShellExecuteW");
    const HINSTANCE ignored =
        shellExecute(owner, verb.c_str(), address.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    (void)ignored;
}

}  // namespace tarnwick::win32
