#pragma once

// Files opened, renamed and deleted through a folder held open, by one name
// relative to its handle: the native routines of ntdll, which the Win32
// file functions offer only by path. They are looked up at run time, since
// the program imports nothing but Windows' Known DLLs; ntdll is in every
// process before the program's first instruction.

#include <windows.h>
#include <winternl.h>

#include <string>

#include "platform/Failure.h"
#include "platform/win32/Handles.h"

namespace tarnwick::win32 {

// The few native status values the program tells apart.
namespace NtStatus {
// A success to NT_SUCCESS: the open completed while an oplock break is under way.
constexpr NTSTATUS OplockBreakInProgress = static_cast<NTSTATUS>(0x00000108);
// The program's own (the customer bit): such an open, closed again.
constexpr NTSTATUS FileBusy = static_cast<NTSTATUS>(0xE0000108);
constexpr NTSTATUS NotImplemented = static_cast<NTSTATUS>(0xC0000002);
constexpr NTSTATUS NameInvalid = static_cast<NTSTATUS>(0xC0000033);
constexpr NTSTATUS NameNotFound = static_cast<NTSTATUS>(0xC0000034);
constexpr NTSTATUS NameCollision = static_cast<NTSTATUS>(0xC0000035);
constexpr NTSTATUS PathNotFound = static_cast<NTSTATUS>(0xC000003A);
constexpr NTSTATUS SharingViolation = static_cast<NTSTATUS>(0xC0000043);
constexpr NTSTATUS DeletePending = static_cast<NTSTATUS>(0xC0000056);
constexpr NTSTATUS IsADirectory = static_cast<NTSTATUS>(0xC00000BA);
constexpr NTSTATUS NotADirectory = static_cast<NTSTATUS>(0xC0000103);
}  // namespace NtStatus

struct NtFileRoutines {
    decltype(&::NtCreateFile) createFile = nullptr;
    decltype(&::NtSetInformationFile) setInformation = nullptr;
    decltype(&::RtlNtStatusToDosError) statusToError = nullptr;
    decltype(&::NtQueryObject) queryObject = nullptr;
};

// The routines, looked up once. A test may stand in for one of them, to
// see what a failure leads to.
NtFileRoutines& NtFiles();

// How a name is opened in a held folder.
struct RelativeOpen {
    ACCESS_MASK access;
    ULONG share;
    ULONG disposition;  // FILE_OPEN, FILE_CREATE, FILE_OPEN_IF
    ULONG options;      // FILE_SYNCHRONOUS_IO_NONALERT is always added
    ULONG attributes = FILE_ATTRIBUTE_NORMAL;
    PSECURITY_DESCRIPTOR security = nullptr;  // for a file it creates
    // Whatever answers (a pipe's server) may learn who opens it, never act as them.
    bool identifyOnly = false;
};

// Opens `name` in the folder open on `folder`. A name is one name: a path,
// a stream or a name that climbs out is refused before anything is asked.
// Every open completes at once when another program holds an oplock on the
// file; one that a break is under way for is closed and answers FileBusy.
NTSTATUS OpenRelative(HANDLE folder, const std::wstring& name, const RelativeOpen& how,
                      UniqueFile& opened);
// The same for a whole NT path (\??\C:\..., \Device\...).
NTSTATUS OpenNtPath(const std::wstring& path, const RelativeOpen& how, UniqueFile& opened);
// Renames the file open on `file` to `name` in the folder open on `folder`.
NTSTATUS RenameRelative(HANDLE file, HANDLE folder, const std::wstring& name, bool replace);
// Marks the file or folder open on `handle` to go when it is closed.
NTSTATUS DeleteByHandle(HANDLE handle);

bool IsAbsent(NTSTATUS status);
// The failure for a status, numbered as Windows numbers its errors.
Failure StatusFailure(NTSTATUS status, const std::wstring& what);

}  // namespace tarnwick::win32
