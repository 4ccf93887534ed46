#include "platform/win32/Win32Output.h"

#include <string>

namespace tarnwick::win32 {

namespace {
bool IsConsole(HANDLE handle) noexcept {
    DWORD mode = 0;
    return ::GetFileType(handle) == FILE_TYPE_CHAR && ::GetConsoleMode(handle, &mode);
}
}  // namespace

void Win32Output::Open() noexcept {
    opened_ = true;
    HANDLE standard = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if (standard && standard != INVALID_HANDLE_VALUE && ::GetFileType(standard) != FILE_TYPE_UNKNOWN) {
        target_ = standard;
        isConsole_ = IsConsole(standard);
        return;
    }
    if (!::AttachConsole(ATTACH_PARENT_PROCESS)) return;
    console_.reset(::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, 0, nullptr));
    if (console_) {
        target_ = console_.get();
        isConsole_ = true;
    }
}

void Win32Output::Write(const std::wstring& text) {
    if (!opened_) Open();
    if (target_ == INVALID_HANDLE_VALUE || text.empty()) return;
    DWORD written = 0;
    if (isConsole_) {
        ::WriteConsoleW(target_, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    const int length = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                             nullptr, 0, nullptr, nullptr);
    if (length <= 0) return;
    std::string bytes(static_cast<size_t>(length), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(),
                          length, nullptr, nullptr);
    ::WriteFile(target_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

}  // namespace tarnwick::win32
