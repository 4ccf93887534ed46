#include "platform/win32/Win32FileSystem.h"

#include <windows.h>

#include "platform/win32/Handles.h"
#include "platform/win32/Win32Platform.h"

namespace tarnwick::win32 {

namespace {

// Errors that mean "there is nothing at this path", as opposed to "cannot tell".
bool MeansAbsent(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_INVALID_DRIVE:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_NET_NAME:
        case ERROR_BAD_PATHNAME:
        case ERROR_DIRECTORY:
        case ERROR_NOT_READY:
            return true;
        default:
            return false;
    }
}

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

template <typename Visit>
void ForEachEntry(const std::wstring& folder, Visit&& visit) {
    WIN32_FIND_DATAW entry{};
    UniqueFind find(::FindFirstFileExW((folder + L"\\*").c_str(), FindExInfoBasic, &entry,
                                       FindExSearchNameMatch, nullptr, 0));
    if (!find) throw LastErrorFailure(folder);
    do {
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") continue;
        visit(folder + L"\\" + name, entry.dwFileAttributes);
    } while (::FindNextFileW(find.get(), &entry));
    const DWORD error = ::GetLastError();
    if (error != ERROR_NO_MORE_FILES) throw ErrorFailure(error, folder);
}

bool IsLink(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }
bool IsFolder(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }

// Without force nothing is removed while anything inside is read-only, so
// a refused delete leaves the folder whole rather than half emptied.
void RequireNothingReadOnly(const std::wstring& folder) {
    ForEachEntry(folder, [](const std::wstring& path, DWORD attributes) {
        if (attributes & FILE_ATTRIBUTE_READONLY) throw ErrorFailure(ERROR_ACCESS_DENIED, path);
        if (IsFolder(attributes) && !IsLink(attributes)) RequireNothingReadOnly(path);
    });
}

void RemoveLink(const std::wstring& path, DWORD attributes) {
    const BOOL removed =
        IsFolder(attributes) ? ::RemoveDirectoryW(path.c_str()) : ::DeleteFileW(path.c_str());
    if (!removed) throw LastErrorFailure(path);
}

void ClearReadOnly(const std::wstring& path, DWORD attributes) {
    if ((attributes & FILE_ATTRIBUTE_READONLY) &&
        !::SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY))
        throw LastErrorFailure(path);
}

void RemoveTree(const std::wstring& folder) {
    ForEachEntry(folder, [](const std::wstring& path, DWORD attributes) {
        if (IsLink(attributes)) {
            RemoveLink(path, attributes);
        } else if (IsFolder(attributes)) {
            ClearReadOnly(path, attributes);
            RemoveTree(path);
        } else {
            ClearReadOnly(path, attributes);
            if (!::DeleteFileW(path.c_str())) throw LastErrorFailure(path);
        }
    });
    if (!::RemoveDirectoryW(folder.c_str())) throw LastErrorFailure(folder);
}

}  // namespace

bool Win32FileSystemObject::FolderExists(const std::wstring& path) {
    const DWORD attributes = AttributesOrAbsent(path);
    return attributes != INVALID_FILE_ATTRIBUTES && IsFolder(attributes);
}

bool Win32FileSystemObject::FileExists(const std::wstring& path) {
    const DWORD attributes = AttributesOrAbsent(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !IsFolder(attributes);
}

void Win32FileSystemObject::DeleteFolder(const std::wstring& path, bool force) {
    const std::wstring folder = WithoutTrailingBackslash(path);
    const DWORD attributes = AttributesOrAbsent(folder);
    if (attributes == INVALID_FILE_ATTRIBUTES || !IsFolder(attributes))
        throw ErrorFailure(ERROR_PATH_NOT_FOUND, folder);
    if (IsLink(attributes)) {
        RemoveLink(folder, attributes);
        return;
    }
    if (!force) {
        if (attributes & FILE_ATTRIBUTE_READONLY) throw ErrorFailure(ERROR_ACCESS_DENIED, folder);
        RequireNothingReadOnly(folder);
    }
    ClearReadOnly(folder, attributes);
    RemoveTree(folder);
}

}  // namespace tarnwick::win32
