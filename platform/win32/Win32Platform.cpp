#include "platform/win32/Win32Platform.h"

#include <shlobj.h>
#include <shellapi.h>

#include <vector>

#include "platform/win32/Handles.h"
#include "platform/Decimal.h"
#include "platform/WindowsMachine.h"
#include "platform/win32/Win32FileSystem.h"
#include "platform/win32/Win32HeldTree.h"
#include "platform/win32/SystemLibraries.h"
#include "platform/win32/ShellOpen.h"
#include "platform/win32/Win32Watchdog.h"

namespace tarnwick::win32 {

Failure ErrorFailure(DWORD error, const std::wstring& what) {
    wchar_t* message = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&message), 0, nullptr);
    std::wstring text = length ? std::wstring(message, length) : L"Unknown error.";
    if (message) ::LocalFree(message);
    // Windows' own text for it says nothing of who holds the file.
    if (error == static_cast<DWORD>(FailureCode::FileBusy)) text = L"Another program is using this file.";
    // Refused by redirection trust: Windows' own text names no junction.
    if (error == ErrorUntrustedMountPoint)
        text = L"The path leads through a junction a standard user made, which Windows does not let "
               L"Tarnwick follow.";
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' '))
        text.pop_back();
    return Failure(static_cast<long>(error), text + L"\n" + what);
}

Failure LastErrorFailure(const std::wstring& what) { return ErrorFailure(::GetLastError(), what); }

bool MeansAbsent(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_INVALID_DRIVE:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_NET_NAME:
        case ERROR_BAD_PATHNAME:
        case ERROR_DIRECTORY:
        case ERROR_NOT_READY:
            return true;
        default:
            return false;
    }
}

FARPROC RoutineOf(HMODULE library, const wchar_t* libraryName, const char* name) {
    if (!library) throw LastErrorFailure(std::wstring(libraryName) + L" could not be loaded.");
    if (FARPROC routine = ::GetProcAddress(library, name)) return routine;
    const DWORD error = ::GetLastError();
    std::wstring routineName;
    for (const char* c = name; *c; ++c) routineName += static_cast<wchar_t>(*c);
    throw ErrorFailure(error, std::wstring(libraryName) + L" has no " + routineName + L".");
}

// A box owned by a window of another thread would wait for that thread,
// which may be the very one that is stuck (the watchdog's box).
int Win32Platform::ShowMessage(const std::wstring& text, unsigned style) {
    const HWND owner =
        owner_ && ::GetWindowThreadProcessId(owner_, nullptr) == ::GetCurrentThreadId() ? owner_ : nullptr;
    const int answer = ::MessageBoxW(owner, text.c_str(), ProgramTitle, style);
    if (answer == 0) throw LastErrorFailure(L"The message box could not be shown.");
    return answer;
}

std::unique_ptr<FileSystemObject> Win32Platform::NewFileSystemObject() {
    return std::make_unique<Win32FileSystemObject>();
}

std::unique_ptr<HeldFolder> Win32Platform::HoldFolder(const std::wstring& path) {
    return HoldFolderAt(path);
}

std::chrono::milliseconds Win32Platform::Ticks() {
    return std::chrono::milliseconds(::GetTickCount64());
}

// Messages are served meanwhile, so the window keeps painting and
// answering. Should the program end meanwhile (a handler failed), the
// command that paused ends with it, and the loop that serves messages
// still sees the end.
void Win32Platform::Pause(std::chrono::milliseconds duration) {
    const ULONGLONG end = ::GetTickCount64() + static_cast<ULONGLONG>(duration.count());
    for (ULONGLONG now = ::GetTickCount64(); now < end; now = ::GetTickCount64()) {
        ::MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(end - now), QS_ALLINPUT,
                                      MWMO_INPUTAVAILABLE);
        MSG message{};
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                ::PostQuitMessage(static_cast<int>(message.wParam));
                throw ProgramEnd{static_cast<int>(message.wParam)};
            }
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
    }
}

std::unique_ptr<Watchdog> Win32Platform::StartWatchdog(
    std::chrono::milliseconds limit, std::optional<std::chrono::milliseconds> wordLimit,
    std::function<LastWord(const std::wstring& stuckOn)> lastWord) {
    return StartWatchdogThread(limit, wordLimit, std::move(lastWord));
}

// Asked of the machine, not of this image: a 32-bit image on 64-bit
// Windows (x64, or ARM64, where it is emulated) is in WOW64, and there the
// (x86) folder is Windows' own. On 32-bit Windows no such folder belongs
// to the system, and any signed-in user may make one.
bool Win32Platform::HasX86ProgramFiles() {
    static_assert(MachineI386 == IMAGE_FILE_MACHINE_I386 && ArchitectureIntel == PROCESSOR_ARCHITECTURE_INTEL);
    using IsWow64Process2Fn = BOOL(WINAPI*)(HANDLE, USHORT*, USHORT*);
    static const auto isWow64Process2 = reinterpret_cast<IsWow64Process2Fn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "IsWow64Process2")));
    USHORT process = 0, machine = 0;
    std::optional<std::uint16_t> nativeMachine;
    if (isWow64Process2 && isWow64Process2(::GetCurrentProcess(), &process, &machine)) nativeMachine = machine;
    SYSTEM_INFO system{};
    ::GetNativeSystemInfo(&system);
    return HasX86ProgramFilesOn(nativeMachine, system.wProcessorArchitecture);
}

std::unique_ptr<HeldFolder> Win32Platform::HoldVolumeRoot(const std::wstring& root) {
    return HoldFolderAt(root, /*readAccess=*/true);
}

std::wstring Win32Platform::RunAccount() { return RunAccountSid(); }

LocalTime Win32Platform::Now() {
    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    return {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
}

std::string Win32Platform::ToAnsi(const std::wstring& text) {
    if (text.empty()) return {};
    const int length = ::WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                             nullptr, 0, nullptr, nullptr);
    if (length <= 0) throw LastErrorFailure(L"The text could not be converted.");
    std::string bytes(static_cast<size_t>(length), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), bytes.data(),
                          length, nullptr, nullptr);
    return bytes;
}

bool Win32Platform::SamePath(const std::wstring& a, const std::wstring& b) {
    return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                  static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

std::optional<std::wstring> Win32Platform::BrowseForFolder(WindowHandle owner,
                                                           const std::wstring& prompt) {
    BROWSEINFOW request{};
    request.hwndOwner = reinterpret_cast<HWND>(owner);
    request.pidlRoot = nullptr;
    request.pszDisplayName = nullptr;
    request.lpszTitle = prompt.c_str();
    request.ulFlags = BIF_RETURNONLYFSDIRS;

    static const auto browse =
        SystemFunction<PIDLIST_ABSOLUTE(WINAPI*)(LPBROWSEINFOW)>("SHBrowseForFolderW");
    static const auto pathOf =
        SystemFunction<BOOL(WINAPI*)(PCIDLIST_ABSOLUTE, PWSTR, DWORD, GPFIDL_FLAGS)>(
            "SHGetPathFromIDListEx");
    EnsureOle();
    com::UniqueCoTaskMem<PIDLIST_ABSOLUTE> chosen(browse(&request));
    if (!chosen) return std::nullopt;

    // Room for the longest path Windows has; a query that finds no
    // file-system path leaves an empty text.
    std::wstring buffer(32767, L' ');
    if (!pathOf(chosen.get(), buffer.data(), static_cast<DWORD>(buffer.size()), GPFIDL_DEFAULT))
        buffer[0] = L'\0';
    return buffer;
}

bool Win32Platform::IsElevated() { return IsProcessElevated(); }

void Win32Platform::OpenAddress(WindowHandle owner, const std::wstring& verb,
                                const std::wstring& address) {
    EnsureOle();
    OpenWithOwnRights(reinterpret_cast<HWND>(owner), verb, address);
}

void Win32Platform::OpenAsDesktopUser(const std::wstring& verb, const std::wstring& address) {
    EnsureOle();
    OpenThroughDesktopShell(verb, address);
}

void Win32Platform::EndProgram() { throw ProgramEnd{0}; }

void ReportUncaughtFailure(HWND owner, const Failure& failure) noexcept {
    try {
        const std::wstring text = L"Run-time error '" + DecimalText(failure.Code()) +
                                  L"':\n\n" + failure.Description();
        ::MessageBoxW(owner, text.c_str(), ProgramTitle, MB_OK | MB_ICONERROR);
    } catch (...) {
        // No memory left even for the text: the box still says what happened.
        ::MessageBoxW(owner, L"Run-time error: out of memory.", ProgramTitle, MB_OK | MB_ICONERROR);
    }
}

}  // namespace tarnwick::win32
