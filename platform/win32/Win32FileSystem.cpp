#include "platform/win32/Win32FileSystem.h"

#include <windows.h>

#include "platform/win32/Errors.h"
#include "platform/win32/Handles.h"
#include "platform/win32/Win32HeldTree.h"

namespace tarnwick::win32 {

namespace {

std::wstring WithoutTrailingBackslash(std::wstring path) {
    while (path.size() > 3 && path.back() == L'\\') path.pop_back();
    return path;
}

// The attributes of whatever is at `path`, or INVALID_FILE_ATTRIBUTES when
// nothing is. A path that is there but cannot be opened (a locked system
// file) is looked up in its folder's listing instead.
DWORD AttributesOrAbsent(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) return attributes;
    DWORD error = ::GetLastError();
    if (MeansAbsent(error)) return INVALID_FILE_ATTRIBUTES;
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED) {
        WIN32_FIND_DATAW found{};
        UniqueFind find(::FindFirstFileW(WithoutTrailingBackslash(path).c_str(), &found));
        if (find) return found.dwFileAttributes;
        error = ::GetLastError();
        if (MeansAbsent(error)) return INVALID_FILE_ATTRIBUTES;
    }
    throw ErrorFailure(error, path);
}

bool IsFolder(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }

}  // namespace

bool Win32FileSystemObject::FolderExists(const std::wstring& path) {
    const DWORD attributes = AttributesOrAbsent(path);
    return attributes != INVALID_FILE_ATTRIBUTES && IsFolder(attributes);
}

bool Win32FileSystemObject::FileExists(const std::wstring& path) {
    const DWORD attributes = AttributesOrAbsent(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !IsFolder(attributes);
}

void Win32FileSystemObject::CheckDeleteFolder(HeldFolder& parent, const std::wstring& name,
                                              bool force) {
    RemoveFolderTree(parent, name, force, false);
}

void Win32FileSystemObject::DeleteFolder(HeldFolder& parent, const std::wstring& name, bool force) {
    RemoveFolderTree(parent, name, force, false);
    RemoveFolderTree(parent, name, force, true);
}

}  // namespace tarnwick::win32
