#include "patch/BrowserVersion.h"

#include <gtest/gtest.h>

#include "tests/unit/PeImage.h"

namespace tarnwick::testing {
namespace {

using namespace pe_layout;

const std::string Pe32 = PeImageWithVersion(FileVersion{45, 0, 2, 0});
const std::string Pe32Plus = PeImageWithVersion(FileVersion{133, 0, 3, 7}, true);

// A copy of the PE32 image with one field overwritten.
std::string Spoiled(size_t at, uint64_t value, size_t size = 4) {
    std::string image = Pe32;
    PutLe(image, at, value, size);
    return image;
}

struct ImageCase {
    const char* name;
    std::string image;
    std::string version;
    friend void PrintTo(const ImageCase& c, std::ostream* out) { *out << c.name; }
};

class VersionOfImage : public ::testing::TestWithParam<ImageCase> {};

// The whole image gives the version, and so does every cut of it that keeps
// the version block; shorter cuts give none.
TEST_P(VersionOfImage, ReadsTheProductVersionOrNone) {
    const ImageCase& c = GetParam();
    EXPECT_EQ(VersionOrNone(ProductVersionOfImage(c.image)), c.version);
    for (size_t size = 0; size < c.image.size(); ++size) {
        ASSERT_EQ(VersionOrNone(ProductVersionOfImage(c.image.substr(0, size))),
                  size < Block + 92 ? "none" : c.version) << "cut at " << size;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Images, VersionOfImage,
    ::testing::Values(
        ImageCase{"Pe32", Pe32, "45.0.2.0"},
        ImageCase{"Pe32Plus", Pe32Plus, "133.0.3.7"},
        ImageCase{"NoVersionResource", PeImageWithVersion(std::nullopt), "none"},
        ImageCase{"NotMz", Spoiled(0, 'X', 1), "none"},
        ImageCase{"NtHeadersFarAway", Spoiled(0x3C, 0xFFFFFFF0), "none"},
        ImageCase{"NotPe", Spoiled(NtHeaders, 0x4551), "none"},
        ImageCase{"UnknownMagic", Spoiled(Optional, 0x107, 2), "none"},
        ImageCase{"TwoDirectoriesOnly", Spoiled(Directories(false) - 4, 2), "none"},
        ImageCase{"NoResourceDirectory", Spoiled(Directories(false) + 16, 0), "none"},
        ImageCase{"ResourcesPastTheSection", Spoiled(Directories(false) + 20, 0x201), "none"},
        ImageCase{"SectionPastTheFile", Spoiled(Sections(false) + 20, 0xFFFFFF00), "none"},
        ImageCase{"VersionNamedNotNumbered", Spoiled(Resources + 0x0C, 1), "none"},
        ImageCase{"DataOutsideEverySection", Spoiled(DataEntry, 0x5000), "none"},
        ImageCase{"DataPastTheSection", Spoiled(DataEntry + 4, 0x1000), "none"},
        ImageCase{"WrongSignature", Spoiled(Block + 40, 0xFEEF04BE), "none"}));

}  // namespace
}  // namespace tarnwick::testing
