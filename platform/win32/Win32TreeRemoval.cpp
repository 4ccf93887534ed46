// Removing the marker folder and what it holds. Each entry is reached
// through the folder that holds it and removed by its own handle: what a
// link inside leads to is never reached, and a link is removed as itself.
// Without force, a read-only entry anywhere stops the removal before
// anything goes, so a refused delete leaves the folder whole.
// Each level down takes some of the program's stack: a tree deeper than
// any marker needs, planted where users can write, is refused as too long
// before anything goes.

#include "platform/win32/Errors.h"
#include "platform/win32/NtFiles.h"
#include "platform/win32/Win32HeldTree.h"

namespace tarnwick::win32 {

namespace {

constexpr ULONG ShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr ACCESS_MASK LookAccess = FILE_LIST_DIRECTORY;
constexpr ACCESS_MASK RemoveAccess = FILE_LIST_DIRECTORY | FILE_WRITE_ATTRIBUTES | DELETE;
constexpr int MaxDepth = 1000;  // some 300 KB of the main thread's 2 MB stack

// The times left at zero stay as they are.
void ClearReadOnly(const OpenedEntry& entry, const std::wstring& path) {
    if (!(entry.attributes & FILE_ATTRIBUTE_READONLY)) return;
    FILE_BASIC_INFO basic{};
    basic.FileAttributes = entry.attributes & ~FILE_ATTRIBUTE_READONLY;
    if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    if (!::SetFileInformationByHandle(entry.handle.get(), FileBasicInfo, &basic, sizeof basic))
        throw LastErrorFailure(path);
}

void Remove(OpenedEntry& entry, const std::wstring& path, bool force, bool remove, int depth);

void RemoveContent(HANDLE folder, const std::wstring& path, bool force, bool remove, int depth) {
    if (depth > MaxDepth) throw ErrorFailure(ERROR_FILENAME_EXCED_RANGE, path);
    for (const FolderEntry& listed : ListFolder(folder, path)) {
        auto entry = OpenEntry(folder, path, listed.name, remove ? RemoveAccess : LookAccess,
                               ShareAll, 0);
        if (entry) Remove(*entry, Below(path, listed.name), force, remove, depth + 1);
    }
}

void Remove(OpenedEntry& entry, const std::wstring& path, bool force, bool remove, int depth) {
    // A handle that is not on the entry itself was led there by a link, and
    // removing through it would remove what the link leads to.
    if (!entry.atItsName) throw LinkRefused(path);
    if (!force && (entry.attributes & FILE_ATTRIBUTE_READONLY))
        throw ErrorFailure(ERROR_ACCESS_DENIED, path);
    if (entry.facts.folder && !entry.reparsePoint)
        RemoveContent(entry.handle.get(), path, force, remove, depth);
    if (!remove) return;
    ClearReadOnly(entry, path);
    DeleteAndClose(entry.handle, path);  // it goes now
}

}  // namespace

void RemoveFolderTree(HeldFolder& parent, const std::wstring& name, bool force, bool remove) {
    const std::wstring path = Below(PathOf(parent), name);
    auto folder = OpenEntry(HandleOf(parent), PathOf(parent), name,
                            remove ? RemoveAccess : LookAccess, ShareAll, 0);
    if (!folder || !folder->facts.folder) throw ErrorFailure(ERROR_PATH_NOT_FOUND, path);
    Remove(*folder, path, force, remove, 1);
}

}  // namespace tarnwick::win32
