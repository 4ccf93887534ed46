// The Win32 platform services against the real file system of the prefix.

#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <thread>

#include "platform/win32/Win32FileSystem.h"
#include "platform/win32/Win32Platform.h"

namespace tarnwick::win32 {
namespace {

const std::wstring Root = L"C:\\tarnwick-platform-test";

void Write(const std::wstring& path, const std::string& bytes) {
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD wrote = 0;
    ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &wrote, nullptr);
    ::CloseHandle(file);
}

void Clear(const std::wstring& path) {
    SHFILEOPSTRUCTW operation{};
    std::wstring from = path + L'\0';
    operation.wFunc = FO_DELETE;
    operation.pFrom = from.c_str();
    operation.fFlags = FOF_NO_UI;
    ::SHFileOperationW(&operation);
}

class Win32Files : public ::testing::Test {
protected:
    void SetUp() override {
        Clear(Root);
        ASSERT_TRUE(::CreateDirectoryW(Root.c_str(), nullptr));
    }
    void TearDown() override { Clear(Root); }
    Win32FileSystemObject files;
    Win32Platform platform;
};

TEST_F(Win32Files, ProbesTellFoldersFromFiles) {
    ::CreateDirectoryW((Root + L"\\folder").c_str(), nullptr);
    Write(Root + L"\\i386", "");
    struct Case {
        std::wstring path;
        bool folder, file;
    };
    const Case cases[] = {
        {Root + L"\\folder", true, false},   {Root + L"\\folder\\", true, false},
        {Root + L"\\i386", false, true},     {Root + L"\\i386\\", false, false},
        {Root + L"\\missing", false, false}, {Root + L"\\missing\\deeper\\x", false, false},
        {L"", false, false},                 {L"Q:\\no drive here\\", false, false},
        {L"C:\\", true, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(files.FolderExists(c.path), c.folder) << testing::PrintToString(c.path);
        EXPECT_EQ(files.FileExists(c.path), c.file) << testing::PrintToString(c.path);
    }
}

TEST_F(Win32Files, DeleteFolderRemovesATreeButNotPastAReadOnlyFile) {
    const std::wstring marker = Root + L"\\i386";
    ::CreateDirectoryW(marker.c_str(), nullptr);
    ::CreateDirectoryW((marker + L"\\sub").c_str(), nullptr);
    Write(marker + L"\\a.txt", "a");
    Write(marker + L"\\sub\\b.txt", "b");
    ::SetFileAttributesW((marker + L"\\sub\\b.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_THROW(files.DeleteFolder(marker, false), Failure);
    // Refused before anything went.
    EXPECT_TRUE(files.FileExists(marker + L"\\a.txt"));
    ::SetFileAttributesW((marker + L"\\sub\\b.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
    files.DeleteFolder(marker, false);
    EXPECT_FALSE(files.FolderExists(marker));
    EXPECT_TRUE(files.FolderExists(Root));
}

TEST_F(Win32Files, DeleteFolderOfNothingIsAFailure) {
    try {
        files.DeleteFolder(Root + L"\\i386", false);
        FAIL();
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.Code(), ERROR_PATH_NOT_FOUND);
    }
}

TEST_F(Win32Files, ANewFileNotCommittedLeavesNothing) {
    {
        auto file = platform.CreateNewFile(Root + L"\\tarnwick-1.tmp");
        file->Write("partial");
    }
    EXPECT_FALSE(platform.Inspect(Root + L"\\tarnwick-1.tmp").exists) << "left behind";
}

TEST_F(Win32Files, ANewFileIsNeverOneThatWasThere) {
    Write(Root + L"\\tarnwick-1.tmp", "someone's");
    try {
        platform.CreateNewFile(Root + L"\\tarnwick-1.tmp");
        FAIL();
    } catch (const Failure& failure) {
        EXPECT_TRUE(failure.IsAlreadyExists()) << failure.Code();
    }
    EXPECT_EQ(platform.OpenExistingFile(Root + L"\\tarnwick-1.tmp")->ReadAll(), "someone's");
}

TEST_F(Win32Files, ACommittedFileReplacesTheTargetWhole) {
    Write(Root + L"\\user.js", "old content that is longer than the new");
    auto file = platform.CreateNewFile(Root + L"\\tarnwick-1.tmp");
    file->Write("new");
    file->Commit(Root + L"\\user.js", true);
    EXPECT_EQ(platform.OpenExistingFile(Root + L"\\user.js")->ReadAll(), "new");
    EXPECT_FALSE(platform.Inspect(Root + L"\\tarnwick-1.tmp").exists);
}

TEST_F(Win32Files, AnExistingFileMovesAndGoesByItsHandle) {
    Write(Root + L"\\kept", "original");
    Write(Root + L"\\user.js", "payload");
    platform.OpenExistingFile(Root + L"\\kept")->MoveOnto(Root + L"\\user.js");
    EXPECT_FALSE(platform.Inspect(Root + L"\\kept").exists);
    auto file = platform.OpenExistingFile(Root + L"\\user.js");
    EXPECT_EQ(file->ReadAll(), "original");
    EXPECT_EQ(file->Facts().names, 1u);
    EXPECT_FALSE(file->Facts().link);
    file->Remove();
    EXPECT_FALSE(platform.Inspect(Root + L"\\user.js").exists);
    EXPECT_EQ(platform.OpenExistingFile(Root + L"\\user.js"), nullptr);
    EXPECT_EQ(platform.OpenExistingFile(Root + L"\\missing\\user.js"), nullptr);
}

TEST_F(Win32Files, AReadOnlyTargetIsRefusedAsWindowsRefusesIt) {
    Write(Root + L"\\user.js", "mine");
    ::SetFileAttributesW((Root + L"\\user.js").c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_THROW(platform.OpenExistingFile(Root + L"\\user.js"), Failure);
    auto file = platform.CreateNewFile(Root + L"\\tarnwick-1.tmp");
    file->Write("new");
    EXPECT_THROW(file->Commit(Root + L"\\user.js", true), Failure);
    ::SetFileAttributesW((Root + L"\\user.js").c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(platform.OpenExistingFile(Root + L"\\user.js")->ReadAll(), "mine");
}

TEST_F(Win32Files, ALockedFileOrAFolderIsRefused) {
    Write(Root + L"\\user.js", "mine");
    HANDLE lock = ::CreateFileW((Root + L"\\user.js").c_str(), GENERIC_READ, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    EXPECT_THROW(platform.OpenExistingFile(Root + L"\\user.js"), Failure);
    ::CloseHandle(lock);
    ::CreateDirectoryW((Root + L"\\folder").c_str(), nullptr);
    EXPECT_THROW(platform.OpenExistingFile(Root + L"\\folder"), Failure);
}

TEST_F(Win32Files, AFileWithTwoNamesIsToldAsSuch) {
    Write(Root + L"\\user.js", "mine");
    ASSERT_TRUE(::CreateHardLinkW((Root + L"\\other").c_str(), (Root + L"\\user.js").c_str(), nullptr));
    EXPECT_EQ(platform.Inspect(Root + L"\\user.js").names, 2u);
    EXPECT_EQ(platform.OpenExistingFile(Root + L"\\user.js")->Facts().names, 2u);
    EXPECT_FALSE(platform.Inspect(Root + L"\\user.js").link);
}

TEST_F(Win32Files, AHeldFolderCannotBeRenamedOrReplaced) {
    const std::wstring folder = Root + L"\\defaults";
    ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
    {
        const auto held = platform.HoldFolder(folder + L"\\");
        ASSERT_TRUE(held);
        EXPECT_TRUE(held->Facts().folder);
        EXPECT_FALSE(held->Facts().link);
        EXPECT_FALSE(::MoveFileExW(folder.c_str(), (Root + L"\\moved").c_str(), 0));
        EXPECT_FALSE(::RemoveDirectoryW(folder.c_str()));
    }
    EXPECT_TRUE(::MoveFileExW(folder.c_str(), (Root + L"\\moved").c_str(), 0));
    EXPECT_EQ(platform.HoldFolder(folder), nullptr);
    Write(Root + L"\\plain", "");
    EXPECT_FALSE(platform.HoldFolder(Root + L"\\plain")->Facts().folder);
    auto names = platform.NamesIn(Root);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::wstring>{L"moved", L"plain"}));
    EXPECT_EQ(platform.NamesIn(Root + L"\\missing\\"), std::vector<std::wstring>{});
}

TEST(Win32RunLock, KeepsASecondRunWaitingUntilItIsReleased) {
    Win32Platform platform;
    auto lock = platform.LockRun();
    auto triedElsewhere = [] {
        HANDLE mutex = ::CreateMutexW(nullptr, FALSE, L"Global\\Tarnwick.RunLock");
        if (!mutex) return WAIT_FAILED;
        const DWORD result = ::WaitForSingleObject(mutex, 0);
        if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) ::ReleaseMutex(mutex);
        ::CloseHandle(mutex);
        return result;
    };
    DWORD whileHeld = 0, afterwards = 0;
    std::thread([&] { whileHeld = triedElsewhere(); }).join();
    lock.reset();
    std::thread([&] { afterwards = triedElsewhere(); }).join();
    EXPECT_EQ(whileHeld, static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(afterwards, static_cast<DWORD>(WAIT_OBJECT_0));
}

TEST(Win32Text, PathsCompareAsTheFileSystemDoes) {
    Win32Platform platform;
    EXPECT_TRUE(platform.SamePath(L"C:\\Program Files\\Mozilla Firefox\\",
                                  L"c:\\PROGRAM FILES\\mozilla firefox\\"));
    EXPECT_FALSE(platform.SamePath(L"C:\\Program Files\\Mozilla Firefox\\",
                                   L"C:\\Program Files\\Mozilla Firefox"));
    EXPECT_EQ(platform.ToAnsi(L"ab\r\n"), "ab\r\n");
    EXPECT_EQ(platform.ToAnsi(L""), "");
}

}  // namespace
}  // namespace tarnwick::win32
