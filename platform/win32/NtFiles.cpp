#include "platform/win32/NtFiles.h"

#include <algorithm>
#include <cstddef>
#include <vector>

#include "platform/win32/Errors.h"

namespace tarnwick::win32 {

namespace {

template <typename Routine>
Routine NtRoutine(const char* name) {
    return reinterpret_cast<Routine>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), name)));
}

// One name in the folder: nothing that names another folder or a stream.
bool IsSingleName(const std::wstring& name) {
    return !name.empty() && name != L"." && name != L".." &&
           name.find_first_of(L"\\/:") == std::wstring::npos;
}

UNICODE_STRING Counted(const std::wstring& text) {
    const auto bytes = static_cast<USHORT>(text.size() * sizeof(wchar_t));
    return UNICODE_STRING{bytes, bytes, const_cast<PWSTR>(text.c_str())};
}

}  // namespace

NtFileRoutines& NtFiles() {
    static NtFileRoutines routines{
        NtRoutine<decltype(&::NtCreateFile)>("NtCreateFile"),
        NtRoutine<decltype(&::NtSetInformationFile)>("NtSetInformationFile"),
        NtRoutine<decltype(&::RtlNtStatusToDosError)>("RtlNtStatusToDosError"),
        NtRoutine<decltype(&::NtQueryObject)>("NtQueryObject")};
    return routines;
}

namespace {

NTSTATUS Open(HANDLE root, const std::wstring& name, const RelativeOpen& how, UniqueFile& opened) {
    opened.reset();
    if (!NtFiles().createFile) return NtStatus::NotImplemented;
    UNICODE_STRING counted = Counted(name);
    OBJECT_ATTRIBUTES attributes{};
    InitializeObjectAttributes(&attributes, &counted, OBJ_CASE_INSENSITIVE, root, how.security);
    SECURITY_QUALITY_OF_SERVICE quality{sizeof quality, SecurityIdentification, SECURITY_STATIC_TRACKING, TRUE};
    if (how.identifyOnly) attributes.SecurityQualityOfService = &quality;
    IO_STATUS_BLOCK io{};
    HANDLE handle = nullptr;
    // Waiting for an oplock's holder to let go could take for ever.
    const NTSTATUS status = NtFiles().createFile(
        &handle, how.access | SYNCHRONIZE, &attributes, &io, nullptr, how.attributes, how.share,
        how.disposition, how.options | FILE_SYNCHRONOUS_IO_NONALERT | FILE_COMPLETE_IF_OPLOCKED,
        nullptr, 0);
    if (!NT_SUCCESS(status)) return status;
    opened.reset(handle);
    if (status != NtStatus::OplockBreakInProgress) return status;
    opened.reset();
    return NtStatus::FileBusy;
}

}  // namespace

NTSTATUS OpenRelative(HANDLE folder, const std::wstring& name, const RelativeOpen& how,
                      UniqueFile& opened) {
    opened.reset();
    if (!IsSingleName(name)) return NtStatus::NameInvalid;
    return Open(folder, name, how, opened);
}

NTSTATUS OpenNtPath(const std::wstring& path, const RelativeOpen& how, UniqueFile& opened) {
    return Open(nullptr, path, how, opened);
}

NTSTATUS RenameRelative(HANDLE file, HANDLE folder, const std::wstring& name, bool replace) {
    if (!IsSingleName(name)) return NtStatus::NameInvalid;
    if (!NtFiles().setInformation) return NtStatus::NotImplemented;
    const size_t nameBytes = name.size() * sizeof(wchar_t);
    std::vector<unsigned char> buffer(offsetof(FILE_RENAME_INFORMATION, FileName) + nameBytes);
    auto* rename = reinterpret_cast<FILE_RENAME_INFORMATION*>(buffer.data());
    rename->ReplaceIfExists = replace ? TRUE : FALSE;
    rename->RootDirectory = folder;
    rename->FileNameLength = static_cast<ULONG>(nameBytes);
    std::copy(name.begin(), name.end(), rename->FileName);
    IO_STATUS_BLOCK io{};
    return NtFiles().setInformation(file, &io, buffer.data(), static_cast<ULONG>(buffer.size()),
                                    FileRenameInformation);
}

NTSTATUS DeleteByHandle(HANDLE handle) {
    if (!NtFiles().setInformation) return NtStatus::NotImplemented;
    FILE_DISPOSITION_INFORMATION disposition{TRUE};
    IO_STATUS_BLOCK io{};
    return NtFiles().setInformation(handle, &io, &disposition, sizeof disposition,
                                    FileDispositionInformation);
}

bool IsAbsent(NTSTATUS status) {
    return status == NtStatus::NameNotFound || status == NtStatus::PathNotFound;
}

Failure StatusFailure(NTSTATUS status, const std::wstring& what) {
    const ULONG error = status == NtStatus::FileBusy ? static_cast<ULONG>(FailureCode::FileBusy)
                        : NtFiles().statusToError ? NtFiles().statusToError(status)
                                                  : ERROR_INVALID_FUNCTION;
    return ErrorFailure(error, what);
}

}  // namespace tarnwick::win32
