#pragma once

// A scripted platform for the handlers: an in-memory file system that can
// be told to fail at any step, scripted answers for every box and dialog,
// and a log of what was asked in which order.

#include <algorithm>
#include <cwctype>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/Controls.h"
#include "platform/Failure.h"
#include "platform/Platform.h"

namespace tarnwick::testing {

struct Node {
    bool folder = false;
    std::string bytes;
    bool readOnly = false;
    bool operator==(const Node&) const = default;
};

class FakePlatform;

class FakeFileSystemObject : public FileSystemObject {
public:
    explicit FakeFileSystemObject(FakePlatform& platform) : platform_(platform) {}
    bool FolderExists(const std::wstring& path) override;
    bool FileExists(const std::wstring& path) override;
    void DeleteFolder(const std::wstring& path, bool force) override;

private:
    FakePlatform& platform_;
};

class FakeTemporaryFile : public TemporaryFile {
public:
    FakeTemporaryFile(FakePlatform& platform, std::wstring path)
        : platform_(platform), path_(std::move(path)) {}
    ~FakeTemporaryFile() override;
    void Write(const std::string& bytes) override;
    void Commit(const std::wstring& target, bool replaceExisting) override;

private:
    FakePlatform& platform_;
    std::wstring path_;
    bool committed_ = false;
};

class FakePlatform : public Platform {
public:
    // ---- what the test sets up ----
    void AddFolder(const std::wstring& path) { files[Key(path)] = Node{true, {}, false}; }
    void AddFile(const std::wstring& path, std::string bytes, bool readOnly = false) {
        files[Key(path)] = Node{false, std::move(bytes), readOnly};
    }
    // The nth (1-based) call of `operation` raises a failure.
    void FailAt(const std::string& operation, int nth = 1) { failures[operation].insert(nth); }
    void Answer(int button) { answers.push_back(button); }
    void SetVersion(const std::wstring& file, FileVersion version) { versions[Key(file)] = version; }
    void Choose(std::optional<std::wstring> buffer) { dialogAnswers.push_back(std::move(buffer)); }

    // ---- what the test reads back ----
    std::vector<std::string> log;
    std::map<std::wstring, Node> files;
    std::vector<std::wstring> openedAddresses;
    int fileSystemObjectsMade = 0;

    bool Has(const std::wstring& path) const { return files.count(Key(path)) != 0; }
    bool HasFolder(const std::wstring& path) const {
        auto it = files.find(Key(path));
        return it != files.end() && it->second.folder;
    }
    std::optional<std::string> Bytes(const std::wstring& path) const {
        auto it = files.find(Key(path));
        if (it == files.end() || it->second.folder) return std::nullopt;
        return it->second.bytes;
    }
    // Names of files that look like leftovers of a write.
    std::vector<std::wstring> TemporaryLeftovers() const {
        std::vector<std::wstring> found;
        for (const auto& [path, node] : files)
            if (path.find(L"~TWK") != std::wstring::npos) found.push_back(path);
        return found;
    }

    // ---- Platform ----
    int ShowMessage(const std::wstring& text, unsigned style) override {
        Step("ShowMessage", "box " + Narrow(text) + " /" + std::to_string(style));
        if (answers.empty()) return 1;  // OK
        int button = answers.front();
        answers.pop_front();
        return button;
    }
    std::unique_ptr<FileSystemObject> NewFileSystemObject() override {
        Step("NewFileSystemObject", "");
        ++fileSystemObjectsMade;
        return std::make_unique<FakeFileSystemObject>(*this);
    }
    std::optional<std::string> ReadFileForReplace(const std::wstring& path) override {
        Step("ReadFileForReplace", "read " + Narrow(path));
        RequireParentFolder(path);
        auto it = files.find(Key(path));
        if (it == files.end()) return std::nullopt;
        if (it->second.folder || it->second.readOnly) Fail(FailureCode::AccessDenied);
        return it->second.bytes;
    }
    std::unique_ptr<TemporaryFile> CreateTemporaryFile(const std::wstring& folder) override {
        Step("CreateTemporaryFile", "temp " + Narrow(folder));
        if (!HasFolder(folder)) Fail(FailureCode::PathNotFound);
        std::wstring path = folder + L"~TWK" + std::to_wstring(++temporaryCount) + L".tmp";
        AddFile(path, "");
        return std::make_unique<FakeTemporaryFile>(*this, path);
    }
    void MoveReplacing(const std::wstring& source, const std::wstring& target) override {
        Step("MoveReplacing", "move " + Narrow(source) + " > " + Narrow(target));
        Move(source, target, true);
    }
    void CreateFolder(const std::wstring& path) override {
        Step("CreateFolder", "mkdir " + Narrow(path));
        if (Has(path)) Fail(FailureCode::AlreadyExists);
        RequireParentFolder(path);
        AddFolder(path);
    }
    void RemoveFile(const std::wstring& path) override {
        Step("RemoveFile", "rm " + Narrow(path));
        auto it = files.find(Key(path));
        if (it == files.end() || it->second.folder) Fail(FailureCode::FileNotFound);
        if (it->second.readOnly) Fail(FailureCode::AccessDenied);
        files.erase(it);
    }
    std::optional<FileVersion> ProductVersion(const std::wstring& path) override {
        Step("ProductVersion", "version? " + Narrow(path));
        auto it = versions.find(Key(path));
        if (it == versions.end()) return std::nullopt;
        return it->second;
    }
    std::string ToAnsi(const std::wstring& text) override {
        std::string bytes;
        for (wchar_t c : text) bytes += c < 0x80 ? static_cast<char>(c) : '?';
        return bytes;
    }
    bool SamePath(const std::wstring& a, const std::wstring& b) override { return Key(a) == Key(b); }
    std::optional<std::wstring> BrowseForFolder(WindowHandle owner,
                                                const std::wstring& prompt) override {
        Step("BrowseForFolder",
             "browse " + Narrow(prompt) + " owner=" + std::to_string(static_cast<unsigned long long>(owner)));
        if (dialogAnswers.empty()) return std::nullopt;
        auto answer = dialogAnswers.front();
        dialogAnswers.pop_front();
        return answer;
    }
    void OpenAddress(WindowHandle owner, const std::wstring& verb,
                     const std::wstring& address) override {
        Step("OpenAddress", "open " + Narrow(verb) + " " + Narrow(address) + " owner=" +
                                std::to_string(static_cast<unsigned long long>(owner)));
        openedAddresses.push_back(address);
    }
    bool IsElevated() override { return elevated; }
    void OpenAsDesktopUser(const std::wstring& verb, const std::wstring& address) override {
        Step("OpenAsDesktopUser", "desktop open " + Narrow(verb) + " " + Narrow(address));
    }
    bool elevated = false;
    [[noreturn]] void EndProgram() override {
        log.push_back("end");
        throw ProgramEnd{};
    }

    // ---- used by the fake objects ----
    // Called on every logged step, to change the world between two steps.
    std::function<void(const std::string&)> onStep;

    void Step(const std::string& operation, const std::string& entry) {
        if (!entry.empty()) log.push_back(entry);
        if (onStep) onStep(entry);
        int n = ++calls[operation];
        auto it = failures.find(operation);
        if (it != failures.end() && it->second.count(n)) Fail(FailureCode::AccessDenied);
    }
    [[noreturn]] void Fail(long code) { throw Failure(code, L"injected"); }
    void RequireParentFolder(const std::wstring& path) {
        auto slash = path.find_last_of(L'\\', path.size() >= 2 ? path.size() - 2 : 0);
        if (slash == std::wstring::npos || !HasFolder(path.substr(0, slash + 1)))
            Fail(FailureCode::PathNotFound);
    }
    void Move(const std::wstring& source, const std::wstring& target, bool replace) {
        auto it = files.find(Key(source));
        if (it == files.end()) Fail(FailureCode::FileNotFound);
        if (Has(target) && !replace) Fail(FailureCode::AlreadyExists);
        Node node = it->second;
        files.erase(it);
        files[Key(target)] = node;
    }
    static std::wstring Key(std::wstring path) {
        // Folders are stored without their trailing backslash; case is folded
        // as the Windows file system folds it.
        while (path.size() > 3 && path.back() == L'\\') path.pop_back();
        std::transform(path.begin(), path.end(), path.begin(),
                       [](wchar_t c) { return static_cast<wchar_t>(std::towlower(c)); });
        return path;
    }
    static std::string Narrow(const std::wstring& text) {
        std::string out;
        for (wchar_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
        return out;
    }

private:
    std::deque<int> answers;
    std::deque<std::optional<std::wstring>> dialogAnswers;
    std::map<std::string, std::set<int>> failures;
    std::map<std::string, int> calls;
    std::map<std::wstring, FileVersion> versions;
    int temporaryCount = 0;
};

inline bool FakeFileSystemObject::FolderExists(const std::wstring& path) {
    platform_.Step("FolderExists", "dir? " + FakePlatform::Narrow(path));
    return platform_.HasFolder(path);
}

inline bool FakeFileSystemObject::FileExists(const std::wstring& path) {
    platform_.Step("FileExists", "file? " + FakePlatform::Narrow(path));
    auto bytes = platform_.Bytes(path);
    return bytes.has_value();
}

inline void FakeFileSystemObject::DeleteFolder(const std::wstring& path, bool force) {
    platform_.Step("DeleteFolder", "rmdir " + FakePlatform::Narrow(path));
    if (!platform_.HasFolder(path)) platform_.Fail(FailureCode::PathNotFound);
    const std::wstring prefix = FakePlatform::Key(path) + L"\\";
    for (const auto& [key, node] : platform_.files)
        if (key.rfind(prefix, 0) == 0 && node.readOnly && !force)
            platform_.Fail(FailureCode::AccessDenied);
    for (auto it = platform_.files.begin(); it != platform_.files.end();)
        it = it->first.rfind(prefix, 0) == 0 ? platform_.files.erase(it) : std::next(it);
    platform_.files.erase(FakePlatform::Key(path));
}

inline FakeTemporaryFile::~FakeTemporaryFile() {
    if (!committed_) platform_.files.erase(FakePlatform::Key(path_));
}

inline void FakeTemporaryFile::Write(const std::string& bytes) {
    platform_.Step("Write", "write " + std::to_string(bytes.size()));
    platform_.files[FakePlatform::Key(path_)].bytes += bytes;
}

inline void FakeTemporaryFile::Commit(const std::wstring& target, bool replaceExisting) {
    platform_.Step("Commit", "commit > " + FakePlatform::Narrow(target));
    auto existing = platform_.files.find(FakePlatform::Key(target));
    if (replaceExisting && existing != platform_.files.end() && existing->second.readOnly)
        platform_.Fail(FailureCode::AccessDenied);
    platform_.Move(path_, target, replaceExisting);
    committed_ = true;
}

// A control of the window as the handlers see it.
class FakeControl : public Control {
public:
    explicit FakeControl(std::wstring text = L"") : text(std::move(text)) {}
    std::wstring Text() const override { return text; }
    void SetText(const std::wstring& value) override {
        text = value;
        ++textChanges;
    }
    bool FontItalic() const override { return italic; }
    void SetFontItalic(bool value) override {
        italic = value;
        ++italicSets;
    }
    std::wstring text;
    bool italic = false;
    int textChanges = 0;
    int italicSets = 0;
};

class FakeWindow : public OwnerWindow {
public:
    WindowHandle hWnd() const override { return handle; }
    WindowHandle handle = 0x1234;
};

}  // namespace tarnwick::testing
