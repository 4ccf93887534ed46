// The version reader on real linker output: the browser stand-ins and both
// program images, as the Windows builds make them and the release test signs
// them. A missing file fails the test: the host build and that test make them all.
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

#include "patch/BrowserVersion.h"
#include "tests/unit/PeImage.h"

namespace tarnwick::testing {
namespace {

TEST(ImageVersion, ReadsWhatTheLinkersWrote) {
    const std::string x64 = TARNWICK_X64_BUILD, x86 = TARNWICK_X86_BUILD, signed_ = TARNWICK_SIGNED;
    const std::pair<std::string, std::string> cases[] = {
        {x64 + "/stand-ins/firefox-45.0.2.exe", "45.0.2.0"},
        {x64 + "/stand-ins/firefox-46.0.exe", "46.0.0.0"},
        {x64 + "/stand-ins/firefox-133.0.3.exe", "133.0.3.0"},
        {x64 + "/stand-ins/firefox-unversioned.exe", "none"},
        {x64 + "/tarnwick.exe", "1.0.0.0"},
        {x86 + "/tarnwick.exe", "1.0.0.0"},
        {signed_ + "/x64/tarnwick.exe", "1.0.0.0"},
        {signed_ + "/x86/tarnwick.exe", "1.0.0.0"}};
    for (const auto& [file, version] : cases) {
        std::ifstream in(file, std::ios::binary);
        if (!in) {
            ADD_FAILURE() << file << " is missing";
            continue;
        }
        const std::string image{std::istreambuf_iterator<char>(in), {}};
        EXPECT_EQ(VersionOrNone(ProductVersionOfImage(image)), version) << file;
    }
}

}  // namespace
}  // namespace tarnwick::testing
