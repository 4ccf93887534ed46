#include "picker/Module1.h"

#include <gtest/gtest.h>

#include "tests/unit/FakePlatform.h"

namespace tarnwick::testing {
namespace {

using namespace std::string_literals;

struct Case {
    const char* name;
    std::wstring buffer;
    std::wstring answer;
    friend void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }
};

class Normalise : public ::testing::TestWithParam<Case> {};

TEST_P(Normalise, GivesAFolderEndingInOneBackslash) {
    EXPECT_EQ(Module1::NormaliseChosenFolder(GetParam().buffer), GetParam().answer);
}

const std::wstring spaces(40, L' ');

INSTANTIATE_TEST_SUITE_P(
    Answers, Normalise,
    ::testing::Values(
        Case{"Cancel", L"\0"s + spaces, L""},
        Case{"DefaultFolder", L"C:\\Program Files\\Mozilla Firefox\0"s + spaces,
             L"C:\\Program Files\\Mozilla Firefox\\"},
        Case{"DriveRoot", L"D:\\\0"s + spaces, L"D:\\"},
        Case{"TwoBackslashesLoseOne", L"D:\\Apps\\\\\0"s, L"D:\\Apps\\"},
        Case{"LoneBackslash", L"\\\0"s, L""},
        Case{"NothingAfterTheFirstNul", L"C:\\a\0C:\\b\\\0"s + spaces, L"C:\\a\\"},
        Case{"UnwrittenSpacesStayOut", L"C:\\x\0   "s, L"C:\\x\\"},
        Case{"WideCharactersSurvive", L"C:\\\u0416\u8def\0"s, L"C:\\\u0416\u8def\\"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Normalise, ABufferWithoutANulIsAnInvalidArgument) {
    try {
        Module1::NormaliseChosenFolder(L"C:\\never ends");
        FAIL() << "no failure raised";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.Code(), FailureCode::InvalidArgument);
    }
}

TEST(PickFolder, ShowsThePromptOverTheOwnerAndReadsEachDialogAfresh) {
    FakePlatform platform;
    FakeWindow owner;
    platform.Choose(L"E:\\Browsers\\Fox\0junk"s);
    platform.Choose(std::nullopt);
    EXPECT_EQ(Module1::PickFolder(platform, L"first", owner), L"E:\\Browsers\\Fox\\");
    owner.handle = 99;
    EXPECT_EQ(Module1::PickFolder(platform, L"second", owner), L"");
    EXPECT_EQ(platform.log, (std::vector<std::string>{"browse first owner=4660",
                                                      "browse second owner=99"}));
}

TEST(PickFolder, AFailingDialogPassesItsFailureOn) {
    FakePlatform platform;
    FakeWindow owner;
    platform.FailAt("BrowseForFolder");
    EXPECT_THROW(Module1::PickFolder(platform, L"p", owner), Failure);
}

}  // namespace
}  // namespace tarnwick::testing
