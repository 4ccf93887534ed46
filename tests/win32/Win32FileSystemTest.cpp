// The Win32 platform services against the real file system of the prefix.

#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

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

TEST_F(Win32Files, ATemporaryFileNotCommittedLeavesNothing) {
    {
        auto file = platform.CreateTemporaryFile(Root + L"\\");
        file->Write("partial");
    }
    WIN32_FIND_DATAW entry{};
    HANDLE find = ::FindFirstFileW((Root + L"\\*.tmp").c_str(), &entry);
    EXPECT_EQ(find, INVALID_HANDLE_VALUE) << "left behind";
    if (find != INVALID_HANDLE_VALUE) ::FindClose(find);
}

TEST_F(Win32Files, ACommittedFileReplacesTheTargetWhole) {
    Write(Root + L"\\user.js", "old content that is longer than the new");
    auto file = platform.CreateTemporaryFile(Root + L"\\");
    file->Write("new");
    file->Commit(Root + L"\\user.js", true);
    EXPECT_EQ(platform.ReadFileForReplace(Root + L"\\user.js"), std::string("new"));
}

TEST_F(Win32Files, AReadOnlyTargetIsRefusedAsWindowsRefusesIt) {
    Write(Root + L"\\user.js", "mine");
    ::SetFileAttributesW((Root + L"\\user.js").c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_THROW(platform.ReadFileForReplace(Root + L"\\user.js"), Failure);
    auto file = platform.CreateTemporaryFile(Root + L"\\");
    file->Write("new");
    EXPECT_THROW(file->Commit(Root + L"\\user.js", true), Failure);
    ::SetFileAttributesW((Root + L"\\user.js").c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(platform.ReadFileForReplace(Root + L"\\user.js"), std::string("mine"));
}

TEST_F(Win32Files, ALockedFileIsRefused) {
    Write(Root + L"\\user.js", "mine");
    HANDLE lock = ::CreateFileW((Root + L"\\user.js").c_str(), GENERIC_READ, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    EXPECT_THROW(platform.ReadFileForReplace(Root + L"\\user.js"), Failure);
    ::CloseHandle(lock);
}

TEST_F(Win32Files, MissingFileAndFolderAreToldApart) {
    EXPECT_EQ(platform.ReadFileForReplace(Root + L"\\user.js"), std::nullopt);
    try {
        platform.ReadFileForReplace(Root + L"\\missing\\user.js");
        FAIL();
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.Code(), ERROR_PATH_NOT_FOUND);
    }
    try {
        platform.RemoveFile(Root + L"\\user.js");
        FAIL();
    } catch (const Failure& failure) {
        EXPECT_TRUE(failure.IsNotFound());
    }
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
