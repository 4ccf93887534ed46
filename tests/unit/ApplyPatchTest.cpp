#include "tests/unit/Bench.h"

namespace tarnwick::testing {
namespace {

using Log = std::vector<std::string>;
const std::string Earlier = "user_pref(\"browser.startup.homepage\", \"about:blank\");\r\n";

class ApplyPatch : public Bench {
protected:
    void SetUp() override { InstallBrowser(); }
    // ApplyPatch as the click runs it: the default folder found.
    bool Apply() {
        platform.AddFolder(Default);
        try {
            form.Command1_Click();
        } catch (const ProgramEnd&) {
            return true;
        }
        return false;
    }
    int Count(const std::string& entry) const {
        return static_cast<int>(std::count(platform.log.begin(), platform.log.end(), entry));
    }
};

TEST_F(ApplyPatch, WritesThe177BytesRecordsTheMarkerThenAnnounces) {
    EXPECT_TRUE(Apply());
    EXPECT_EQ(platform.Bytes(Prefs), PayloadFile);
    EXPECT_EQ(platform.Bytes(Prefs)->size(), 177u);
    EXPECT_TRUE(platform.HasFolder(Marker));
    // The marker is made before success is announced.
    auto mkdir = std::find(platform.log.begin(), platform.log.end(),
                           "mkdir C:\\Program Files\\Mozilla Firefox\\i386");
    auto box = std::find(platform.log.begin(), platform.log.end(), Complete);
    ASSERT_NE(mkdir, platform.log.end());
    EXPECT_LT(mkdir, box);
    EXPECT_TRUE(platform.TemporaryLeftovers().empty());
    EXPECT_FALSE(platform.Has(Backup));
}

TEST_F(ApplyPatch, WritesWhateverTheTextBoxHolds) {
    text1.text = L"";
    Apply();
    EXPECT_EQ(platform.Bytes(Prefs), "\r\n");
}

TEST_F(ApplyPatch, AnEarlierDifferentFileIsKeptOnceAsTheOriginal) {
    platform.AddFile(Prefs, Earlier);
    Apply();
    EXPECT_EQ(platform.Bytes(Prefs), PayloadFile);
    EXPECT_EQ(platform.Bytes(Backup), Earlier);

    // A second patch over something else again never overwrites the original.
    platform.files.erase(FakePlatform::Key(Marker));
    platform.AddFile(Prefs, "something newer\r\n");
    Apply();
    EXPECT_EQ(platform.Bytes(Backup), Earlier);
    EXPECT_TRUE(platform.TemporaryLeftovers().empty());
}

TEST_F(ApplyPatch, AnEarlierIdenticalFileNeedsNoBackup) {
    platform.AddFile(Prefs, PayloadFile);
    Apply();
    EXPECT_FALSE(platform.Has(Backup));
}

TEST_F(ApplyPatch, AMarkerThatAlreadyExistsCountsAsMade) {
    // Made by another hand between the click's probe and now.
    platform.onStep = [&](const std::string& entry) {
        if (entry == "write 177") platform.AddFolder(Marker);
    };
    Apply();
    EXPECT_EQ(Count(Complete), 1);
    EXPECT_EQ(Count(LookAgain), 0);
}

TEST_F(ApplyPatch, AReadOnlyFileFailsAndStaysAsItWas) {
    platform.AddFile(Prefs, Earlier, /*readOnly=*/true);
    platform.Answer(7);
    EXPECT_TRUE(Apply());
    EXPECT_EQ(platform.Bytes(Prefs), Earlier);
    EXPECT_EQ(Count(LookAgain), 1);
    EXPECT_EQ(Count(Complete), 0);
    EXPECT_FALSE(platform.Has(Marker));
}

TEST_F(ApplyPatch, NoProfileDefaultsFolderWritesNothing) {
    platform.files.erase(FakePlatform::Key(Profile));
    platform.Answer(7);
    Apply();
    EXPECT_FALSE(platform.Has(Prefs));
    EXPECT_FALSE(platform.Has(Marker));
    EXPECT_EQ(platform.log.back(), "end");
    EXPECT_EQ(Count(LookAgain), 1);
}

// A failure injected at each step of the write: the file is as it was, no
// temporary is left, the question follows, and No ends the program.
struct Fault {
    const char* operation;
    int nth;
    bool backupLeft;  // the original is already safely kept when the swap fails
    friend void PrintTo(const Fault& fault, std::ostream* out) {
        *out << fault.operation << " #" << fault.nth;
    }
};

class ApplyPatchFault : public ApplyPatch, public ::testing::WithParamInterface<Fault> {};

TEST_P(ApplyPatchFault, LeavesTheEarlierFileWholeAndAsksToLookAgain) {
    platform.AddFile(Prefs, Earlier);
    platform.FailAt(GetParam().operation, GetParam().nth);
    platform.Answer(7);
    EXPECT_TRUE(Apply());
    EXPECT_EQ(platform.Bytes(Prefs), Earlier);
    EXPECT_TRUE(platform.TemporaryLeftovers().empty());
    EXPECT_FALSE(platform.Has(Marker));
    EXPECT_EQ(platform.Has(Backup), GetParam().backupLeft);
    if (GetParam().backupLeft) {
        EXPECT_EQ(platform.Bytes(Backup), Earlier);
    }
    EXPECT_EQ(Count(LookAgain), 1);
    EXPECT_EQ(Count(Complete), 0);
    EXPECT_EQ(platform.log.back(), "end");
}

INSTANTIATE_TEST_SUITE_P(
    EachStep, ApplyPatchFault,
    ::testing::Values(Fault{"ReadFileForReplace", 1, false}, Fault{"CreateTemporaryFile", 1, false},
                      Fault{"Write", 1, false}, Fault{"CreateTemporaryFile", 2, false},
                      Fault{"Write", 2, false}, Fault{"Commit", 1, false},
                      Fault{"Commit", 2, true}),
    [](const auto& info) {
        return std::string(info.param.operation) + std::to_string(info.param.nth);
    });

TEST_F(ApplyPatch, AFailingMarkerIsAFailureNotASuccess) {
    platform.FailAt("CreateFolder");
    platform.Answer(7);
    Apply();
    EXPECT_EQ(Count(Complete), 0);
    EXPECT_EQ(Count(LookAgain), 1);
    EXPECT_EQ(platform.Bytes(Prefs), PayloadFile);  // the write itself went through
}

TEST_F(ApplyPatch, LookingAgainAppliesToTheChosenFolderUntilItWorks) {
    platform.files.erase(FakePlatform::Key(Profile));  // default folder has no profile defaults
    platform.AddFolder(L"E:\\");
    platform.AddFolder(L"E:\\Empty\\");
    InstallBrowserAt(L"E:\\Fox\\");
    platform.Answer(Answer::Yes);
    platform.Choose(std::wstring(L"E:\\Empty\0", 9));
    platform.Answer(Answer::Yes);
    platform.Choose(std::wstring(L"E:\\Fox\0", 7));
    EXPECT_TRUE(Apply());
    EXPECT_EQ(Count(LookAgain), 2);
    EXPECT_EQ(Count(Browse), 2);
    EXPECT_EQ(Count(Complete), 1);
    EXPECT_EQ(platform.Bytes(L"E:\\Fox\\defaults\\profile\\user.js"), PayloadFile);
    EXPECT_FALSE(platform.Has(Marker));  // undo only knows the default folder
    EXPECT_EQ(form.browserFolder(), L"E:\\Fox\\");
}

TEST_F(ApplyPatch, ChoosingTheDefaultFolderInAnyCaseRecordsTheMarker) {
    platform.files.erase(FakePlatform::Key(Profile));
    platform.Answer(Answer::Yes);
    platform.onStep = [&](const std::string& entry) {
        if (entry == Browse) platform.AddFolder(Profile);
    };
    platform.Choose(std::wstring(L"c:\\program files\\MOZILLA FIREFOX\0", 33));
    Apply();
    EXPECT_TRUE(platform.HasFolder(Marker));
    EXPECT_EQ(Count(Complete), 1);
}

TEST_F(ApplyPatch, CancellingTheDialogAfterAFailureEndsQuietly) {
    platform.files.erase(FakePlatform::Key(Profile));
    platform.Answer(Answer::Yes);
    platform.Choose(std::nullopt);
    EXPECT_TRUE(Apply());
    EXPECT_EQ(platform.log.end()[-2], Browse);
    EXPECT_EQ(platform.log.back(), "end");
}

TEST_F(ApplyPatch, AFailureInsideTheLookAgainDialogIsNotCaught) {
    platform.files.erase(FakePlatform::Key(Profile));
    platform.Answer(Answer::Yes);
    platform.FailAt("BrowseForFolder");
    EXPECT_THROW(Apply(), Failure);
}

}  // namespace
}  // namespace tarnwick::testing
