#pragma once

// A scripted platform for the handlers: an in-memory file system that can
// be told to fail at any step, scripted answers for every box and dialog,
// and a log of what was asked in which order. Folders are held by their
// paths here; what is reached through them is logged with its whole path.
// Each folder's run lock can hold up a second run on a thread of its own,
// one step at a time, and a run can be killed at any step. Its clock moves
// only when the program pauses.

#include <algorithm>
#include <condition_variable>
#include <cwctype>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/Controls.h"
#include "tests/unit/PeImage.h"
#include "platform/Failure.h"
#include "platform/Platform.h"

namespace tarnwick::testing {

struct Node {
    bool folder = false;
    std::string bytes;
    bool readOnly = false;
    bool link = false;   // a reparse point, opened as itself
    unsigned names = 1;  // hard links
    FileId id = 0;       // the file system's own number: not part of what a tree holds
    bool device = false;  // a log at its name opens no file on a disk
    bool operator==(const Node& other) const {
        return folder == other.folder && bytes == other.bytes && readOnly == other.readOnly &&
               link == other.link && names == other.names;
    }
};

// Thrown at a kill point: the process is gone, and nothing of it runs any
// more, not even the destructors that would tidy up.
struct Killed {};

class FakePlatform;

class FakeFileSystemObject : public FileSystemObject {
public:
    explicit FakeFileSystemObject(FakePlatform& platform) : platform_(platform) {}
    bool FolderExists(const std::wstring& path) override;
    bool FileExists(const std::wstring& path) override;
    void DeleteFolder(HeldFolder& parent, const std::wstring& name, bool force) override;
    void CheckDeleteFolder(HeldFolder& parent, const std::wstring& name, bool force) override;

private:
    FakePlatform& platform_;
};

class FakeHeldFolder : public HeldFolder {
public:
    FakeHeldFolder(FakePlatform& platform, std::wstring path, PathFacts facts)
        : platform_(platform), path_(std::move(path)), facts_(facts) {}
    const PathFacts& Facts() const override { return facts_; }
    std::unique_ptr<HeldFolder> HoldFolder(const std::wstring& name) override;
    PathFacts Inspect(const std::wstring& name) override;
    std::unique_ptr<ExistingFile> OpenFile(const std::wstring& name) override;
    std::optional<std::string> ReadFile(const std::wstring& name, std::size_t limit) override;
    std::unique_ptr<TemporaryFile> CreateNewFile(const std::wstring& name) override;
    void CreateFolder(const std::wstring& name) override;
    std::vector<FolderEntry> Entries() override;
    std::unique_ptr<RunLock> TryLockRun() override;
    FolderAccess Access() override;
    std::unique_ptr<AppendOnlyFile> OpenToAppend(const std::wstring& name) override;

    // The path of `name` in this folder.
    std::wstring Below(const std::wstring& name) const {
        std::wstring folder = path_;
        if (folder.empty() || folder.back() != L'\\') folder += L'\\';
        return folder + name;
    }

private:
    FakePlatform& platform_;
    std::wstring path_;
    PathFacts facts_;
};

class FakeExistingFile : public ExistingFile {
public:
    FakeExistingFile(FakePlatform& platform, std::wstring path, PathFacts facts)
        : platform_(platform), path_(std::move(path)), facts_(facts) {}
    const PathFacts& Facts() const override { return facts_; }
    std::string ReadAll() override;
    void MoveOnto(HeldFolder& folder, const std::wstring& name, bool replace) override;
    void Remove() override;

private:
    FakePlatform& platform_;
    std::wstring path_;
    PathFacts facts_;
};

class FakeTemporaryFile : public TemporaryFile {
public:
    FakeTemporaryFile(FakePlatform& platform, std::wstring path)
        : platform_(platform), path_(std::move(path)) {}
    ~FakeTemporaryFile() override;
    void Write(const std::string& bytes) override;
    void Commit(HeldFolder& folder, const std::wstring& name, bool replaceExisting) override;

private:
    FakePlatform& platform_;
    std::wstring path_;
    bool committed_ = false;
};

// A log as it was opened: what was at its name, and its bytes.
struct FakeAppendFile : AppendOnlyFile {
    FakeAppendFile(Node& node, PathFacts facts) : node(node), facts(facts) {}
    const PathFacts& Facts() const override { return facts; }
    bool IsDiskFile() const override { return !node.device; }
    void Append(const std::wstring& text) override { node.bytes.append(text.begin(), text.end()); }
    Node& node;
    PathFacts facts;
};

class FakeWatchdog : public Watchdog {
public:
    explicit FakeWatchdog(FakePlatform& platform) : platform_(platform) {}
    ~FakeWatchdog() override { LetGo(); }
    bool LetGo() noexcept override;

private:
    FakePlatform& platform_;
};

class FakeRunLock : public RunLock {
public:
    FakeRunLock(FakePlatform& platform, std::wstring folder)
        : platform_(platform), folder_(std::move(folder)) {}
    ~FakeRunLock() override;

private:
    FakePlatform& platform_;
    std::wstring folder_;  // whose lock it is
};

class FakePlatform : public Platform {
public:
    // ---- what the test sets up ----
    void AddFolder(const std::wstring& path) { files[Key(path)] = Node{true, {}, false, false, 1, ++lastId_}; }
    void AddFile(const std::wstring& path, std::string bytes, bool readOnly = false) {
        files[Key(path)] = Node{false, std::move(bytes), readOnly, false, 1, ++lastId_};
    }
    // The nth (1-based) call of `operation` raises a failure; with 0, every call.
    void FailAt(const std::string& operation, int nth = 1, long code = FailureCode::AccessDenied) {
        failures[operation][nth] = code;
    }
    // The nth call of `operation` never returns: the scripted clock runs on
    // to the watchdog's limit, and the watchdog ends the run there.
    void HangAt(const std::string& operation, int nth = 1) { hangs[operation] = nth; }
    // The nth call of `operation` returns only after the watchdog's limit,
    // once its last word is out; the program ends before its next pause.
    void SlowAt(const std::string& operation, int nth = 1) { slow[operation] = nth; }
    void Answer(int button) { answers.push_back(button); }
    // Forgets the faults, kill and stuck step scripted for the run before.
    void NewRun() {
        failures.clear(), hangs.clear(), slow.clear(), calls.clear(), watchdogExit.reset();
        watchdogFired_ = false;
        killAt_ = 0, killed = false;
    }
    // A program file whose version resource says `version`.
    void SetVersion(const std::wstring& file, FileVersion version) {
        AddFile(file, PeImageWithVersion(version));
    }
    void Choose(std::optional<std::wstring> buffer) { dialogAnswers.push_back(std::move(buffer)); }
    // The run is killed at its nth step from now on (1-based), before that
    // step does anything.
    void KillAt(int step) {
        killAt_ = step;
        steps_ = 0;
    }

    // ---- what the test reads back ----
    std::vector<std::string> log;
    std::map<std::wstring, Node> files;
    std::vector<std::wstring> openedAddresses;
    int fileSystemObjectsMade = 0;
    bool killed = false;
    bool lockedElsewhere = false;  // every folder's lock held by a run that never ends
    std::wstring lockedFolder;     // or only this folder's
    bool x86ProgramFiles = true;   // 64-bit Windows
    std::optional<int> watchdogExit;  // the exit code a watchdog ended the run with
    std::wstring watchdogStuckOn;     // what the step it ended was at
    std::map<std::wstring, FolderAccess> access;  // by folder; else owned by Administrators, no entries
    std::wstring runAccount = L"S-1-5-21-7-7-7-1001";
    std::chrono::milliseconds clock{0};

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
            if (path.find(L".tmp") != std::wstring::npos) found.push_back(path);
        return found;
    }

    // ---- Platform ----
    int ShowMessage(const std::wstring& text, unsigned style) override {
        if (WatchdogArmed()) throw std::logic_error("a box waits with the watchdog armed: " + Narrow(text));
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
    std::unique_ptr<HeldFolder> HoldFolder(const std::wstring& path) override {
        Step("HoldFolder", "hold " + Narrow(path));
        if (!Has(path)) return nullptr;
        return std::make_unique<FakeHeldFolder>(*this, path, FactsOf(path));
    }
    std::chrono::milliseconds Ticks() override { return clock; }
    void Pause(std::chrono::milliseconds duration) override {
        if (watchdogFired_) throw (killed = true, Killed{});  // it ends the program meanwhile
        clock += duration;
        // Waiting for the other run's lock: it goes on until it lets go.
        std::unique_lock<std::mutex> guard(baton_);
        if (waiter_ != 0 && waiter_ == runner_) {
            const int self = runner_;
            Pass(guard, 3 - self);
            turn_.wait(guard, [&] { return running_ == self; });
        }
    }
    std::unique_ptr<Watchdog> StartWatchdog(
        std::chrono::milliseconds limit, std::optional<std::chrono::milliseconds>,
        std::function<LastWord(const std::wstring& stuckOn)> lastWord) override {
        watchdogLimit_ = clock + limit;
        lastWord_ = std::move(lastWord);
        watchdogFired_ = false;
        return std::make_unique<FakeWatchdog>(*this);
    }
    bool HasX86ProgramFiles() override { return x86ProgramFiles; }
    std::unique_ptr<HeldFolder> HoldVolumeRoot(const std::wstring& root) override { return HoldFolder(root); }
    std::wstring RunAccount() override { return runAccount; }
    LocalTime Now() override { return {2026, 12, 10, 7, 5, 9}; }
    std::string ToAnsi(const std::wstring& text) override {
        std::string bytes;
        for (wchar_t c : text) bytes += c < 0x80 ? static_cast<char>(c) : '?';
        return bytes;
    }
    bool SamePath(const std::wstring& a, const std::wstring& b) override { return Key(a) == Key(b); }
    std::optional<std::wstring> BrowseForFolder(WindowHandle owner,
                                                const std::wstring& prompt) override {
        if (WatchdogArmed()) throw std::logic_error("the folder dialog waits with the watchdog armed");
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

    // ---- two runs at once ----
    // Runs `first` here; at its step number `at`, starts `second` on a
    // thread of its own and lets it run until it ends or waits for the run
    // lock. Only one of them runs at any moment, so each interleaving is
    // exactly the one asked for. True when `second` was started.
    bool Interleave(const std::function<void()>& first, const std::function<void()>& second, int at) {
        second_ = second;
        startSecondAt_ = at;
        firstSteps_ = 0;
        runner_ = running_ = 1;
        first();
        std::unique_lock<std::mutex> guard(baton_);
        const bool started = other_.joinable();
        if (started) {
            // `second` still waits for the lock: it runs now, to its end.
            if (!secondDone_) Pass(guard, 2);
            turn_.wait(guard, [&] { return secondDone_; });
            guard.unlock();
            other_.join();
        }
        runner_ = running_ = 0;
        return started;
    }

    // ---- used by the fake objects ----
    // Called on every logged step, to change the world between two steps.
    std::function<void(const std::string&)> onStep;

    void Step(const std::string& operation, const std::string& entry) {
        if (!entry.empty()) log.push_back(entry);
        if (onStep) onStep(entry);
        if (killAt_ && ++steps_ == killAt_) {
            killAt_ = 0;
            killed = true;
            throw Killed{};
        }
        if (runner_ == 1 && ++firstSteps_ == startSecondAt_) StartSecond();
        int n = ++calls[operation];
        if (auto hang = hangs.find(operation); hang != hangs.end() && hang->second == n) {
            hangs.erase(hang);
            Hang(entry);
        }
        if (auto late = slow.find(operation); late != slow.end() && late->second == n) {
            slow.erase(late);
            FireWatchdog(entry);
        }
        auto it = failures.find(operation);
        if (it != failures.end() && (it->second.count(n) || it->second.count(0)))
            Fail(it->second.count(n) ? it->second.at(n) : it->second.at(0));
    }
    [[noreturn]] void Fail(long code) { throw Failure(code, L"injected"); }
    // A step that blocks for ever: only a watchdog ends it, with the path
    // the step was at, and the run is gone then.
    [[noreturn]] void Hang(const std::string& entry) {
        FireWatchdog(entry);
        killed = true;
        throw Killed{};
    }
    // The watchdog's limit is met in the step at `entry`: its last word.
    void FireWatchdog(const std::string& entry) {
        if (!lastWord_ || watchdogFired_) throw std::logic_error("a step outlasts the watchdog: " + entry);
        watchdogFired_ = true;
        clock = std::max(clock, watchdogLimit_);
        const auto arrow = entry.rfind("> ");  // "commit > path", else "verb path"
        const std::string path = entry.substr(arrow != std::string::npos ? arrow + 2 : entry.find(' ') + 1);
        watchdogStuckOn.assign(path.begin(), path.end());
        const LastWord word = lastWord_(watchdogStuckOn);
        watchdogExit = word.exitCode;
        word.say();
    }
    bool LetGoOfWatchdog() { return (lastWord_ = nullptr, !watchdogFired_); }  // false once it fired
    // Nobody may be kept waiting for an answer by a run the watchdog can end.
    bool WatchdogArmed() const { return lastWord_ && !watchdogFired_; }
    void RequireParentFolder(const std::wstring& path) {
        auto slash = path.find_last_of(L'\\', path.size() >= 2 ? path.size() - 2 : 0);
        if (slash == std::wstring::npos || !HasFolder(path.substr(0, slash + 1)))
            Fail(FailureCode::PathNotFound);
    }
    void Move(const std::wstring& source, const std::wstring& target, bool replace) {
        auto it = files.find(Key(source));
        if (it == files.end()) Fail(FailureCode::FileNotFound);
        RequireParentFolder(target);
        auto existing = files.find(Key(target));
        if (existing != files.end() && (!replace || existing->second.folder)) Fail(FailureCode::AlreadyExists);
        if (existing != files.end() && existing->second.readOnly) Fail(FailureCode::AccessDenied);
        Node node = it->second;
        files.erase(it);
        files[Key(target)] = node;
    }
    PathFacts FactsOf(const std::wstring& path) const {
        auto it = files.find(Key(path));
        if (it == files.end()) return {};
        const Node& node = it->second;
        return PathFacts{true, node.folder, node.link, node.folder ? 0 : node.names, node.id};
    }
    // The lock of `folder` for the running run; null while the other has it.
    std::unique_ptr<RunLock> TryLock(const std::wstring& folder) {
        std::unique_lock<std::mutex> guard(baton_);
        if (lockedElsewhere || (!lockedFolder.empty() && Key(lockedFolder) == Key(folder))) return nullptr;
        int& owner = lockOwners_[Key(folder)];
        if (owner != 0 && owner != runner_) {
            waiter_ = runner_;
            return nullptr;
        }
        owner = runner_;
        if (waiter_ == runner_) waiter_ = 0;
        return std::make_unique<FakeRunLock>(*this, folder);
    }
    void ReleaseLock(const std::wstring& folder) {
        std::unique_lock<std::mutex> guard(baton_);
        lockOwners_.erase(Key(folder));
        // A killed run's lock is simply gone, like a file closed with its process.
        if (killed || waiter_ == 0) return;
        const int self = runner_, waiter = std::exchange(waiter_, 0);
        Pass(guard, waiter);
        turn_.wait(guard, [&] { return running_ == self; });
    }
    FileId NewId() { return ++lastId_; }
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
    // Hands the turn to run `to`; the caller then waits for its own turn.
    void Pass(std::unique_lock<std::mutex>&, int to) {
        running_ = to;
        turn_.notify_all();
    }
    void StartSecond() {
        std::unique_lock<std::mutex> guard(baton_);
        other_ = std::thread([this] {
            {
                std::unique_lock<std::mutex> wait(baton_);
                turn_.wait(wait, [&] { return running_ == 2; });
            }
            runner_ = 2;
            second_();
            std::unique_lock<std::mutex> done(baton_);
            secondDone_ = true;
            Pass(done, 1);
        });
        Pass(guard, 2);
        turn_.wait(guard, [&] { return running_ == 1; });
    }

    std::deque<int> answers;
    std::deque<std::optional<std::wstring>> dialogAnswers;
    std::map<std::string, std::map<int, long>> failures;
    std::map<std::string, int> hangs, slow;
    bool watchdogFired_ = false;
    std::chrono::milliseconds watchdogLimit_{0};
    std::function<LastWord(const std::wstring&)> lastWord_;
    std::map<std::string, int> calls;
    int killAt_ = 0, steps_ = 0;
    FileId lastId_ = 0;

    std::mutex baton_;
    std::condition_variable turn_;
    std::thread other_;
    std::function<void()> second_;
    int startSecondAt_ = 0, firstSteps_ = 0;
    int running_ = 0;    // whose turn it is: 1 the first run, 2 the second
    static inline thread_local int runner_ = 0;  // who is running this code
    std::map<std::wstring, int> lockOwners_;  // who holds each folder's run lock
    int waiter_ = 0;                          // who waits for one
    bool secondDone_ = false;
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

// What DeleteFolder refuses, before it removes anything.
inline void RequireDeletable(FakePlatform& platform, const std::wstring& path, bool force) {
    if (!platform.HasFolder(path)) platform.Fail(FailureCode::PathNotFound);
    const std::wstring prefix = FakePlatform::Key(path) + L"\\";
    for (const auto& [key, node] : platform.files)
        if (key.rfind(prefix, 0) == 0 && node.readOnly && !force)
            platform.Fail(FailureCode::AccessDenied);
}

inline void FakeFileSystemObject::CheckDeleteFolder(HeldFolder& parent, const std::wstring& name,
                                                    bool force) {
    const std::wstring path = static_cast<FakeHeldFolder&>(parent).Below(name);
    platform_.Step("CheckDeleteFolder", "rmdir? " + FakePlatform::Narrow(path));
    RequireDeletable(platform_, path, force);
}

inline void FakeFileSystemObject::DeleteFolder(HeldFolder& parent, const std::wstring& name,
                                               bool force) {
    const std::wstring path = static_cast<FakeHeldFolder&>(parent).Below(name);
    platform_.Step("DeleteFolder", "rmdir " + FakePlatform::Narrow(path));
    RequireDeletable(platform_, path, force);
    const std::wstring prefix = FakePlatform::Key(path) + L"\\";
    for (auto it = platform_.files.begin(); it != platform_.files.end();)
        it = it->first.rfind(prefix, 0) == 0 ? platform_.files.erase(it) : std::next(it);
    platform_.files.erase(FakePlatform::Key(path));
}

inline std::string FakeExistingFile::ReadAll() {
    platform_.Step("ReadAll", "");
    return platform_.Bytes(path_).value_or("");
}

inline void FakeExistingFile::MoveOnto(HeldFolder& folder, const std::wstring& name, bool replace) {
    const std::wstring target = static_cast<FakeHeldFolder&>(folder).Below(name);
    platform_.Step("MoveOnto", "move " + FakePlatform::Narrow(path_) + " > " + FakePlatform::Narrow(target));
    platform_.Move(path_, target, replace);
}

inline void FakeExistingFile::Remove() {
    platform_.Step("Remove", "rm " + FakePlatform::Narrow(path_));
    platform_.files.erase(FakePlatform::Key(path_));
}

inline FakeTemporaryFile::~FakeTemporaryFile() {
    if (!committed_ && !platform_.killed) platform_.files.erase(FakePlatform::Key(path_));
}

inline void FakeTemporaryFile::Write(const std::string& bytes) {
    platform_.Step("Write", "write " + std::to_string(bytes.size()));
    platform_.files[FakePlatform::Key(path_)].bytes += bytes;
}

inline void FakeTemporaryFile::Commit(HeldFolder& folder, const std::wstring& name,
                                      bool replaceExisting) {
    const std::wstring target = static_cast<FakeHeldFolder&>(folder).Below(name);
    platform_.Step("Commit", "commit > " + FakePlatform::Narrow(target));
    platform_.Move(path_, target, replaceExisting);
    committed_ = true;
}

inline bool FakeWatchdog::LetGo() noexcept { return platform_.LetGoOfWatchdog(); }

inline FakeRunLock::~FakeRunLock() { platform_.ReleaseLock(folder_); }

inline std::unique_ptr<HeldFolder> FakeHeldFolder::HoldFolder(const std::wstring& name) {
    return platform_.HoldFolder(Below(name));
}

inline PathFacts FakeHeldFolder::Inspect(const std::wstring& name) {
    platform_.Step("Inspect", "facts? " + FakePlatform::Narrow(Below(name)));
    return platform_.FactsOf(Below(name));
}

inline std::unique_ptr<ExistingFile> FakeHeldFolder::OpenFile(const std::wstring& name) {
    const std::wstring path = Below(name);
    platform_.Step("OpenFile", "open " + FakePlatform::Narrow(path));
    auto it = platform_.files.find(FakePlatform::Key(path));
    if (it == platform_.files.end()) return nullptr;
    if (!it->second.link && (it->second.folder || it->second.readOnly))
        platform_.Fail(FailureCode::AccessDenied);
    return std::make_unique<FakeExistingFile>(platform_, path, platform_.FactsOf(path));
}

inline std::optional<std::string> FakeHeldFolder::ReadFile(const std::wstring& name, std::size_t limit) {
    const std::wstring path = Below(name);
    platform_.Step("ReadFile", "read " + FakePlatform::Narrow(path));
    const PathFacts facts = platform_.FactsOf(path);
    auto bytes = platform_.Bytes(path);
    if (facts.link || !bytes || bytes->size() > limit) return std::nullopt;
    return bytes;
}

inline std::unique_ptr<TemporaryFile> FakeHeldFolder::CreateNewFile(const std::wstring& name) {
    const std::wstring path = Below(name);
    platform_.Step("CreateNewFile", "new " + FakePlatform::Narrow(path));
    platform_.RequireParentFolder(path);
    if (platform_.Has(path)) platform_.Fail(FailureCode::FileAlreadyExists);
    platform_.AddFile(path, "");
    return std::make_unique<FakeTemporaryFile>(platform_, path);
}

inline void FakeHeldFolder::CreateFolder(const std::wstring& name) {
    const std::wstring path = Below(name);
    platform_.Step("CreateFolder", "mkdir " + FakePlatform::Narrow(path));
    if (platform_.Has(path)) platform_.Fail(FailureCode::AlreadyExists);
    platform_.RequireParentFolder(path);
    platform_.AddFolder(path);
}

inline std::vector<FolderEntry> FakeHeldFolder::Entries() {
    platform_.Step("Entries", "list " + FakePlatform::Narrow(path_));
    std::vector<FolderEntry> entries;
    const std::wstring prefix = FakePlatform::Key(path_) + L"\\";
    for (const auto& [key, node] : platform_.files)
        if (key.rfind(prefix, 0) == 0 && key.find(L'\\', prefix.size()) == std::wstring::npos)
            entries.push_back({key.substr(prefix.size()), node.id});
    return entries;
}

inline FolderAccess FakeHeldFolder::Access() {
    auto it = platform_.access.find(FakePlatform::Key(path_));
    return it != platform_.access.end() ? it->second : FolderAccess{L"S-1-5-32-544", true, {}};
}

inline std::unique_ptr<AppendOnlyFile> FakeHeldFolder::OpenToAppend(const std::wstring& name) {
    const std::wstring path = Below(name);
    platform_.Step("OpenToAppend", "append " + FakePlatform::Narrow(path));
    if (platform_.HasFolder(path)) platform_.Fail(FailureCode::AccessDenied);
    if (!platform_.Has(path)) platform_.AddFile(path, "");
    return std::make_unique<FakeAppendFile>(platform_.files[FakePlatform::Key(path)], platform_.FactsOf(path));
}

inline std::unique_ptr<RunLock> FakeHeldFolder::TryLockRun() {
    platform_.Step("LockRun", "lock");
    return platform_.TryLock(path_);
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
    void SetEnabled(bool value) override { enabled = value; }
    void SetFocus() override { ++focusTaken; }
    void PostClick() override { ++clicksPosted; }
    std::wstring text;
    bool italic = false;
    bool enabled = true;
    int textChanges = 0;
    int italicSets = 0;
    int focusTaken = 0;
    int clicksPosted = 0;
};

class FakeWindow : public OwnerWindow {
public:
    WindowHandle hWnd() const override { return handle; }
    WindowHandle handle = 0x1234;
};

}  // namespace tarnwick::testing
