#include "tests/unit/Bench.h"

namespace tarnwick::testing {
namespace {

using Log = std::vector<std::string>;
const std::string Earlier = "user_pref(\"browser.startup.homepage\", \"about:blank\");\r\n";

class ApplyPatch : public Bench {
protected:
    // The browser in its default folder: found by its profile defaults, or,
    // where a test takes those away, by its program.
    void SetUp() override {
        InstallBrowser();
        platform.AddFile(Default + L"firefox.exe", "MZ");
    }
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

TEST_F(ApplyPatch, AnEarlierDifferentFileIsKeptAsTheOriginalAndANewerOneAside) {
    platform.AddFile(Prefs, Earlier);
    Apply();
    EXPECT_EQ(platform.Bytes(Prefs), PayloadFile);
    EXPECT_EQ(platform.Bytes(Backup), Earlier);
    EXPECT_EQ(Count(KeptChangedBox), 0);

    // With no marker, a kept original beside another user.js was left by a
    // patch that never finished, wherever this version or an earlier one
    // kept it: the current file is the original now, and the leftover is
    // kept aside, never thrown away, and named.
    for (const std::wstring& kept : {Backup, EarlierBackup}) {
        if (kept == EarlierBackup) {
            platform.files.erase(FakePlatform::Key(Backup));
            platform.files.erase(FakePlatform::Key(Changed));
            platform.AddFile(EarlierBackup, Earlier);
        }
        platform.files.erase(FakePlatform::Key(Marker));
        platform.AddFile(Prefs, "something newer\r\n");
        Apply();
        EXPECT_EQ(platform.Bytes(Prefs), PayloadFile);
        EXPECT_EQ(platform.Bytes(Backup), "something newer\r\n");
        EXPECT_EQ(platform.Bytes(Changed), Earlier);
        EXPECT_FALSE(platform.Has(EarlierBackup));
        EXPECT_TRUE(platform.TemporaryLeftovers().empty());
        EXPECT_EQ(Count("box " + FakePlatform::Narrow(kept) +
                        " was left by a patch that was never finished, and user.js has changed since, so "
                        "Tarnwick kept it as C:\\Program Files\\Mozilla Firefox\\defaults\\user.js.changed-1. /64"),
                  1);
    }

    // The original itself, put back by hand, needs no keeping.
    platform.files.erase(FakePlatform::Key(Marker));
    platform.AddFile(Prefs, "something newer\r\n");
    Apply();
    EXPECT_EQ(platform.Bytes(Backup), "something newer\r\n");
    EXPECT_FALSE(platform.Has(Default + L"defaults\\user.js.changed-2"));
}

TEST_F(ApplyPatch, AFolderWhereTheOriginalIsKeptIsNoKeptOriginal) {
    platform.AddFile(Prefs, Earlier);
    platform.AddFolder(Backup);
    platform.Answer(7);
    EXPECT_TRUE(Apply());
    EXPECT_EQ(platform.Bytes(Prefs), Earlier);
    EXPECT_EQ(Count(LookAgain), 1);
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
    bool backupLeft;  // a kept copy of the original stays when the swap fails
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
    ::testing::Values(Fault{"HoldFolder", 1, false}, Fault{"HoldFolder", 2, false},
                      Fault{"HoldFolder", 3, false}, Fault{"Entries", 1, false},
                      Fault{"OpenFile", 1, false}, Fault{"ReadAll", 1, false},
                      Fault{"CreateNewFile", 1, false}, Fault{"Write", 1, false},
                      Fault{"Inspect", 2, false}, Fault{"OpenFile", 2, false},
                      Fault{"CreateNewFile", 2, false}, Fault{"Write", 2, false},
                      Fault{"Commit", 1, false}, Fault{"Commit", 2, false}),
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

// ---- a browser that would ignore the tweak is named before anything is written ----

const std::string Since46 =
    " Since version 46, Firefox no longer copies this tweak's file into new profiles, so it would "
    "ignore the tweak.\n\nPatch anyway? /52";
const std::string Since54 =
    " Since version 54, Firefox has no HTTP pipelining at all, so it would ignore the tweak.\n\n"
    "Patch anyway? /52";
const std::string Found = "box The Firefox in this folder is version ";

struct VersionCase {
    const char* name;
    std::optional<FileVersion> version;
    std::string box;  // empty: no question, the patch goes ahead
    friend void PrintTo(const VersionCase& c, std::ostream* out) { *out << c.name; }
};

class BrowserVersion : public ApplyPatch, public ::testing::WithParamInterface<VersionCase> {};

TEST_P(BrowserVersion, DecidesTheQuestionAndNoWritesNothing) {
    const VersionCase& c = GetParam();
    if (c.version) platform.SetVersion(Default + L"firefox.exe", *c.version);
    platform.AddFile(Prefs, Earlier);
    const auto before = platform.files;
    platform.Answer(7);
    EXPECT_TRUE(Apply());
    if (c.box.empty()) {
        EXPECT_EQ(Count(Complete), 1);
        EXPECT_EQ(platform.Bytes(Prefs), PayloadFile);
        return;
    }
    // Asked of the held folder's program, before any file is touched.
    EXPECT_EQ(platform.log,
              (Log{"dir? C:\\Program Files\\Mozilla Firefox\\i386",
                   "dir? C:\\Program Files (x86)\\Mozilla Firefox\\i386",
                   "dir? C:\\Program Files\\Mozilla Firefox\\defaults\\profile\\",
                   "hold C:\\Program Files\\Mozilla Firefox\\",
                   "read C:\\Program Files\\Mozilla Firefox\\firefox.exe", c.box, "end"}));
    EXPECT_EQ(platform.files, before);
}

INSTANTIATE_TEST_SUITE_P(
    Versions, BrowserVersion,
    ::testing::Values(VersionCase{"NoVersionBlock", std::nullopt, ""},
                      VersionCase{"Old", FileVersion{45, 0, 2, 0}, ""},
                      VersionCase{"Ancient", FileVersion{3, 6, 28, 0}, ""},
                      VersionCase{"First46", FileVersion{46, 0, 0, 0}, Found + "46.0." + Since46},
                      VersionCase{"Last53", FileVersion{53, 0, 3, 0}, Found + "53.0.3." + Since46},
                      VersionCase{"First54", FileVersion{54, 0, 1, 0}, Found + "54.0.1." + Since54},
                      VersionCase{"Current", FileVersion{133, 0, 3, 0}, Found + "133.0.3." + Since54},
                      VersionCase{"FullFour", FileVersion{60, 2, 0, 6699}, Found + "60.2.0.6699." + Since54}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ApplyPatch, YesToTheVersionQuestionPatchesAsBefore) {
    platform.SetVersion(Default + L"firefox.exe", FileVersion{133, 0, 3, 0});
    platform.AddFile(Prefs, Earlier);
    platform.Answer(Answer::Yes);
    EXPECT_TRUE(Apply());
    EXPECT_EQ(platform.Bytes(Prefs), PayloadFile);
    EXPECT_EQ(platform.Bytes(Backup), Earlier);
    EXPECT_TRUE(platform.HasFolder(Marker));
    EXPECT_EQ(Count(Complete), 1);
    EXPECT_TRUE(platform.TemporaryLeftovers().empty());
}

TEST_F(ApplyPatch, EachFolderChosenOnLookingAgainIsAskedItsVersion) {
    platform.files.erase(FakePlatform::Key(Profile));
    platform.AddFolder(L"E:\\");
    InstallBrowserAt(L"E:\\Fox\\");
    platform.SetVersion(L"E:\\Fox\\firefox.exe", FileVersion{52, 0, 0, 0});
    platform.Answer(Answer::Yes);
    platform.Choose(std::wstring(L"E:\\Fox\0", 7));
    platform.Answer(7);
    EXPECT_TRUE(Apply());
    EXPECT_EQ(platform.log.end()[-2], Found + "52.0." + Since46);
    EXPECT_FALSE(platform.Has(L"E:\\Fox\\defaults\\profile\\user.js"));
}

}  // namespace
}  // namespace tarnwick::testing
