#include "platform/win32/Win32FileSystem.h"

#include <windows.h>
#include <sddl.h>

#include <algorithm>
#include <optional>
#include <vector>

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

struct Entry {
    std::wstring name;
    DWORD attributes;
};

// What a folder holds, read whole before anything in it is changed.
std::vector<Entry> EntriesOf(const std::wstring& folder) {
    std::vector<Entry> entries;
    WIN32_FIND_DATAW found{};
    UniqueFind find(::FindFirstFileExW((folder + L"\\*").c_str(), FindExInfoBasic, &found,
                                       FindExSearchNameMatch, nullptr, 0));
    if (!find) throw LastErrorFailure(folder);
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") entries.push_back({name, found.dwFileAttributes});
    } while (::FindNextFileW(find.get(), &found));
    const DWORD error = ::GetLastError();
    if (error != ERROR_NO_MORE_FILES) throw ErrorFailure(error, folder);
    return entries;
}

bool IsLink(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }
bool IsFolder(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }

// Without force nothing is removed while anything inside is read-only, so
// a refused delete leaves the folder whole rather than half emptied.
void RequireNothingReadOnly(const std::wstring& folder) {
    for (const Entry& entry : EntriesOf(folder)) {
        const std::wstring path = folder + L"\\" + entry.name;
        if (entry.attributes & FILE_ATTRIBUTE_READONLY) throw ErrorFailure(ERROR_ACCESS_DENIED, path);
        if (IsFolder(entry.attributes) && !IsLink(entry.attributes)) RequireNothingReadOnly(path);
    }
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
    for (const auto& [name, attributes] : EntriesOf(folder)) {
        const std::wstring path = folder + L"\\" + name;
        if (IsLink(attributes)) {
            RemoveLink(path, attributes);
        } else if (IsFolder(attributes)) {
            ClearReadOnly(path, attributes);
            RemoveTree(path);
        } else {
            ClearReadOnly(path, attributes);
            if (!::DeleteFileW(path.c_str())) throw LastErrorFailure(path);
        }
    }
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

namespace {
// The folder's attributes, once it is known that DeleteFolder may go ahead
// with what is inside.
DWORD CheckFolderDelete(const std::wstring& folder, bool force) {
    const DWORD attributes = AttributesOrAbsent(folder);
    if (attributes == INVALID_FILE_ATTRIBUTES || !IsFolder(attributes))
        throw ErrorFailure(ERROR_PATH_NOT_FOUND, folder);
    if (!force && !IsLink(attributes)) {
        if (attributes & FILE_ATTRIBUTE_READONLY) throw ErrorFailure(ERROR_ACCESS_DENIED, folder);
        RequireNothingReadOnly(folder);
    }
    return attributes;
}
}  // namespace

void Win32FileSystemObject::CheckDeleteFolder(const std::wstring& path, bool force) {
    CheckFolderDelete(WithoutTrailingBackslash(path), force);
}

void Win32FileSystemObject::DeleteFolder(const std::wstring& path, bool force) {
    const std::wstring folder = WithoutTrailingBackslash(path);
    const DWORD attributes = CheckFolderDelete(folder, force);
    if (IsLink(attributes)) {
        RemoveLink(folder, attributes);
        return;
    }
    ClearReadOnly(folder, attributes);
    RemoveTree(folder);
}

// ---- the file layer below a browser folder ----

namespace {

constexpr DWORD ShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr DWORD AsItself = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;
constexpr size_t MaxReadBytes = 64 * 1024 * 1024;

// The path of what a handle is open on, as the file system names it.
std::optional<std::wstring> FinalPath(HANDLE handle, DWORD volumeName) {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetFinalPathNameByHandleW(handle, buffer.data(),
                                                         static_cast<DWORD>(buffer.size()),
                                                         FILE_NAME_NORMALIZED | volumeName);
        if (length == 0) return std::nullopt;
        if (length < buffer.size()) {
            buffer.resize(length);
            return buffer;
        }
        buffer.resize(length);  // too small: the length asked for counts the NUL
    }
}

// Whether the handle is on what has that name in its folder, and not on
// something a link at the name led to.
bool IsAtItsName(HANDLE handle, const std::wstring& path) {
    const std::wstring trimmed = WithoutTrailingBackslash(path);
    const size_t slash = trimmed.find_last_of(L"\\/");
    if (slash == std::wstring::npos || slash + 1 == trimmed.size()) return true;  // a root
    const std::wstring parentPath = trimmed.substr(0, slash + 1);
    const std::wstring name = trimmed.substr(slash + 1);
    UniqueFile parent(::CreateFileW(parentPath.c_str(), FILE_READ_ATTRIBUTES, ShareAll, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!parent) throw LastErrorFailure(parentPath);
    for (const DWORD volumeName : {VOLUME_NAME_DOS, VOLUME_NAME_NT}) {
        const auto opened = FinalPath(handle, volumeName);
        auto expected = FinalPath(parent.get(), volumeName);
        if (!opened || !expected) continue;
        if (expected->empty() || expected->back() != L'\\') *expected += L'\\';
        *expected += name;
        return ::CompareStringOrdinal(opened->c_str(), static_cast<int>(opened->size()),
                                      expected->c_str(), static_cast<int>(expected->size()),
                                      TRUE) == CSTR_EQUAL;
    }
    throw LastErrorFailure(path);
}

// Wine marks a link to a folder by its name only, so the name is asked too.
PathFacts FactsOf(HANDLE handle, const std::wstring& path) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(handle, &info)) throw LastErrorFailure(path);
    const DWORD byName = ::GetFileAttributesW(path.c_str());
    PathFacts facts;
    facts.exists = true;
    facts.folder = IsFolder(info.dwFileAttributes);
    facts.link = IsLink(info.dwFileAttributes) ||
                 (byName != INVALID_FILE_ATTRIBUTES && IsLink(byName)) || !IsAtItsName(handle, path);
    facts.names = facts.folder ? 0 : info.nNumberOfLinks;
    return facts;
}

// Opens `path` as itself; an empty handle when nothing is there.
UniqueFile OpenAsItself(const std::wstring& path, DWORD access, DWORD share, DWORD flags) {
    UniqueFile handle(::CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING, flags, nullptr));
    if (handle) return handle;
    const DWORD error = ::GetLastError();
    if (MeansAbsent(error)) return UniqueFile();
    throw ErrorFailure(error, path);
}

// Some file systems (and older network servers) have no rename or delete
// by handle: there it is done by name, once the handle is closed.
bool ByNameInstead(DWORD error) {
    return error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED ||
           error == ERROR_INVALID_FUNCTION;
}

// Windows refuses to rename onto a read-only file; some file systems, and
// Wine, would not. The file's owner meant it to stay.
void RequireWritableTarget(const std::wstring& target) {
    const DWORD attributes = ::GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        throw ErrorFailure(ERROR_ACCESS_DENIED, target);
}

// Renames the file open on `file` to `target` in one step, then closes it.
void RenameAndClose(UniqueFile& file, const std::wstring& path, const std::wstring& target,
                    bool replace) {
    if (replace) RequireWritableTarget(target);
    const size_t nameBytes = target.size() * sizeof(wchar_t);
    std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + nameBytes);
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = replace ? TRUE : FALSE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(nameBytes);
    std::copy(target.begin(), target.end(), rename->FileName);
    if (::SetFileInformationByHandle(file.get(), FileRenameInfo, rename,
                                     static_cast<DWORD>(buffer.size()))) {
        file.reset();
        return;
    }
    const DWORD error = ::GetLastError();
    if (!ByNameInstead(error)) throw ErrorFailure(error, target);
    file.reset();
    const DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
    if (!::MoveFileExW(path.c_str(), target.c_str(), flags)) throw LastErrorFailure(target);
}

// Deletes the file open on `file`, whatever its name leads to by now, then
// closes it.
void DeleteAndClose(UniqueFile& file, const std::wstring& path) {
    FILE_DISPOSITION_INFO disposition{TRUE};
    if (::SetFileInformationByHandle(file.get(), FileDispositionInfo, &disposition,
                                     sizeof disposition)) {
        file.reset();
        return;
    }
    const DWORD error = ::GetLastError();
    if (!ByNameInstead(error)) throw ErrorFailure(error, path);
    file.reset();
    if (!::DeleteFileW(path.c_str())) throw LastErrorFailure(path);
}

class Win32HeldFolder final : public HeldFolder {
public:
    Win32HeldFolder(UniqueFile handle, PathFacts facts) : handle_(std::move(handle)), facts_(facts) {}
    const PathFacts& Facts() const override { return facts_; }

private:
    UniqueFile handle_;
    PathFacts facts_;
};

class Win32ExistingFile final : public ExistingFile {
public:
    Win32ExistingFile(std::wstring path, UniqueFile file, PathFacts facts)
        : path_(std::move(path)), file_(std::move(file)), facts_(facts) {}
    const PathFacts& Facts() const override { return facts_; }
    std::string ReadAll() override {
        LARGE_INTEGER size{};
        if (!::GetFileSizeEx(file_.get(), &size)) throw LastErrorFailure(path_);
        if (static_cast<unsigned long long>(size.QuadPart) > MaxReadBytes)
            throw ErrorFailure(ERROR_FILE_TOO_LARGE, path_);
        std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
        size_t done = 0;
        while (done < bytes.size()) {
            DWORD got = 0;
            if (!::ReadFile(file_.get(), bytes.data() + done, static_cast<DWORD>(bytes.size() - done),
                            &got, nullptr))
                throw LastErrorFailure(path_);
            if (got == 0) break;
            done += got;
        }
        bytes.resize(done);
        return bytes;
    }
    void MoveOnto(const std::wstring& target) override { RenameAndClose(file_, path_, target, true); }
    void Remove() override { DeleteAndClose(file_, path_); }

private:
    std::wstring path_;
    UniqueFile file_;
    PathFacts facts_;
};

class Win32TemporaryFile final : public TemporaryFile {
public:
    Win32TemporaryFile(std::wstring path, UniqueFile file)
        : path_(std::move(path)), file_(std::move(file)) {}
    ~Win32TemporaryFile() override {
        if (!file_) return;
        try {
            DeleteAndClose(file_, path_);
        } catch (...) {
            // A run that cannot remove it now leaves it to the next run's sweep.
        }
    }
    void Write(const std::string& bytes) override {
        size_t done = 0;
        while (done < bytes.size()) {
            DWORD wrote = 0;
            if (!::WriteFile(file_.get(), bytes.data() + done,
                             static_cast<DWORD>(bytes.size() - done), &wrote, nullptr))
                throw LastErrorFailure(path_);
            done += wrote;
        }
    }
    void Commit(const std::wstring& target, bool replaceExisting) override {
        if (!::FlushFileBuffers(file_.get())) throw LastErrorFailure(path_);
        try {
            RenameAndClose(file_, path_, target, replaceExisting);
        } catch (...) {
            // Refused when renamed by name: the handle is gone, the name is still ours.
            if (!file_) ::DeleteFileW(path_.c_str());
            throw;
        }
    }

private:
    std::wstring path_;
    UniqueFile file_;  // empty once committed
};

class Win32RunLock final : public RunLock {
public:
    explicit Win32RunLock(UniqueHandle mutex) : mutex_(std::move(mutex)) {}
    ~Win32RunLock() override { ::ReleaseMutex(mutex_.get()); }

private:
    UniqueHandle mutex_;
};

constexpr wchar_t RunLockName[] = L"Global\\Tarnwick.RunLock";
// Full access for Administrators and SYSTEM, nothing for anyone else.
constexpr wchar_t RunLockAccess[] = L"D:P(A;;GA;;;BA)(A;;GA;;;SY)";
constexpr DWORD RunLockWait = 60 * 1000;

struct LocalMemoryTraits {
    static HLOCAL Invalid() noexcept { return nullptr; }
    static bool IsValid(HLOCAL h) noexcept { return h != nullptr; }
    static void Close(HLOCAL h) noexcept { ::LocalFree(h); }
};

}  // namespace

PathFacts InspectPath(const std::wstring& path) {
    const UniqueFile handle = OpenAsItself(path, FILE_READ_ATTRIBUTES, ShareAll, AsItself);
    return handle ? FactsOf(handle.get(), path) : PathFacts{};
}

// Without FILE_SHARE_DELETE: nobody can rename or remove the folder, or put
// a link in its place, while it is held. An open that may only read
// attributes takes no part in sharing, so it asks to list the folder too.
std::unique_ptr<HeldFolder> HoldFolderAt(const std::wstring& path) {
    UniqueFile handle = OpenAsItself(path, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE, AsItself);
    if (!handle) return nullptr;
    const PathFacts facts = FactsOf(handle.get(), path);
    return std::make_unique<Win32HeldFolder>(std::move(handle), facts);
}

// Opened for writing, as the file is about to be replaced: a read-only or
// locked file fails here, before anything is written.
std::unique_ptr<ExistingFile> OpenExisting(const std::wstring& path) {
    UniqueFile file = OpenAsItself(path, GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ,
                                   FILE_FLAG_OPEN_REPARSE_POINT);
    if (!file) return nullptr;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(file.get(), &info)) throw LastErrorFailure(path);
    if (info.dwFileAttributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY))
        throw ErrorFailure(ERROR_ACCESS_DENIED, path);
    const PathFacts facts = FactsOf(file.get(), path);
    return std::make_unique<Win32ExistingFile>(path, std::move(file), facts);
}

std::unique_ptr<TemporaryFile> CreateNew(const std::wstring& path) {
    UniqueFile file(::CreateFileW(path.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file) throw LastErrorFailure(path);
    return std::make_unique<Win32TemporaryFile>(path, std::move(file));
}

std::vector<std::wstring> NamesInFolder(const std::wstring& folder) {
    std::vector<std::wstring> names;
    const std::wstring trimmed = WithoutTrailingBackslash(folder);
    if (AttributesOrAbsent(trimmed) == INVALID_FILE_ATTRIBUTES) return names;
    for (Entry& entry : EntriesOf(trimmed)) names.push_back(std::move(entry.name));
    return names;
}

std::unique_ptr<RunLock> AcquireRunLock() {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(RunLockAccess, SDDL_REVISION_1,
                                                                &descriptor, nullptr))
        throw LastErrorFailure(L"The lock against other runs of Tarnwick could not be described.");
    const UniqueResource<HLOCAL, LocalMemoryTraits> descriptorOwner(descriptor);
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
    UniqueHandle mutex(::CreateMutexW(&attributes, FALSE, RunLockName));
    if (!mutex) throw LastErrorFailure(L"The lock against other runs of Tarnwick could not be made.");
    switch (::WaitForSingleObject(mutex.get(), RunLockWait)) {
        case WAIT_OBJECT_0:
        case WAIT_ABANDONED:  // a run that was killed: its leftovers are swept
            return std::make_unique<Win32RunLock>(std::move(mutex));
        case WAIT_TIMEOUT:
            throw Failure(FailureCode::AnotherRunInProgress,
                          L"Another run of Tarnwick kept the browser's folder for over a minute, so "
                          L"this one changed nothing. Try again later.");
        default:
            throw LastErrorFailure(L"The lock against other runs of Tarnwick could not be had.");
    }
}

}  // namespace tarnwick::win32
