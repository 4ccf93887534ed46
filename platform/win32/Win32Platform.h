#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "platform/Failure.h"
#include "platform/Platform.h"
#include "platform/win32/Com.h"
#include "platform/win32/Errors.h"

namespace tarnwick::win32 {

// The platform services on Windows, all through the wide-character APIs.
class Win32Platform final : public Platform {
public:
    // Boxes and dialogs are modal to this window once it exists.
    void SetOwner(HWND owner) noexcept { owner_ = owner; }

    int ShowMessage(const std::wstring& text, unsigned style) override;
    std::unique_ptr<FileSystemObject> NewFileSystemObject() override;
    std::unique_ptr<HeldFolder> HoldFolder(const std::wstring& path) override;
    std::chrono::milliseconds Ticks() override;
    std::unique_ptr<Watchdog> StartWatchdog(
        std::chrono::milliseconds limit, std::optional<std::chrono::milliseconds> wordLimit,
        std::function<LastWord(const std::wstring& stuckOn)> lastWord) override;
    bool HasX86ProgramFiles() override;
    void Pause(std::chrono::milliseconds duration) override;
    std::unique_ptr<HeldFolder> HoldVolumeRoot(const std::wstring& root) override;
    std::wstring RunAccount() override;
    LocalTime Now() override;
    std::string ToAnsi(const std::wstring& text) override;
    bool SamePath(const std::wstring& a, const std::wstring& b) override;
    std::optional<std::wstring> BrowseForFolder(WindowHandle owner,
                                                const std::wstring& prompt) override;
    bool IsElevated() override;
    void OpenAddress(WindowHandle owner, const std::wstring& verb,
                     const std::wstring& address) override;
    void OpenAsDesktopUser(const std::wstring& verb, const std::wstring& address) override;
    [[noreturn]] void EndProgram() override;

private:
    void EnsureOle() noexcept {
        if (!ole_) ole_.emplace();
    }
    HWND owner_ = nullptr;
    std::optional<com::OleSession> ole_;  // from the first dialog or link on
};

// The run-time error box for a failure that nothing caught.
void ReportUncaughtFailure(HWND owner, const Failure& failure) noexcept;

inline constexpr wchar_t ProgramTitle[] = L"Tarnwick";

}  // namespace tarnwick::win32
