// A run keeps hold of the browser's folder it checked: a folder link
// re-pointed while runs go on, the name of the lock earlier versions took,
// and the window while another run holds the folder.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <iostream>
#include <memory>

#include "tests/e2e/Driver.h"

namespace tarnwick::e2e {
namespace {

using Tree = std::vector<std::pair<std::wstring, std::string>>;

const std::wstring Browsers = L"C:\\Browsers";
const std::wstring Fox = L"C:\\Browsers\\Fox";
const std::wstring LockFile = DefaultFolder + L"tarnwick.lock";
const std::wstring PatchText =
    L"Simply Click The Patch Button and you should have faster browsing in no time!";
const std::wstring WaitingText = L"Waiting for another run of Tarnwick to finish\u2026";

using Held = std::unique_ptr<void, decltype(&::CloseHandle)>;

// No links and no browser folders left from an earlier test.
void ClearBrowsers() {
    if (UnderWine()) {
        RemoveLinksBelow(DefaultFolder);
        RemoveLinksBelow(Browsers);
    }
    RemoveTree(Browsers);
    ASSERT_FALSE(IsFolder(Browsers)) << "could not clear C:\\Browsers";
}

// ---- a folder link re-pointed while runs go on ----

// Two whole browsers, and C:\Browsers\Fox a Linux link that a Linux loop
// re-points from one to the other, atomically, many times a second.
class FolderLink : public ::testing::Test {
protected:
    struct Browser {
        std::string name;
        std::wstring folder;
        std::string original;  // its own user.js
        Tree untouched;
        Tree patched;
    };
    Browser trees_[2] = {{"TreeA", Browsers + L"\\TreeA\\", "// TreeA's own user.js\r\n", {}, {}},
                         {"TreeB", Browsers + L"\\TreeB\\", "// TreeB's own user.js\r\n", {}, {}}};

    void SetUp() override {
        if (!UnderWine()) GTEST_SKIP() << "the link is made from the Linux side of Wine";
        ASSERT_NO_FATAL_FAILURE(ClearBrowsers());
        // Neither known folder has a browser, so /folder is the one patched.
        ASSERT_NO_FATAL_FAILURE(RemoveBrowser());
        for (Browser& b : trees_) {
            ASSERT_NO_FATAL_FAILURE(LayOut(b));
            b.untouched = Snapshot(b.folder);
            b.patched = b.untouched;
            for (auto& [path, bytes] : b.patched)
                if (path == b.folder + L"defaults\\profile\\user.js") bytes = PayloadFile;
            b.patched.emplace_back(b.folder + L"defaults\\user.js.tarnwick-original", b.original);
            std::sort(b.patched.begin(), b.patched.end());
        }
        ASSERT_NO_FATAL_FAILURE(StartRepointing());
    }

    void TearDown() override {
        if (!UnderWine()) return;
        StopRepointing();
        RemoveLinuxLink(Fox);
        ClearBrowsers();
    }

    void LayOut(const Browser& b) {
        RemoveTree(b.folder);
        ASSERT_NO_FATAL_FAILURE(MakeFolders(b.folder + L"defaults\\profile"));
        ASSERT_NO_FATAL_FAILURE(CopyStandIn(L"45.0.2", b.folder));
        ASSERT_NO_FATAL_FAILURE(WriteBytes(b.folder + L"defaults\\profile\\user.js", b.original));
        if (!b.untouched.empty()) {
            ASSERT_EQ(Snapshot(b.folder), b.untouched) << "could not lay out " << b.name << " again";
        }
    }

    // What a tree holds that it did not before, and what it lost.
    std::string Changes(const Browser& b, const Tree& now) const {
        auto label = [&](const std::string& bytes) -> std::string {
            if (bytes == PayloadFile) return "the payload";
            for (const Browser& t : trees_)
                if (bytes == t.original) return t.name + "'s original";
            return bytes == "<folder>" ? "a folder" : std::to_string(bytes.size()) + " bytes";
        };
        auto name = [&](const std::wstring& path) {
            const std::wstring inside = path.substr(b.folder.size());
            return std::string(inside.begin(), inside.end());
        };
        std::string text = b.name + ":";
        for (const auto& entry : now)
            if (std::find(b.untouched.begin(), b.untouched.end(), entry) == b.untouched.end())
                text += " " + name(entry.first) + " holds " + label(entry.second) + ";";
        for (const auto& entry : b.untouched)
            if (std::find_if(now.begin(), now.end(), [&](const auto& e) { return e.first == entry.first; }) ==
                now.end())
                text += " " + name(entry.first) + " is gone;";
        return text;
    }

private:
    const std::wstring Script = Browsers + L"\\repoint.sh";
    const std::wstring Stop = Browsers + L"\\stop";
    const std::wstring Stopped = Browsers + L"\\stopped";
    bool repointing_ = false;

    // Wine gives no handle for a Linux process: the loop polls for `stop`,
    // says `stopped`, ends when its script is gone, and dies after five
    // minutes whatever happens to this driver.
    void StartRepointing() {
        ASSERT_NO_FATAL_FAILURE(WriteBytes(Script,
                                           "cd \"$(dirname \"$0\")\" || exit 1\n"
                                           "while [ -e repoint.sh ] && [ ! -e stop ]; do\n"
                                           "    ln -sfn TreeA .next && mv -T .next Fox\n"
                                           "    ln -sfn TreeB .next && mv -T .next Fox\n"
                                           "done\n"
                                           "touch stopped\n"));
        const std::string script = LinuxPath(Script);
        ASSERT_FALSE(script.empty());
        ASSERT_TRUE(StartLinux(L"/usr/bin/timeout 300 /bin/sh \"" + Wide(script) + L"\""));
        repointing_ = true;
        // It runs once Fox leads to each tree in turn.
        bool seen[2] = {};
        ASSERT_TRUE(WaitUntil([&] {
            const auto bytes = ReadBytes(Fox + L"\\defaults\\profile\\user.js");
            for (int i = 0; i < 2; ++i) seen[i] = seen[i] || bytes == trees_[i].original;
            return seen[0] && seen[1];
        })) << "Fox is not re-pointed between the trees";
    }

    void StopRepointing() {
        if (!repointing_) return;
        WriteBytes(Stop, "");
        EXPECT_TRUE(WaitUntil([&] { return IsFile(Stopped); }, 10s)) << "the re-pointing loop did not stop";
        repointing_ = false;
    }
};

TEST_F(FolderLink, RePointedDuringRunsLeavesEachTreeUntouchedOrPatchedWithItsOwnOriginal) {
    constexpr int Runs = 40;
    int successes = 0, patchedRuns = 0, mixedRuns = 0, mixedTrees = 0;
    for (int run = 0; run < Runs; ++run) {
        for (const Browser& b : trees_) ASSERT_NO_FATAL_FAILURE(LayOut(b));
        const SwitchedRun result = RunSwitched(L"/patch /folder C:\\Browsers\\Fox");
        const bool succeeded = result.exitCode == std::optional<DWORD>(0);
        successes += succeeded;
        int patched = 0, mixed = 0;
        for (const Browser& b : trees_) {
            const Tree now = Snapshot(b.folder);
            if (now == b.patched) {
                ++patched;
            } else if (now != b.untouched) {
                ++mixed;
                std::cout << "[ note     ] run " << run << " (exit "
                          << (result.exitCode ? static_cast<long>(*result.exitCode) : -1L)
                          << ") left " << Changes(b, now) << "\n";
            }
        }
        patchedRuns += succeeded && patched == 1;
        mixedRuns += mixed > 0;
        mixedTrees += mixed;
        if (!succeeded)
            std::cout << "[ note     ] run " << run << " -> "
                      << (result.exitCode ? static_cast<long>(*result.exitCode) : -1L) << ": "
                      << result.output;
    }
    std::cout << "[ note     ] " << Runs << " runs with Fox re-pointed: " << successes << " succeeded, "
              << patchedRuns << " patched one tree whole, " << mixedRuns << " left " << mixedTrees
              << " mixed trees\n";
    EXPECT_EQ(mixedTrees, 0) << "a tree neither untouched nor patched with its own original";
    EXPECT_GE(patchedRuns, Runs / 2);
}

TEST(LongFolder, PastMaxPathIsPatchedByFolder) {
    ASSERT_NO_FATAL_FAILURE(ClearBrowsers());
    ASSERT_NO_FATAL_FAILURE(RemoveBrowser());
    // Over 300 characters, made by its \\?\ form: the shell's helpers stop at MAX_PATH.
    std::wstring folder = L"\\\\?\\" + Browsers;
    ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
    for (const wchar_t letter : std::wstring(L"abcdef"))
        ASSERT_TRUE(::CreateDirectoryW((folder += L"\\" + std::wstring(48, letter)).c_str(), nullptr));
    for (const wchar_t* below : {L"\\defaults", L"\\defaults\\profile"})
        ASSERT_TRUE(::CreateDirectoryW((folder + below).c_str(), nullptr));
    const SwitchedRun run = RunSwitched(L"/patch /folder \"" + folder.substr(4) + L"\"");
    EXPECT_EQ(run.exitCode, std::optional<DWORD>(0)) << run.output;
    EXPECT_EQ(ReadBytes(folder + L"\\defaults\\profile\\user.js"), std::optional<std::string>(PayloadFile));
    RemoveTree(L"\\\\?\\" + Browsers);
}

// ---- the name of the lock earlier versions took ----

struct OldLockCase {
    const char* name;
    std::function<HANDLE()> hold;  // made and held by the driver
};
void PrintTo(const OldLockCase& c, std::ostream* os) { *os << c.name; }

class OldLockName : public ::testing::TestWithParam<OldLockCase> {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(ClearBrowsers());
        ASSERT_NO_FATAL_FAILURE(LayOutBrowser());
    }
};

TEST_P(OldLockName, HeldByAnotherProgramKeepsNoRunWaiting) {
    const Held held(GetParam().hold(), ::CloseHandle);
    ASSERT_TRUE(held.get()) << "could not make it: " << ::GetLastError();
    for (const std::wstring arguments : {L"/patch", L"/undo"}) {
        const auto start = std::chrono::steady_clock::now();
        const SwitchedRun run = RunSwitched(arguments, 20s);
        const auto took =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        std::cout << "[ note     ] tarnwick.exe " << testing::PrintToString(arguments) << " -> "
                  << (run.exitCode ? std::to_string(*run.exitCode) : "ended by the driver") << " after "
                  << took.count() << " ms: " << run.output << (run.output.empty() ? "\n" : "");
        EXPECT_EQ(run.exitCode, std::optional<DWORD>(0)) << testing::PrintToString(arguments);
        EXPECT_EQ(IsFolder(MarkerFolder), arguments == L"/patch") << testing::PrintToString(arguments);
    }
}

INSTANTIATE_TEST_SUITE_P(
    OldLockName, OldLockName,
    ::testing::Values(OldLockCase{"OwnedMutex",
                                  [] { return ::CreateMutexW(nullptr, TRUE, L"Global\\Tarnwick.RunLock"); }},
                      OldLockCase{"Event",
                                  [] {
                                      return ::CreateEventW(nullptr, TRUE, FALSE, L"Global\\Tarnwick.RunLock");
                                  }}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- the window while another run holds the folder ----

class WaitingWindow : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(ClearBrowsers());
        ASSERT_NO_FATAL_FAILURE(LayOutBrowser());
    }
};

bool Answers(HWND window) {
    DWORD_PTR result = 0;
    return ::SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &result) != 0;
}

TEST_F(WaitingWindow, AnswersPutsOffACloseAndPatchesOnceTheOtherRunEnds) {
    // Another run, as the program sees one: the lock file open without sharing.
    Held lock(::CreateFileW(LockFile.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr),
              ::CloseHandle);
    ASSERT_NE(lock.get(), INVALID_HANDLE_VALUE);
    {
        App app;
        ASSERT_TRUE(app.Window());
        EXPECT_EQ(TextOf(app.Label2()), PatchText);
        app.ClickButton();
        EXPECT_TRUE(WaitUntil([&] { return !::IsWindowEnabled(app.Command1()); }))
            << "the button stayed enabled";
        ::Sleep(1500);
        EXPECT_TRUE(Answers(app.Window())) << "the waiting window does not answer";
        EXPECT_TRUE(WaitUntil([&] { return TextOf(app.Label2()) == WaitingText; }, 10s))
            << "Label2 reads " << testing::PrintToString(TextOf(app.Label2()));
        app.Screenshot(L"waiting-for-another-run");
        app.Close();
        EXPECT_FALSE(app.WaitForExit(1s).has_value()) << "a close ended the waiting run";
        EXPECT_TRUE(Answers(app.Window())) << "the window does not answer after the close";
        EXPECT_FALSE(app.AnyBox()) << "a box came while the other run held the folder";
        EXPECT_FALSE(IsFolder(MarkerFolder)) << "patched while the other run held the folder";

        lock.reset();
        const Box done = ExpectBox(app, CompleteBox);
        EXPECT_EQ(TextOf(app.Label2()), PatchText);
        app.Press(done, IDOK);
        EXPECT_EQ(app.WaitForExit(), std::optional<DWORD>(0));
    }
    EXPECT_EQ(ReadBytes(PrefsFile), std::optional<std::string>(PayloadFile));
    EXPECT_TRUE(IsFolder(MarkerFolder));
    EXPECT_FALSE(IsFile(LockFile)) << "the lock file stayed";
}

}  // namespace
}  // namespace tarnwick::e2e
