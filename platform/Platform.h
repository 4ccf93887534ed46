#pragma once

#include <cstdint>
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
}  // namespace Style

// A program file's fixed product version, as its version resource holds it.
struct FileVersion {
    unsigned major = 0, minor = 0, build = 0, revision = 0;
};

// Questions about the file system, and the recursive folder delete.
// Every answer is a real answer: when the platform cannot tell, it raises.
class FileSystemObject {
public:
    virtual ~FileSystemObject() = default;
    virtual bool FolderExists(const std::wstring& path) = 0;
    virtual bool FileExists(const std::wstring& path) = 0;
    // Removes the folder and everything in it. Links inside (or the folder
    // itself, if it is one) are removed as links; what they point at is
    // never touched. Without force, a read-only file anywhere inside makes
    // the call fail before anything is removed.
    virtual void DeleteFolder(const std::wstring& path, bool force) = 0;
    // Raises what DeleteFolder would raise for what is inside the folder,
    // and removes nothing.
    virtual void CheckDeleteFolder(const std::wstring& path, bool force) = 0;
};

// What is at a path, seen without following a link there.
struct PathFacts {
    bool exists = false;
    bool folder = false;
    bool link = false;   // a reparse point: a symbolic link, a junction or the like
    unsigned names = 0;  // a file's hard links; 1 for a file with one name
};

// A folder held open. Until its holder lets go, nobody can rename, replace
// or remove it, so a name below it means the same place from the moment it
// is checked to the moment it is changed.
class HeldFolder {
public:
    virtual ~HeldFolder() = default;
    // What was opened: a link is opened as itself, never followed.
    virtual const PathFacts& Facts() const = 0;
};

// An existing file, opened as one that is about to be replaced: a read-only
// or locked file, or a folder, does not open. A link at its name is opened
// as itself.
class ExistingFile {
public:
    virtual ~ExistingFile() = default;
    virtual const PathFacts& Facts() const = 0;
    virtual std::string ReadAll() = 0;
    // Renames this file onto `target` in one step, replacing what is there;
    // a read-only target is refused. Closes the file.
    virtual void MoveOnto(const std::wstring& target) = 0;
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
    // Flushes to disk, then renames onto `target` in one step.
    virtual void Commit(const std::wstring& target, bool replaceExisting) = 0;
};

// Held while a command changes files: one run at a time, on the machine.
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

class Platform {
public:
    virtual ~Platform() = default;

    // A modal box titled with the program's name; returns the button pressed.
    virtual int ShowMessage(const std::wstring& text, unsigned style) = 0;

    virtual std::unique_ptr<FileSystemObject> NewFileSystemObject() = 0;

    // What is at `path`, without following a link there.
    virtual PathFacts Inspect(const std::wstring& path) = 0;
    // Holds the folder at `path` (see HeldFolder); null when nothing is there.
    virtual std::unique_ptr<HeldFolder> HoldFolder(const std::wstring& path) = 0;
    // Opens the file at `path` (see ExistingFile); null when nothing is there.
    virtual std::unique_ptr<ExistingFile> OpenExistingFile(const std::wstring& path) = 0;
    // Creates a file at exactly `path`; AlreadyExists when anything, a link
    // included, has that name.
    virtual std::unique_ptr<TemporaryFile> CreateNewFile(const std::wstring& path) = 0;
    // The names in a folder (files and folders, links not followed); none
    // when there is no such folder.
    virtual std::vector<std::wstring> NamesIn(const std::wstring& folder) = 0;
    virtual void CreateFolder(const std::wstring& path) = 0;
    // Waits, a minute at most, until no other run of the program is changing
    // files; raises AnotherRunInProgress when that time has passed.
    virtual std::unique_ptr<RunLock> LockRun() = 0;

    // The product version in a program file's version resource; nullopt when
    // there is no such file, it has no version resource, or it cannot be read.
    virtual std::optional<FileVersion> ProductVersion(const std::wstring& path) = 0;

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
