#pragma once

// The held tree: the browser's folder held open once it is checked, and
// everything below it reached through the folder that holds it, one name
// at a time, never by a path again. Every name is opened as itself, never
// through a link, and what was opened is checked by its handle: a name
// counts as a link when its reparse point leads elsewhere (or is of a kind
// nobody knows), or when the handle it gives is not at that name in its
// folder (a link the file system followed regardless, as Wine does with a
// Unix symbolic link to a file). A file that a storage filter keeps as a
// reparse point is opened again through its filter, and must be the same
// file.

#include <windows.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "platform/win32/Handles.h"
#include "platform/win32/NtFiles.h"

namespace tarnwick::win32 {

// Holds the folder at `path`, following a link there; null when nothing is
// there. The one open by path. With `readAccess`, it and every folder held
// from it can also read who owns them and who may change them.
std::unique_ptr<HeldFolder> HoldFolderAt(const std::wstring& path, bool readAccess = false);

// Every held folder of this platform is one of these handles; its path is
// kept for messages only and never opened.
HANDLE HandleOf(HeldFolder& folder);
const std::wstring& PathOf(HeldFolder& folder);
// `name` in the folder at `path`, as messages name it.
std::wstring Below(const std::wstring& path, const std::wstring& name);

// OpenRelative and DeleteByHandle, each a step of the run that names `path`.
NTSTATUS OpenAt(HANDLE folder, const std::wstring& path, const std::wstring& name,
                const RelativeOpen& how, UniqueFile& opened);
// Removes the file or folder open on `file` by its handle, and closes it.
void DeleteAndClose(UniqueFile& file, const std::wstring& path);

// A name in a held folder, opened as itself and checked.
struct OpenedEntry {
    UniqueFile handle;
    DWORD attributes = 0;
    bool reparsePoint = false;  // a link, or a file its storage filter keeps
    bool atItsName = false;     // the handle is on what has that name there
    PathFacts facts;
};
// Null when nothing has that name.
std::optional<OpenedEntry> OpenEntry(HANDLE folder, const std::wstring& folderPath,
                                     const std::wstring& name, ACCESS_MASK access, ULONG share,
                                     ULONG options, bool identifyOnly = false);

// A folder's names, read through its handle, with what each named then.
std::vector<FolderEntry> ListFolder(HANDLE folder, const std::wstring& path);

// Run lock and tree removal, each in a file of its own.
std::unique_ptr<RunLock> TryLockRunIn(HANDLE folder, const std::wstring& path);
// An access list that lets only Administrators and SYSTEM in, for what a
// run makes that nobody else may open.
UniqueLocal AdministratorsOnly(const std::wstring& what);
// Removes the folder `name` in `parent` with all it holds, or with `remove`
// false, raises what removing it would raise and removes nothing.
void RemoveFolderTree(HeldFolder& parent, const std::wstring& name, bool force, bool remove);

// The log's pieces, in a file of their own: who owns the folder open on
// `folder` and what its access list grants, the log as it was opened, and
// the account of the run.
FolderAccess AccessOf(HANDLE folder, const std::wstring& path);
std::unique_ptr<AppendOnlyFile> AppendOnlyOn(UniqueFile file, const PathFacts& facts,
                                             const std::wstring& path);
std::wstring RunAccountSid();

}  // namespace tarnwick::win32
