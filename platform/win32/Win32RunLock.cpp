// One run at a time changes files in a browser's folder: the run holds a
// lock file in that folder, opened through the folder's handle, that nobody
// else may open while it is held and that goes when its holder closes it or
// ends, however it ends. It locks the folder itself, not a spelling of its
// path. Made new, it lets only Administrators and SYSTEM open it, so in a
// folder only they can write (Program Files) nobody else can make it, hold
// it or put something in its place. In a folder a user can write, he can
// block runs in that folder only, which he could do by other means anyway.
// A lock file a power cut left behind is opened like a new one.

#include <windows.h>
#include <sddl.h>

#include "platform/win32/Errors.h"
#include "platform/win32/NtFiles.h"
#include "platform/win32/Win32HeldTree.h"

namespace tarnwick::win32 {

namespace {

constexpr wchar_t RunLockName[] = L"tarnwick.lock";

class Win32RunLock final : public RunLock {
public:
    explicit Win32RunLock(UniqueFile file) : file_(std::move(file)) {}

private:
    UniqueFile file_;  // closing it deletes the file
};

}  // namespace

UniqueLocal AdministratorsOnly(const std::wstring& what) {
    // Full access for Administrators and SYSTEM, nothing for anyone else.
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;FA;;;BA)(A;;FA;;;SY)",
                                                                SDDL_REVISION_1, &descriptor, nullptr))
        throw LastErrorFailure(what + L" could not be described.");
    return UniqueLocal(descriptor);
}

std::unique_ptr<RunLock> TryLockRunIn(HANDLE folder, const std::wstring& path) {
    const UniqueLocal descriptor = AdministratorsOnly(L"The lock against other runs of Tarnwick");
    const std::wstring lockPath = Below(path, RunLockName);
    UniqueFile file;
    const NTSTATUS status = OpenAt(
        folder, lockPath, RunLockName,
        {DELETE | FILE_READ_ATTRIBUTES, 0, FILE_OPEN_IF,
         FILE_NON_DIRECTORY_FILE | FILE_DELETE_ON_CLOSE | FILE_OPEN_REPARSE_POINT,
         FILE_ATTRIBUTE_NORMAL, descriptor.get()},
        file);
    // Held by another run, or going as that run lets go of it, or by a
    // program that holds an oplock on it.
    if (status == NtStatus::SharingViolation || status == NtStatus::DeletePending ||
        status == NtStatus::FileBusy)
        return nullptr;
    if (!NT_SUCCESS(status)) throw StatusFailure(status, lockPath);
    return std::make_unique<Win32RunLock>(std::move(file));
}

}  // namespace tarnwick::win32
