#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

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
};

// A new file with a name of its own in a given folder. Until Commit hands it
// over, the owner closes and removes it, so a failed write leaves nothing.
class TemporaryFile {
public:
    virtual ~TemporaryFile() = default;
    virtual void Write(const std::string& bytes) = 0;
    // Flushes to disk, closes, then renames onto `target` in one step.
    virtual void Commit(const std::wstring& target, bool replaceExisting) = 0;
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

    // Opens an existing file as a writer would (so a read-only or locked file
    // fails here) and returns its bytes; nullopt when there is no such file.
    virtual std::optional<std::string> ReadFileForReplace(const std::wstring& path) = 0;
    // Creates a new, empty file in `folder` (which ends in a backslash).
    virtual std::unique_ptr<TemporaryFile> CreateTemporaryFile(const std::wstring& folder) = 0;
    // Moves a file onto another in one step, replacing it.
    virtual void MoveReplacing(const std::wstring& source, const std::wstring& target) = 0;
    virtual void CreateFolder(const std::wstring& path) = 0;
    virtual void RemoveFile(const std::wstring& path) = 0;

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
