// The Win32 platform services against the real file system of the prefix.

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <functional>

#include "platform/win32/NtFiles.h"

#include "platform/win32/Win32FileSystem.h"
#include "platform/win32/Win32Platform.h"
#include "platform/win32/Win32Watchdog.h"

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

// By the program's own removal, which reaches past MAX_PATH, where Wine's
// SHFileOperationW removed files of the current folder instead.
void Clear(const std::wstring& path) try {
    const size_t slash = path.rfind(L'\\');
    Win32FileSystemObject().DeleteFolder(*Win32Platform().HoldFolder(path.substr(0, slash + 1)),
                                         path.substr(slash + 1), true);
} catch (const Failure&) {
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
    // 300 deep, made by the \\?\ form: past MAX_PATH, and deep enough for a recursion to show.
    std::wstring readOnly = L"\\\\?\\" + marker;
    for (int level = 0; level < 300; ++level) ::CreateDirectoryW((readOnly += L"\\d").c_str(), nullptr);
    Write(marker + L"\\a.txt", "a");
    Write(readOnly += L"\\b.txt", "b");
    ::SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_READONLY);
    const auto root = platform.HoldFolder(Root);
    EXPECT_TRUE(platform.HoldFolder(readOnly.substr(4, readOnly.size() - 10))) << "past MAX_PATH, as itself";
    EXPECT_THROW(files.DeleteFolder(*root, L"i386", false), Failure);
    // Refused before anything went.
    EXPECT_TRUE(files.FileExists(marker + L"\\a.txt"));
    ::SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_NORMAL);
    files.DeleteFolder(*root, L"i386", false);
    EXPECT_FALSE(files.FolderExists(marker));
    EXPECT_TRUE(files.FolderExists(Root));
    try {
        files.DeleteFolder(*root, L"i386", false);
        FAIL() << "a folder that is not there was deleted";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.Code(), ERROR_PATH_NOT_FOUND);
    }
}

TEST_F(Win32Files, ANewFileIsNeverOneThatWasThereAndLeavesNothingUntilCommitted) {
    const auto root = platform.HoldFolder(Root);
    {
        auto file = root->CreateNewFile(L"tarnwick-1.tmp");
        file->Write("partial");
    }
    EXPECT_FALSE(root->Inspect(L"tarnwick-1.tmp").exists) << "left behind";
    Write(Root + L"\\tarnwick-1.tmp", "someone's");
    try {
        root->CreateNewFile(L"tarnwick-1.tmp");
        FAIL();
    } catch (const Failure& failure) {
        EXPECT_TRUE(failure.IsAlreadyExists()) << failure.Code();
    }
    EXPECT_EQ(root->OpenFile(L"tarnwick-1.tmp")->ReadAll(), "someone's");
    // A name is one name: nothing below or above the held folder.
    for (const wchar_t* name : {L"sub\\x.tmp", L"..", L"x.tmp:stream"})
        EXPECT_THROW(root->CreateNewFile(name), Failure) << testing::PrintToString(std::wstring(name));
}

TEST_F(Win32Files, ACommittedFileReplacesTheTargetWhole) {
    Write(Root + L"\\user.js", "old content that is longer than the new");
    const auto root = platform.HoldFolder(Root);
    auto file = root->CreateNewFile(L"tarnwick-1.tmp");
    file->Write("new");
    file->Commit(*root, L"user.js", true);
    EXPECT_EQ(root->OpenFile(L"user.js")->ReadAll(), "new");
    EXPECT_FALSE(root->Inspect(L"tarnwick-1.tmp").exists);
}

TEST_F(Win32Files, AnExistingFileMovesAndGoesByItsHandle) {
    Write(Root + L"\\kept", "original");
    Write(Root + L"\\user.js", "payload");
    const auto root = platform.HoldFolder(Root);
    root->OpenFile(L"kept")->MoveOnto(*root, L"user.js", true);
    EXPECT_FALSE(root->Inspect(L"kept").exists);
    auto file = root->OpenFile(L"user.js");
    EXPECT_EQ(file->ReadAll(), "original");
    EXPECT_EQ(file->ReadAll(), "original") << "read again from the start";
    EXPECT_EQ(file->Facts().names, 1u);
    EXPECT_FALSE(file->Facts().link);
    EXPECT_EQ(file->Facts().id, root->Inspect(L"user.js").id);
    // Without replace, a taken name is refused and the file stays open where it was.
    Write(Root + L"\\other", "other");
    try {
        file->MoveOnto(*root, L"other", false);
        FAIL();
    } catch (const Failure& failure) {
        EXPECT_TRUE(failure.IsAlreadyExists()) << failure.Code();
    }
    file->Remove();
    EXPECT_FALSE(root->Inspect(L"user.js").exists);
    EXPECT_EQ(root->OpenFile(L"user.js"), nullptr);
    EXPECT_EQ(root->ReadFile(L"other", 100), std::optional<std::string>("other"));
    EXPECT_EQ(root->ReadFile(L"other", 4), std::nullopt) << "larger than asked for";
    EXPECT_EQ(root->ReadFile(L"missing", 100), std::nullopt);
}

TEST_F(Win32Files, AReadOnlyTargetIsRefusedAsWindowsRefusesIt) {
    Write(Root + L"\\user.js", "mine");
    ::SetFileAttributesW((Root + L"\\user.js").c_str(), FILE_ATTRIBUTE_READONLY);
    const auto root = platform.HoldFolder(Root);
    EXPECT_THROW(root->OpenFile(L"user.js"), Failure);
    auto file = root->CreateNewFile(L"tarnwick-1.tmp");
    file->Write("new");
    EXPECT_THROW(file->Commit(*root, L"user.js", true), Failure);
    ::SetFileAttributesW((Root + L"\\user.js").c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(root->OpenFile(L"user.js")->ReadAll(), "mine");
}

TEST_F(Win32Files, ALockedFileOrAFolderIsRefused) {
    Write(Root + L"\\user.js", "mine");
    const auto root = platform.HoldFolder(Root);
    HANDLE lock = ::CreateFileW((Root + L"\\user.js").c_str(), GENERIC_READ, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    EXPECT_THROW(root->OpenFile(L"user.js"), Failure);
    ::CloseHandle(lock);
    ::CreateDirectoryW((Root + L"\\folder").c_str(), nullptr);
    EXPECT_THROW(root->OpenFile(L"folder"), Failure);
}

TEST_F(Win32Files, AFileWithTwoNamesIsToldAsSuch) {
    Write(Root + L"\\user.js", "mine");
    ASSERT_TRUE(::CreateHardLinkW((Root + L"\\other").c_str(), (Root + L"\\user.js").c_str(), nullptr));
    const auto root = platform.HoldFolder(Root);
    EXPECT_EQ(root->Inspect(L"user.js").names, 2u);
    EXPECT_EQ(root->OpenFile(L"user.js")->Facts().names, 2u);
    EXPECT_FALSE(root->Inspect(L"user.js").link);
}

TEST_F(Win32Files, AHeldFolderCannotBeRenamedOrReplacedAndListsWhatItHolds) {
    const std::wstring folder = Root + L"\\defaults";
    ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
    const auto root = platform.HoldFolder(Root + L"\\");
    ASSERT_TRUE(root);
    {
        const auto held = root->HoldFolder(L"defaults");
        ASSERT_TRUE(held);
        EXPECT_TRUE(held->Facts().folder);
        EXPECT_FALSE(held->Facts().link);
        EXPECT_FALSE(::MoveFileExW(folder.c_str(), (Root + L"\\moved").c_str(), 0));
        EXPECT_FALSE(::RemoveDirectoryW(folder.c_str()));
    }
    EXPECT_TRUE(::MoveFileExW(folder.c_str(), (Root + L"\\moved").c_str(), 0));
    EXPECT_EQ(root->HoldFolder(L"defaults"), nullptr);
    Write(Root + L"\\plain", "");
    EXPECT_FALSE(root->HoldFolder(L"plain")->Facts().folder);
    EXPECT_EQ(platform.HoldFolder(Root + L"\\missing\\"), nullptr);
    // Read by Windows' path rules; a device is no folder.
    EXPECT_EQ(platform.HoldFolder(Root + L"/missing\\..\\.\\moved. ")->Facts().id, root->Inspect(L"moved").id);
    EXPECT_THROW(platform.HoldFolder(Root + L"\\NUL"), Failure);
    auto entries = root->Entries();
    std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].name, L"moved");
    EXPECT_EQ(entries[1].name, L"plain");
    EXPECT_EQ(entries[1].id, root->Inspect(L"plain").id) << "the listing names what opens";
}

// A relative operation that fails never becomes one by name: Wine's own
// wrapper answers 87 (invalid parameter) to a rename relative to a folder,
// and that must end in a failure with nothing changed.
constexpr NTSTATUS InvalidParameter = static_cast<NTSTATUS>(0xC000000D);
NTSTATUS NTAPI RefusedCreate(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK, PLARGE_INTEGER,
                             ULONG, ULONG, ULONG, ULONG, PVOID, ULONG) {
    return InvalidParameter;
}
NTSTATUS NTAPI RefusedSet(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, FILE_INFORMATION_CLASS) {
    return InvalidParameter;
}
const auto realCreate = NtFiles().createFile;
HANDLE busyHandle = nullptr;
template <typename... Arguments>
NTSTATUS NTAPI BusyCreate(PHANDLE handle, Arguments... arguments) {
    const NTSTATUS status = realCreate(handle, arguments...);
    busyHandle = *handle;
    return NT_SUCCESS(status) ? 0x108 : status;  // Windows' STATUS_OPLOCK_BREAK_IN_PROGRESS, a success
}

TEST_F(Win32Files, AFailedOperationThroughAHeldFolderIsNotDoneByNameInstead) {
    struct Case {
        const char* name;
        bool create;  // the create fails; else setting information does
        std::function<void(HeldFolder&)> act;
        bool busy = false;  // the create answers that an oplock break is under way
        long code = ERROR_INVALID_PARAMETER;
    };
    const Case cases[] = {
        {"commit", false,
         [](HeldFolder& root) {
             auto file = root.CreateNewFile(L"tarnwick-1.tmp");
             file->Write("new");
             file->Commit(root, L"user.js", true);
         }},
        {"move", false, [](HeldFolder& root) { root.OpenFile(L"kept")->MoveOnto(root, L"user.js", true); }},
        {"remove", false, [](HeldFolder& root) { root.OpenFile(L"user.js")->Remove(); }},
        {"create", true, [](HeldFolder& root) { root.CreateNewFile(L"tarnwick-1.tmp"); }},
        {"lock", true, [](HeldFolder& root) { root.TryLockRun(); }},
        {"busy open", true, [](HeldFolder& root) { root.OpenFile(L"user.js"); }, true, 742},
        {"busy hold", true, [](HeldFolder&) { Win32Platform().HoldFolder(Root + L"\\tree"); }, true, 742},
        {"busy lock", true, [](HeldFolder& root) { EXPECT_EQ(root.TryLockRun(), nullptr) << "held"; }, true, 0},
    };
    for (const Case& c : cases) {
        Clear(Root + L"\\tree");
        ::CreateDirectoryW((Root + L"\\tree").c_str(), nullptr);
        Write(Root + L"\\tree\\user.js", "mine");
        Write(Root + L"\\tree\\kept", "kept");
        const auto root = platform.HoldFolder(Root + L"\\tree");
        NtFileRoutines& nt = NtFiles();
        const NtFileRoutines real = nt;
        if (c.create) {
            nt.createFile = &RefusedCreate;
            if (c.busy) nt.createFile = &BusyCreate;
        } else {
            nt.setInformation = &RefusedSet;
        }
        long code = 0;
        std::wstring text;
        try {
            c.act(*root);
        } catch (const Failure& failure) {
            code = failure.Code();
            text = failure.Description();
        }
        nt = real;
        DWORD flags = 0;
        EXPECT_TRUE(!c.busy || !::GetHandleInformation(busyHandle, &flags)) << c.name << ": left open";
        EXPECT_EQ(code, c.code) << c.name;
        EXPECT_TRUE(code != 742 || text.rfind(L"Another program is using this file.\n" + Root + L"\\tree", 0) == 0);
        auto names = platform.HoldFolder(Root + L"\\tree")->Entries();
        std::vector<std::wstring> left;
        for (const auto& entry : names)
            if (entry.name.find(L".tmp") == std::wstring::npos) left.push_back(entry.name);
        std::sort(left.begin(), left.end());
        EXPECT_EQ(left, (std::vector<std::wstring>{L"kept", L"user.js"})) << c.name;
        EXPECT_EQ(root->ReadFile(L"user.js", 100), std::optional<std::string>("mine")) << c.name;
    }
}

TEST_F(Win32Files, TheRunLockKeepsASecondRunOutOfTheSameFolderHoweverItIsSpelled) {
    const auto first = platform.HoldFolder(Root);
    const auto second = platform.HoldFolder(L"c:\\TARNWICK-PLATFORM-TEST\\");
    auto lock = first->TryLockRun();
    ASSERT_TRUE(lock);
    EXPECT_TRUE(files.FileExists(Root + L"\\tarnwick.lock"));
    EXPECT_EQ(second->TryLockRun(), nullptr);
    lock.reset();
    EXPECT_FALSE(files.FileExists(Root + L"\\tarnwick.lock")) << "the lock file goes with its holder";
    lock = second->TryLockRun();
    EXPECT_TRUE(lock);
    // One that a power cut left is no obstacle.
    lock.reset();
    Write(Root + L"\\tarnwick.lock", "");
    EXPECT_TRUE(first->TryLockRun());
}

TEST(Win32Text, PathsCompareAsTheFileSystemDoes) {
    Win32Platform platform;
    EXPECT_TRUE(platform.SamePath(L"C:\\Program Files\\Mozilla Firefox\\",
                                  L"c:\\PROGRAM FILES\\mozilla firefox\\"));
    EXPECT_FALSE(platform.SamePath(L"C:\\Program Files\\Mozilla Firefox\\",
                                   L"C:\\Program Files\\Mozilla Firefox"));
    EXPECT_EQ(platform.ToAnsi(L"ab\r\n"), "ab\r\n");
    EXPECT_EQ(platform.ToAnsi(L""), "");
    EXPECT_TRUE(platform.HasX86ProgramFiles()) << "Wine's 64-bit loader runs 64-bit Windows";
}

// A last word that never ends has its time, and the process ends all the
// same: with the exit code the word settled, or 1 before it settled one.
// Letting go of a watchdog that has fired returns at once.
TEST(Win32Watchdog, ALastWordThatNeverEndsStillEndsTheRun) {
    static const HANDLE ended = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    static const HANDLE never = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    static UINT exitCode = 0;
    const auto end = std::exchange(WatchdogEnd(), [](UINT code) { ::SetEvent((exitCode = code, ended)); });
    for (const bool settles : {true, false}) {
        auto dog = StartWatchdogThread(std::chrono::milliseconds(10), std::chrono::milliseconds(100), [settles](auto&) {
            if (!settles) ::WaitForSingleObject(never, INFINITE);
            return LastWord{1618, [] { ::WaitForSingleObject(never, INFINITE); }};
        });
        ASSERT_EQ(::WaitForSingleObject(ended, 10000), WAIT_OBJECT_0) << settles;
        EXPECT_EQ(exitCode, settles ? 1618u : 1u);
        EXPECT_FALSE(dog->LetGo());
    }
    ::SetEvent(never);  // the blocked words end, and their threads with them
    WatchdogEnd() = end;
}

}  // namespace
}  // namespace tarnwick::win32
