#include "platform/win32/Win32HeldTree.h"

#include "platform/ReparseTags.h"
#include "platform/win32/Errors.h"
#include "platform/win32/NtFiles.h"
#include "platform/win32/Win32Watchdog.h"

namespace tarnwick::win32 {

namespace {

constexpr ULONG ShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// Without FILE_SHARE_DELETE: nobody can rename or remove a held folder, or
// put a link in its place, while it is held.
constexpr ULONG ShareHeld = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr ACCESS_MASK HoldAccess = FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES;
// Other writers of a log may add their lines at the same time.
constexpr ULONG ShareWriters = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr size_t MaxReadBytes = 64 * 1024 * 1024;

struct HandleInfo {
    DWORD attributes;
    DWORD tag;
    DWORD links;
    FileId id;
};

HandleInfo InfoOf(HANDLE handle, const std::wstring& path) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(handle, &info)) throw LastErrorFailure(path);
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
        !::GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag))
        throw LastErrorFailure(path);
    return {info.dwFileAttributes, tag.ReparseTag, info.nNumberOfLinks,
            static_cast<FileId>(info.nFileIndexHigh) << 32 | info.nFileIndexLow};
}

// The name the system keeps for what a handle is open on, at any length
// (Wine's GetFinalPathNameByHandleW stops at MAX_PATH).
std::wstring NameOf(HANDLE handle, const std::wstring& path) {
    // Room for the longest counted name.
    std::vector<LONGLONG> buffer((sizeof(OBJECT_NAME_INFORMATION) + 0x10000) / sizeof(LONGLONG));
    const auto* info = reinterpret_cast<const OBJECT_NAME_INFORMATION*>(buffer.data());
    const NTSTATUS status =
        NtFiles().queryObject
            ? NtFiles().queryObject(handle, ObjectNameInformation, buffer.data(),
                                    static_cast<ULONG>(buffer.size() * sizeof(LONGLONG)), nullptr)
            : NtStatus::NotImplemented;
    if (!NT_SUCCESS(status)) throw StatusFailure(status, path);
    return std::wstring(info->Name.Buffer, info->Name.Length / sizeof(wchar_t));
}

// Whether `handle` is on what has `name` in the folder open on `folder`, and
// not on something a link at the name led to. Both names come from handles:
// this is a check of what was opened, never a way to open anything.
bool IsAtItsName(HANDLE handle, HANDLE folder, const std::wstring& name, const std::wstring& path) {
    const std::wstring opened = NameOf(handle, path);
    std::wstring expected = NameOf(folder, path);
    if (expected.empty() || expected.back() != L'\\') expected += L'\\';
    expected += name;
    return ::CompareStringOrdinal(opened.c_str(), static_cast<int>(opened.size()), expected.c_str(),
                                  static_cast<int>(expected.size()), TRUE) == CSTR_EQUAL;
}

// Opens what is there, raising what stops it; an empty handle when nothing is.
UniqueFile Open(HANDLE folder, const std::wstring& path, const std::wstring& name,
                const RelativeOpen& how) {
    UniqueFile handle;
    const NTSTATUS status = OpenAt(folder, path, name, how, handle);
    if (IsAbsent(status)) return UniqueFile();
    // A folder where a file was asked for: the file cannot be had.
    if (status == NtStatus::IsADirectory) throw ErrorFailure(ERROR_ACCESS_DENIED, path);
    if (!NT_SUCCESS(status)) throw StatusFailure(status, path);
    return handle;
}

// The whole file from its start; nullopt when it is larger than `limit`.
std::optional<std::string> ReadWhole(HANDLE file, const std::wstring& path, size_t limit) {
    const StepAt step(path);
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file, &size)) throw LastErrorFailure(path);
    if (static_cast<unsigned long long>(size.QuadPart) > limit) return std::nullopt;
    LARGE_INTEGER start{};
    if (!::SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) throw LastErrorFailure(path);
    std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD got = 0;
        if (!::ReadFile(file, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &got,
                        nullptr))
            throw LastErrorFailure(path);
        if (got == 0) break;
        done += got;
    }
    bytes.resize(done);
    return bytes;
}

// Windows refuses to rename onto a read-only file; some file systems, and
// Wine, would not. The file's owner meant it to stay.
void RequireWritableTarget(HeldFolder& folder, const std::wstring& name, const std::wstring& path) {
    const UniqueFile target = Open(HandleOf(folder), path, name,
                                   {FILE_READ_ATTRIBUTES, ShareAll, FILE_OPEN, FILE_OPEN_REPARSE_POINT});
    if (target && (InfoOf(target.get(), path).attributes & FILE_ATTRIBUTE_READONLY))
        throw ErrorFailure(ERROR_ACCESS_DENIED, path);
}

// Renames the file open on `file` to `name` in `folder`, then closes it.
// Refused, it stays open where it was: there is no second way by name.
void RenameAndClose(UniqueFile& file, HeldFolder& folder, const std::wstring& name, bool replace) {
    const std::wstring path = Below(PathOf(folder), name);
    const StepAt step(path);
    if (replace) RequireWritableTarget(folder, name, path);
    const NTSTATUS status = RenameRelative(file.get(), HandleOf(folder), name, replace);
    if (!NT_SUCCESS(status)) throw StatusFailure(status, path);
    file.reset();
}

NTSTATUS DeleteAt(HANDLE handle, const std::wstring& path) {
    const StepAt step(path);
    return DeleteByHandle(handle);
}

class Win32HeldFolder final : public HeldFolder {
public:
    Win32HeldFolder(UniqueFile handle, PathFacts facts, std::wstring path, ACCESS_MASK access)
        : handle_(std::move(handle)), facts_(facts), path_(std::move(path)), access_(access) {}
    const PathFacts& Facts() const override { return facts_; }
    HANDLE Handle() const noexcept { return handle_.get(); }
    const std::wstring& Path() const noexcept { return path_; }

    std::unique_ptr<HeldFolder> HoldFolder(const std::wstring& name) override {
        auto held = OpenEntry(handle_.get(), path_, name, access_, ShareHeld, 0);
        if (!held) return nullptr;
        return std::make_unique<Win32HeldFolder>(std::move(held->handle), held->facts,
                                                 Below(path_, name), access_);
    }
    PathFacts Inspect(const std::wstring& name) override {
        const auto entry = OpenEntry(handle_.get(), path_, name, FILE_READ_ATTRIBUTES, ShareAll, 0);
        return entry ? entry->facts : PathFacts{};
    }
    std::unique_ptr<ExistingFile> OpenFile(const std::wstring& name) override;
    std::optional<std::string> ReadFile(const std::wstring& name, std::size_t limit) override {
        const std::wstring path = Below(path_, name);
        auto entry = OpenEntry(handle_.get(), path_, name, FILE_READ_DATA, ShareAll, 0);
        if (!entry || entry->facts.link || entry->facts.folder) return std::nullopt;
        return ReadWhole(entry->handle.get(), path, limit);
    }
    std::unique_ptr<TemporaryFile> CreateNewFile(const std::wstring& name) override;
    void CreateFolder(const std::wstring& name) override {
        const std::wstring path = Below(path_, name);
        UniqueFile folder;
        const NTSTATUS status =
            OpenAt(handle_.get(), path, name,
                         {FILE_LIST_DIRECTORY, ShareHeld, FILE_CREATE,
                          FILE_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT},
                         folder);
        if (!NT_SUCCESS(status)) throw StatusFailure(status, path);
    }
    std::vector<FolderEntry> Entries() override { return ListFolder(handle_.get(), path_); }
    std::unique_ptr<RunLock> TryLockRun() override { return TryLockRunIn(handle_.get(), path_); }
    FolderAccess Access() override { return AccessOf(handle_.get(), path_); }
    std::unique_ptr<AppendOnlyFile> OpenToAppend(const std::wstring& name) override;

private:
    UniqueFile handle_;
    PathFacts facts_;
    std::wstring path_;
    ACCESS_MASK access_;  // what each folder held from here is opened with
};

class Win32ExistingFile final : public ExistingFile {
public:
    Win32ExistingFile(std::wstring path, UniqueFile file, PathFacts facts)
        : path_(std::move(path)), file_(std::move(file)), facts_(facts) {}
    const PathFacts& Facts() const override { return facts_; }
    std::string ReadAll() override {
        auto bytes = ReadWhole(file_.get(), path_, MaxReadBytes);
        if (!bytes) throw ErrorFailure(ERROR_FILE_TOO_LARGE, path_);
        return std::move(*bytes);
    }
    void MoveOnto(HeldFolder& folder, const std::wstring& name, bool replace) override {
        RenameAndClose(file_, folder, name, replace);
    }
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
        // A run that cannot remove it now leaves it to the next run's sweep.
        if (file_) DeleteAt(file_.get(), path_);
    }
    void Write(const std::string& bytes) override {
        const StepAt step(path_);
        size_t done = 0;
        while (done < bytes.size()) {
            DWORD wrote = 0;
            if (!::WriteFile(file_.get(), bytes.data() + done,
                             static_cast<DWORD>(bytes.size() - done), &wrote, nullptr))
                throw LastErrorFailure(path_);
            done += wrote;
        }
    }
    void Commit(HeldFolder& folder, const std::wstring& name, bool replaceExisting) override {
        {
            const StepAt step(path_);
            if (!::FlushFileBuffers(file_.get())) throw LastErrorFailure(path_);
        }
        RenameAndClose(file_, folder, name, replaceExisting);
    }

private:
    std::wstring path_;
    UniqueFile file_;  // empty once committed
};

// Opened to be replaced: a read-only or locked file fails here, before
// anything is written.
std::unique_ptr<ExistingFile> Win32HeldFolder::OpenFile(const std::wstring& name) {
    auto entry = OpenEntry(handle_.get(), path_, name, GENERIC_READ | GENERIC_WRITE | DELETE,
                           FILE_SHARE_READ, FILE_NON_DIRECTORY_FILE);
    if (!entry) return nullptr;
    const std::wstring path = Below(path_, name);
    if (entry->attributes & FILE_ATTRIBUTE_READONLY) throw ErrorFailure(ERROR_ACCESS_DENIED, path);
    return std::make_unique<Win32ExistingFile>(path, std::move(entry->handle), entry->facts);
}

// Made at exactly that name: anything there already, a link included,
// makes it fail. Nobody else may open it while it is written.
std::unique_ptr<TemporaryFile> Win32HeldFolder::CreateNewFile(const std::wstring& name) {
    const std::wstring path = Below(path_, name);
    UniqueFile file;
    const NTSTATUS status = OpenAt(handle_.get(), path, name,
                                         {GENERIC_WRITE | DELETE, 0, FILE_CREATE,
                                          FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT},
                                         file);
    if (!NT_SUCCESS(status)) throw StatusFailure(status, path);
    return std::make_unique<Win32TemporaryFile>(path, std::move(file));
}

// Opened as itself, only to add to its end. Made new only where nothing has
// the name: opening or else creating would follow a dangling link there and
// make the file it names.
std::unique_ptr<AppendOnlyFile> Win32HeldFolder::OpenToAppend(const std::wstring& name) {
    const std::wstring path = Below(path_, name);
    const UniqueLocal descriptor = AdministratorsOnly(path);
    for (int attempt = 1;; ++attempt) {
        try {
            auto entry = OpenEntry(handle_.get(), path_, name, FILE_APPEND_DATA, ShareWriters,
                                   FILE_NON_DIRECTORY_FILE, /*identifyOnly=*/true);
            if (entry) return AppendOnlyOn(std::move(entry->handle), entry->facts, path);
            UniqueFile made;
            const NTSTATUS status =
                OpenAt(handle_.get(), path, name,
                       {FILE_APPEND_DATA | FILE_READ_ATTRIBUTES, ShareWriters, FILE_CREATE,
                        FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT, FILE_ATTRIBUTE_NORMAL,
                        descriptor.get(), true},
                       made);
            if (NT_SUCCESS(status))
                return AppendOnlyOn(std::move(made), PathFacts{true, false, false, 1, 0}, path);
            // Another run made it just now: that one is opened.
            if (status == NtStatus::NameCollision && attempt == 1) continue;
            throw StatusFailure(status, path);
        } catch (const Failure& failure) {
            // Neither there nor free: a link that leads nowhere, as Wine shows one.
            if (failure.IsNotFound() || failure.IsAlreadyExists())
                throw Failure(FailureCode::ReparsePoint, L"This is a link that leads nowhere.\n" + path);
            throw;
        }
    }
}

}  // namespace

NTSTATUS OpenAt(HANDLE folder, const std::wstring& path, const std::wstring& name,
                const RelativeOpen& how, UniqueFile& opened) {
    const StepAt step(path);
    return OpenRelative(folder, name, how, opened);
}

void DeleteAndClose(UniqueFile& file, const std::wstring& path) {
    const NTSTATUS status = DeleteAt(file.get(), path);
    if (!NT_SUCCESS(status)) throw StatusFailure(status, path);
    file.reset();
}

std::wstring Below(const std::wstring& path, const std::wstring& name) {
    return path.empty() || path.back() == L'\\' ? path + name : path + L'\\' + name;
}

HANDLE HandleOf(HeldFolder& folder) { return static_cast<Win32HeldFolder&>(folder).Handle(); }

const std::wstring& PathOf(HeldFolder& folder) { return static_cast<Win32HeldFolder&>(folder).Path(); }

std::optional<OpenedEntry> OpenEntry(HANDLE folder, const std::wstring& folderPath,
                                     const std::wstring& name, ACCESS_MASK access, ULONG share,
                                     ULONG options, bool identifyOnly) {
    const std::wstring path = Below(folderPath, name);
    const RelativeOpen asItself{access | FILE_READ_ATTRIBUTES, share, FILE_OPEN,
                                options | FILE_OPEN_REPARSE_POINT, FILE_ATTRIBUTE_NORMAL, nullptr,
                                identifyOnly};
    OpenedEntry entry;
    entry.handle = Open(folder, path, name, asItself);
    if (!entry.handle) return std::nullopt;
    HandleInfo info = InfoOf(entry.handle.get(), path);
    const ReparseKind kind =
        ReparseKindOf((info.attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0, info.tag);
    bool same = true;
    if (kind == ReparseKind::Storage) {
        // Its filter hands over the real data only when the file is opened
        // through it. What opens then must be the file that was checked.
        const FileId checked = info.id;
        entry.handle.reset();
        entry.handle = Open(folder, path, name,
                            {access | FILE_READ_ATTRIBUTES, share, FILE_OPEN, options,
                             FILE_ATTRIBUTE_NORMAL, nullptr, identifyOnly});
        if (!entry.handle) return std::nullopt;
        info = InfoOf(entry.handle.get(), path);
        same = info.id == checked;
    }
    entry.attributes = info.attributes;
    entry.reparsePoint = kind != ReparseKind::None;
    entry.atItsName = same && IsAtItsName(entry.handle.get(), folder, name, path);
    const bool isFolder = (info.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    entry.facts = PathFacts{true, isFolder, kind == ReparseKind::Link || !entry.atItsName,
                            isFolder ? 0u : static_cast<unsigned>(info.links), info.id};
    return entry;
}

std::vector<FolderEntry> ListFolder(HANDLE folder, const std::wstring& path) {
    const StepAt step(path);
    std::vector<FolderEntry> entries;
    std::vector<LONGLONG> buffer(8 * 1024);  // 64 KB, aligned for the records
    auto* bytes = reinterpret_cast<unsigned char*>(buffer.data());
    const auto size = static_cast<DWORD>(buffer.size() * sizeof(LONGLONG));
    for (auto kind = FileIdBothDirectoryRestartInfo;; kind = FileIdBothDirectoryInfo) {
        if (!::GetFileInformationByHandleEx(folder, kind, bytes, size)) {
            const DWORD error = ::GetLastError();
            if (error == ERROR_NO_MORE_FILES) return entries;
            throw ErrorFailure(error, path);
        }
        for (size_t at = 0;;) {
            const auto* record = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(bytes + at);
            std::wstring name(record->FileName, record->FileNameLength / sizeof(wchar_t));
            if (name != L"." && name != L"..")
                entries.push_back({std::move(name), static_cast<FileId>(record->FileId.QuadPart)});
            if (record->NextEntryOffset == 0) break;
            at += record->NextEntryOffset;
        }
    }
}

// Whether the name the system keeps for an open folder leads to that very
// folder. Wine looks a path up twice when it opens it, once to open it and
// once to name it, so a link re-pointed in between leaves a handle on one
// folder named after another, and everything later done by that name
// (renames, deletes on close) would reach the other.
bool IsNamedAsItself(HANDLE folder, FileId id, const std::wstring& path) {
    UniqueFile again;
    const NTSTATUS status = OpenNtPath(
        NameOf(folder, path), {FILE_READ_ATTRIBUTES, ShareAll, FILE_OPEN, FILE_OPEN_FOR_BACKUP_INTENT},
        again);
    if (IsAbsent(status)) return false;
    if (!NT_SUCCESS(status)) throw StatusFailure(status, path);
    return InfoOf(again.get(), path).id == id;
}

// The NT path of a drive or network path, read by Windows' own rules first
// ("/" for "\\", "." and "..", trailing dots and spaces): it opens at any
// length, whatever the system's long-path setting.
std::wstring NtPathOf(const std::wstring& path) {
    const DWORD size = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    // The full path goes at 6, after room for "\\??\\UNC" less the share's first "\\".
    std::wstring nt(size + 6, L'\\');
    const DWORD length = size ? ::GetFullPathNameW(path.c_str(), size, &nt[6], nullptr) : 0;
    if (length == 0 || length >= size) throw LastErrorFailure(path);
    const wchar_t* full = &nt[6];
    size_t from = 2;  // "\\??\\C:\\..."
    if (length > 2 && full[0] == L'\\' && full[1] == L'\\' && full[2] != L'?' && full[2] != L'.') {
        from = 0;  // "\\??\\UNC\\server\\share\\..."
        nt[4] = L'U';
        nt[5] = L'N';
        nt[6] = L'C';
    } else if (length < 3 || full[1] != L':' || full[2] != L'\\') {
        // A device's name (NUL, COM1), or no drive or share.
        throw ErrorFailure(ERROR_BAD_PATHNAME, path);
    }
    nt[from + 1] = nt[from + 2] = L'?';
    return std::wstring(nt.c_str() + from, 6 - from + length);
}

// Following a link there: the browser's folder may be a relocated one.
// From here on, the path is not opened again.
std::unique_ptr<HeldFolder> HoldFolderAt(const std::wstring& path, bool readAccess) {
    const StepAt step(path);
    const std::wstring ntPath = NtPathOf(path);
    const ACCESS_MASK access = readAccess ? HoldAccess | READ_CONTROL : HoldAccess;
    constexpr int Attempts = 10;
    for (int attempt = 1;; ++attempt) {
        UniqueFile handle;
        const NTSTATUS status =
            OpenNtPath(ntPath, {access, ShareHeld, FILE_OPEN, FILE_OPEN_FOR_BACKUP_INTENT}, handle);
        if (!NT_SUCCESS(status)) {
            Failure failure = StatusFailure(status, path);
            if (MeansAbsent(static_cast<DWORD>(failure.Code()))) return nullptr;
            throw failure;
        }
        const HandleInfo info = InfoOf(handle.get(), path);
        const bool isFolder = (info.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (!isFolder || IsNamedAsItself(handle.get(), info.id, path))
            return std::make_unique<Win32HeldFolder>(
                std::move(handle), PathFacts{true, isFolder, false, 0, info.id}, path, access);
        if (attempt == Attempts)
            throw Failure(FailureCode::ReparsePoint,
                          L"The browser's folder kept changing while Tarnwick opened it, so "
                          L"nothing was changed.\n" + path);
    }
}

}  // namespace tarnwick::win32
