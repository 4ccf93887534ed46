// The Windows side of the log: the rights of each folder on its way, read
// through the folder's handle, the log file as it was opened, and the
// account the run runs as. What they mean is decided in app/RunLog.cpp.

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <vector>

#include "platform/win32/Errors.h"
#include "platform/win32/Win32HeldTree.h"
#include "platform/win32/Win32Watchdog.h"

namespace tarnwick::win32 {

namespace {

std::wstring SidText(PSID sid, const std::wstring& path) {
    LPWSTR text = nullptr;
    if (!::ConvertSidToStringSidW(sid, &text)) throw LastErrorFailure(path);
    const UniqueLocal owner(text);
    return text;
}

class Win32LogFile final : public AppendOnlyFile {
public:
    Win32LogFile(UniqueFile file, const PathFacts& facts, std::wstring path)
        : file_(std::move(file)), facts_(facts), path_(std::move(path)) {}
    const PathFacts& Facts() const override { return facts_; }
    bool IsDiskFile() const override { return ::GetFileType(file_.get()) == FILE_TYPE_DISK; }
    // Opened to append only, the file system puts every write at the end,
    // so runs at once each add their whole line.
    void Append(const std::wstring& text) override {
        const StepAt step(path_);
        const int length = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                                 nullptr, 0, nullptr, nullptr);
        if (length <= 0) throw LastErrorFailure(path_);
        std::string bytes(static_cast<size_t>(length), '\0');
        ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(),
                              length, nullptr, nullptr);
        DWORD written = 0;
        if (!::WriteFile(file_.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr))
            throw LastErrorFailure(path_);
        if (written != bytes.size()) throw ErrorFailure(ERROR_WRITE_FAULT, path_);
    }

private:
    UniqueFile file_;
    PathFacts facts_;
    std::wstring path_;
};

}  // namespace

FolderAccess AccessOf(HANDLE folder, const std::wstring& path) {
    PSID owner = nullptr;
    PACL list = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD error =
        ::GetSecurityInfo(folder, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                          &owner, nullptr, &list, nullptr, &descriptor);
    if (error != ERROR_SUCCESS) throw ErrorFailure(error, path);
    const UniqueLocal descriptorOwner(descriptor);
    FolderAccess access;
    if (owner) access.owner = SidText(owner, path);
    access.hasAccessList = list != nullptr;
    for (DWORD i = 0; list && i < list->AceCount; ++i) {
        void* entry = nullptr;
        if (!::GetAce(list, i, &entry)) throw LastErrorFailure(path);
        // Every kind of entry has its rights after the header; only the plain
        // allow and deny kinds have the account right after them.
        const auto* plain = static_cast<const ACCESS_ALLOWED_ACE*>(entry);
        AccessEntry read{plain->Header.AceType, plain->Header.AceFlags, plain->Mask, {}};
        if (read.type == ACCESS_ALLOWED_ACE_TYPE || read.type == ACCESS_DENIED_ACE_TYPE)
            read.account = SidText(const_cast<DWORD*>(&plain->SidStart), path);
        access.entries.push_back(std::move(read));
    }
    return access;
}

std::unique_ptr<AppendOnlyFile> AppendOnlyOn(UniqueFile file, const PathFacts& facts,
                                             const std::wstring& path) {
    return std::make_unique<Win32LogFile>(std::move(file), facts, path);
}

std::wstring RunAccountSid() {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token))
        throw LastErrorFailure(L"The run's account could not be read.");
    const UniqueHandle tokenOwner(token);
    DWORD size = 0;
    ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<LONGLONG> buffer(size / sizeof(LONGLONG) + 1);
    if (!::GetTokenInformation(token, TokenUser, buffer.data(),
                               static_cast<DWORD>(buffer.size() * sizeof(LONGLONG)), &size))
        throw LastErrorFailure(L"The run's account could not be read.");
    return SidText(reinterpret_cast<const TOKEN_USER*>(buffer.data())->User.Sid,
                   L"The run's account could not be read.");
}

}  // namespace tarnwick::win32
