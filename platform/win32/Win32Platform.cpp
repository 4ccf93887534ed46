#include "platform/win32/Win32Platform.h"

#include <shlobj.h>
#include <shellapi.h>

#include <vector>

#include "platform/win32/Handles.h"
#include "platform/Decimal.h"
#include "platform/win32/Win32FileSystem.h"
#include "platform/win32/SystemLibraries.h"
#include "platform/win32/ShellOpen.h"

namespace tarnwick::win32 {

Failure ErrorFailure(DWORD error, const std::wstring& what) {
    wchar_t* message = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&message), 0, nullptr);
    std::wstring text = length ? std::wstring(message, length) : L"Unknown error.";
    if (message) ::LocalFree(message);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' '))
        text.pop_back();
    return Failure(static_cast<long>(error), text + L"\n" + what);
}

Failure LastErrorFailure(const std::wstring& what) { return ErrorFailure(::GetLastError(), what); }

FARPROC RoutineOf(HMODULE library, const wchar_t* libraryName, const char* name) {
    if (!library) throw LastErrorFailure(std::wstring(libraryName) + L" could not be loaded.");
    if (FARPROC routine = ::GetProcAddress(library, name)) return routine;
    const DWORD error = ::GetLastError();
    std::wstring routineName;
    for (const char* c = name; *c; ++c) routineName += static_cast<wchar_t>(*c);
    throw ErrorFailure(error, std::wstring(libraryName) + L" has no " + routineName + L".");
}

int Win32Platform::ShowMessage(const std::wstring& text, unsigned style) {
    const int answer = ::MessageBoxW(owner_, text.c_str(), ProgramTitle, style);
    if (answer == 0) throw LastErrorFailure(L"The message box could not be shown.");
    return answer;
}

std::unique_ptr<FileSystemObject> Win32Platform::NewFileSystemObject() {
    return std::make_unique<Win32FileSystemObject>();
}

PathFacts Win32Platform::Inspect(const std::wstring& path) { return InspectPath(path); }

std::unique_ptr<HeldFolder> Win32Platform::HoldFolder(const std::wstring& path) {
    return HoldFolderAt(path);
}

std::unique_ptr<ExistingFile> Win32Platform::OpenExistingFile(const std::wstring& path) {
    return OpenExisting(path);
}

std::unique_ptr<TemporaryFile> Win32Platform::CreateNewFile(const std::wstring& path) {
    return CreateNew(path);
}

std::vector<std::wstring> Win32Platform::NamesIn(const std::wstring& folder) {
    return NamesInFolder(folder);
}

std::unique_ptr<RunLock> Win32Platform::LockRun() { return AcquireRunLock(); }

void Win32Platform::CreateFolder(const std::wstring& path) {
    if (!::CreateDirectoryW(path.c_str(), nullptr)) throw LastErrorFailure(path);
}

std::optional<FileVersion> Win32Platform::ProductVersion(const std::wstring& path) {
    using SizeFn = DWORD(WINAPI*)(LPCWSTR, LPDWORD);
    using InfoFn = BOOL(WINAPI*)(LPCWSTR, DWORD, DWORD, LPVOID);
    using QueryFn = BOOL(WINAPI*)(LPCVOID, LPCWSTR, LPVOID*, PUINT);
    try {
        static const auto infoSize =
            SystemFunction<SizeFn, VersionLibrary>("GetFileVersionInfoSizeW");
        static const auto info = SystemFunction<InfoFn, VersionLibrary>("GetFileVersionInfoW");
        static const auto query = SystemFunction<QueryFn, VersionLibrary>("VerQueryValueW");
        DWORD ignored = 0;
        const DWORD size = infoSize(path.c_str(), &ignored);
        if (size == 0) return std::nullopt;
        std::vector<unsigned char> block(size);
        if (!info(path.c_str(), 0, size, block.data())) return std::nullopt;
        VS_FIXEDFILEINFO* fixed = nullptr;
        UINT length = 0;
        if (!query(block.data(), L"\\", reinterpret_cast<LPVOID*>(&fixed), &length) || !fixed ||
            length < sizeof *fixed || fixed->dwSignature != VS_FFI_SIGNATURE)
            return std::nullopt;
        return FileVersion{HIWORD(fixed->dwProductVersionMS), LOWORD(fixed->dwProductVersionMS),
                           HIWORD(fixed->dwProductVersionLS), LOWORD(fixed->dwProductVersionLS)};
    } catch (const Failure&) {
        return std::nullopt;  // no version library: the version cannot be read
    }
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
