#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tarnwick {

// The platform handle of a window, opaque to the portable code.
using WindowHandle = std::uintptr_t;

// Message box answers and styles used by the program.
namespace Answer {
constexpr int Yes = 6;
}
namespace Style {
constexpr unsigned YesNoExclamation = 52;   // MB_YESNO | MB_ICONEXCLAMATION
constexpr unsigned OkInformation = 64;      // MB_OK | MB_ICONINFORMATION
constexpr unsigned OkSystemModal = 4096;    // MB_OK | MB_SYSTEMMODAL
constexpr unsigned OkStop = 4096 | 16;      // MB_OK | MB_SYSTEMMODAL | MB_ICONSTOP
}  // namespace Style

// A program file's fixed product version, as its version resource holds it.
struct FileVersion {
    unsigned major = 0, minor = 0, build = 0, revision = 0;
};

class HeldFolder;

// Questions about the file system by path, and the recursive folder delete.
// Every answer is a real answer: when the platform cannot tell, it raises.
class FileSystemObject {
public:
    virtual ~FileSystemObject() = default;
    virtual bool FolderExists(const std::wstring& path) = 0;
    virtual bool FileExists(const std::wstring& path) = 0;
    // Removes the folder `name` in `parent` and everything in it, each
    // reached through the folder that holds it. Links inside (or the folder
    // itself, if it is one) are removed as links; what they point at is
    // never touched. Without force, a read-only file anywhere inside makes
    // the call fail before anything is removed.
    virtual void DeleteFolder(HeldFolder& parent, const std::wstring& name, bool force) = 0;
    // Raises what DeleteFolder would raise for what is inside the folder,
    // and removes nothing.
    virtual void CheckDeleteFolder(HeldFolder& parent, const std::wstring& name, bool force) = 0;
};

// A file system's own number for a file or folder: what a name led to, so
// that what is opened can be told from what was listed or checked.
using FileId = std::uint64_t;

// What is at a name, seen without following a link there.
struct PathFacts {
    bool exists = false;
    bool folder = false;
    bool link = false;   // leads elsewhere: a symbolic link, a junction, a mount point
    unsigned names = 0;  // a file's hard links; 1 for a file with one name
    FileId id = 0;
};

// A name in a folder's listing, with what it named when the folder was read.
struct FolderEntry {
    std::wstring name;
    FileId id = 0;
};

// One entry of a folder's access list, as Windows keeps it: its type
// (allow, deny, or another kind), its inheritance flags and rights, and
// for the plain allow and deny kinds the account, as SID text ("S-1-1-0").
struct AccessEntry {
    std::uint8_t type = 0;
    std::uint8_t flags = 0;
    std::uint32_t rights = 0;
    std::wstring account;
};

// Who owns a folder and what its access list grants.
struct FolderAccess {
    std::wstring owner;          // SID text
    bool hasAccessList = true;   // false: a NULL access list, which lets anyone do anything
    std::vector<AccessEntry> entries;
};

class ExistingFile;
class TemporaryFile;
class RunLock;
class AppendOnlyFile;

// A folder held open. Until its holder lets go, nobody can rename, replace
// or remove it. Everything below it is reached through it, one name at a
// time, never by a path again: whatever happens to the path it was found
// by, every change lands in the folder that was checked. Names are single
// names: no separator, no stream.
class HeldFolder {
public:
    virtual ~HeldFolder() = default;
    // What was opened: below a held folder, a link is opened as itself.
    virtual const PathFacts& Facts() const = 0;
    // The folder `name` here, held in turn; null when nothing is there.
    virtual std::unique_ptr<HeldFolder> HoldFolder(const std::wstring& name) = 0;
    virtual PathFacts Inspect(const std::wstring& name) = 0;
    // The file `name` here, opened to be replaced (see ExistingFile); null
    // when nothing is there.
    virtual std::unique_ptr<ExistingFile> OpenFile(const std::wstring& name) = 0;
    // The first `limit` bytes at most of the file `name`, opened only to be
    // read, and shared with its other readers and writers; nullopt when
    // there is no such file, it is a link or a folder, or it is larger.
    virtual std::optional<std::string> ReadFile(const std::wstring& name, std::size_t limit) = 0;
    // Creates a file at exactly `name`; AlreadyExists when anything, a link
    // included, has that name.
    virtual std::unique_ptr<TemporaryFile> CreateNewFile(const std::wstring& name) = 0;
    // Creates one folder; AlreadyExists when anything has that name.
    virtual void CreateFolder(const std::wstring& name) = 0;
    // What the folder holds (files and folders, links not followed).
    virtual std::vector<FolderEntry> Entries() = 0;
    // The lock that lets one run at a time change files in this folder;
    // null while another run holds it.
    virtual std::unique_ptr<RunLock> TryLockRun() = 0;
    // Who owns this folder and who may change it, read through its handle
    // (a folder held from Platform::HoldVolumeRoot).
    virtual FolderAccess Access() = 0;
    // The file `name` here, opened only to add to its end, with no
    // impersonation by whatever answers; made new when nothing has the name,
    // and then only Administrators and SYSTEM may open it. A link at the name
    // is opened as itself. A file another program holds an oplock on raises
    // FileBusy at once.
    virtual std::unique_ptr<AppendOnlyFile> OpenToAppend(const std::wstring& name) = 0;
};

// A file opened only to add to its end: a log.
class AppendOnlyFile {
public:
    virtual ~AppendOnlyFile() = default;
    // What was opened: a link also when the handle is not at the file's name.
    virtual const PathFacts& Facts() const = 0;
    virtual bool IsDiskFile() const = 0;
    // Adds `text` as UTF-8, whole, in one write.
    virtual void Append(const std::wstring& text) = 0;
};

// An existing file, opened as one that is about to be replaced: a read-only
// or locked file, or a folder, does not open. A link at its name is opened
// as itself.
class ExistingFile {
public:
    virtual ~ExistingFile() = default;
    virtual const PathFacts& Facts() const = 0;
    virtual std::string ReadAll() = 0;
    // Renames this file to `name` in `folder` in one step, replacing what is
    // there when asked to (a read-only target is refused), and closes it.
    // Without `replace`, a taken name raises AlreadyExists and the file stays
    // open where it was.
    virtual void MoveOnto(HeldFolder& folder, const std::wstring& name, bool replace) = 0;
    // Removes this file, the one that was opened, whatever its name leads
    // to by now. Closes it.
    virtual void Remove() = 0;
};

// A new file under a name nothing had. Until Commit hands it over, its owner
// removes it again, so a failed write leaves nothing.
class TemporaryFile {
public:
    virtual ~TemporaryFile() = default;
    virtual void Write(const std::string& bytes) = 0;
    // Flushes to disk, then renames to `name` in `folder` in one step.
    virtual void Commit(HeldFolder& folder, const std::wstring& name, bool replaceExisting) = 0;
};

// Held while a command changes files in a folder: one run at a time.
class RunLock {
public:
    virtual ~RunLock() = default;
};

// Where a run without a window reports what it did. Text may span lines
// (CR LF); the platform decides where it goes, if anywhere.
class Output {
public:
    virtual ~Output() = default;
    virtual void Write(const std::wstring& text) = 0;
};

// What a watchdog says as it ends a run: the exit code, settled first, and
// then the words, which may take long or never end.
struct LastWord {
    int exitCode;
    std::function<void()> say;
};

// Held while a command's work runs: see Platform::StartWatchdog. Letting it
// go (or destroying it) never waits for its last word.
class Watchdog {
public:
    virtual ~Watchdog() = default;
    // False when it has fired already: its last word is under way, the
    // program ends with it, and the run must do nothing more.
    virtual bool LetGo() noexcept = 0;
};

// The local date and time.
struct LocalTime {
    unsigned year, month, day, hour, minute, second;
};

class Platform {
public:
    virtual ~Platform() = default;

    // A modal box titled with the program's name; returns the button pressed.
    virtual int ShowMessage(const std::wstring& text, unsigned style) = 0;

    virtual std::unique_ptr<FileSystemObject> NewFileSystemObject() = 0;

    // Holds the browser's folder at `path`, following a link there (a
    // relocated Program Files is one); null when there is no folder. The
    // one place a run opens a path: all it changes is reached through this.
    virtual std::unique_ptr<HeldFolder> HoldFolder(const std::wstring& path) = 0;

    // A clock that only goes forward, and a pause that keeps the program's
    // window painting and answering meanwhile; it raises ProgramEnd when the
    // program ends before the pause is over.
    virtual std::chrono::milliseconds Ticks() = 0;
    virtual void Pause(std::chrono::milliseconds duration) = 0;

    // Ends the program once `limit` has passed, however a step of the run is
    // blocked, unless the watchdog is let go first. Then `lastWord` is
    // called on a thread of its own with the file or folder of the step in
    // flight ("" when none), and its words are given `wordLimit` (for as
    // long as they take without one: a box that waits for a person). Then
    // the program ends with the exit code it settled, or 1 when it settled
    // none: nothing of the run goes on.
    virtual std::unique_ptr<Watchdog> StartWatchdog(
        std::chrono::milliseconds limit, std::optional<std::chrono::milliseconds> wordLimit,
        std::function<LastWord(const std::wstring& stuckOn)> lastWord) = 0;

    // Whether Windows has a Program Files of its own for 32-bit programs,
    // "Program Files (x86)": 64-bit Windows, x64 or ARM64, whichever image
    // of the program runs there.
    virtual bool HasX86ProgramFiles() = 0;

    // Holds the root folder of a drive or share (D:\ or \\server\share\ as
    // given), where the way to a log starts: every folder held from it can
    // tell who owns it and who may change it (HeldFolder::Access).
    virtual std::unique_ptr<HeldFolder> HoldVolumeRoot(const std::wstring& root) = 0;
    // The account this run runs as, as SID text (SYSTEM is "S-1-5-18").
    virtual std::wstring RunAccount() = 0;
    virtual LocalTime Now() = 0;

    // Text in the ANSI code page, as the preference file holds it.
    virtual std::string ToAnsi(const std::wstring& text) = 0;
    // Whether two paths name the same place, compared as the file system does.
    virtual bool SamePath(const std::wstring& a, const std::wstring& b) = 0;

    // The shell's modal folder dialog over `owner`. Returns the path buffer the
    // shell filled in (NUL-terminated, possibly with leftovers after the NUL),
    // or nullopt when the user chose nothing.
    virtual std::optional<std::wstring> BrowseForFolder(WindowHandle owner,
                                                        const std::wstring& prompt) = 0;
    // Whether the program runs with an administrator's full rights.
    virtual bool IsElevated() = 0;
    // Opens an address through the shell, with the program's own rights.
    // Neither way reports its result: a failure to open shows nothing.
    virtual void OpenAddress(WindowHandle owner, const std::wstring& verb,
                             const std::wstring& address) = 0;
    // Opens it through the desktop's own shell, which runs with the user's
    // rights, and lets the browser come to the front.
    virtual void OpenAsDesktopUser(const std::wstring& verb, const std::wstring& address) = 0;

    // Stops the program at once: raises ProgramEnd to the window's boundary.
    [[noreturn]] virtual void EndProgram() = 0;
};

}  // namespace tarnwick
