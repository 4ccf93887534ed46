#pragma once

// A minimal program image to stand in for firefox.exe: headers, one .rsrc
// section, and in it a version block of the given product version.

#include <cstdint>
#include <optional>
#include <string>

#include "platform/Platform.h"

namespace tarnwick::testing {

// Where things lie in the images below, for tests that spoil them.
namespace pe_layout {
inline constexpr size_t NtHeaders = 0x40;     // "PE\0\0", then the COFF header
inline constexpr size_t Optional = NtHeaders + 24;
inline constexpr size_t Resources = 0x200;    // .rsrc's raw data, loaded at 0x1000
inline constexpr size_t DataEntry = Resources + 0x48;
inline constexpr size_t Block = Resources + 0x58;  // VS_VERSIONINFO, 92 bytes
inline constexpr size_t Directories(bool pe32plus) { return Optional + (pe32plus ? 112 : 96); }
inline constexpr size_t Sections(bool pe32plus) { return Directories(pe32plus) + 16 * 8; }
}  // namespace pe_layout

// Writes `value` little-endian at `at`, growing the image to hold it.
inline void PutLe(std::string& image, size_t at, uint64_t value, size_t size = 4) {
    if (image.size() < at + size) image.resize(at + size);
    for (size_t i = 0; i < size; ++i) image[at + i] = static_cast<char>(value >> 8 * i);
}

// Without a version, the same block is filed as raw data (type 10), not as a
// version (type 16), so only its type keeps it from being read.
inline std::string PeImageWithVersion(std::optional<FileVersion> product, bool pe32plus = false) {
    using namespace pe_layout;
    const FileVersion v = product.value_or(FileVersion{9, 9, 9, 9});
    std::string image;
    PutLe(image, 0, 0x5A4D, 2);  // "MZ"
    PutLe(image, 0x3C, NtHeaders);
    PutLe(image, NtHeaders, 0x4550);
    PutLe(image, NtHeaders + 4, pe32plus ? 0x8664 : 0x14C, 2);
    PutLe(image, NtHeaders + 6, 1, 2);
    PutLe(image, NtHeaders + 20, Sections(pe32plus) - Optional, 2);
    PutLe(image, NtHeaders + 22, 0x2102, 2);  // an executable DLL
    PutLe(image, Optional, pe32plus ? 0x20B : 0x10B, 2);
    PutLe(image, Optional + (pe32plus ? 24 : 28), 0x10000000, pe32plus ? 8 : 4);  // ImageBase
    for (auto [at, value] : {std::pair<size_t, uint32_t>{32, 0x1000}, {36, 0x200}, {56, 0x2000},
                             {60, 0x200}, {68, 2}})  // alignments, sizes, subsystem
        PutLe(image, Optional + at, value);
    PutLe(image, Directories(pe32plus) - 4, 16);
    PutLe(image, Directories(pe32plus) + 16, 0x1000);
    PutLe(image, Directories(pe32plus) + 20, 0x58 + 92);
    const size_t section = Sections(pe32plus);
    PutLe(image, section, 0x637273722E, 8);  // ".rsrc"
    for (auto [at, value] : {std::pair<size_t, uint32_t>{8, 0x58 + 92}, {12, 0x1000}, {16, 0x200},
                             {20, Resources}, {36, 0x40000040}})
        PutLe(image, section + at, value);

    // Type, name and language directories of one ID entry each, the data
    // entry, and the block.
    for (auto [at, value] : {std::pair<size_t, uint32_t>{0x0E, 1}, {0x10, product ? 16 : 10},
                             {0x14, 0x80000018}, {0x26, 1}, {0x28, 1}, {0x2C, 0x80000030},
                             {0x3E, 1}, {0x40, 0x409}, {0x44, 0x48}, {0x48, 0x1058}, {0x4C, 92}})
        PutLe(image, Resources + at, value);
    PutLe(image, Block, 92, 2);
    PutLe(image, Block + 2, 52, 2);
    for (size_t i = 0; i < 15; ++i) PutLe(image, Block + 6 + 2 * i, "VS_VERSION_INFO"[i], 2);
    for (auto [at, value] : {std::pair<size_t, uint32_t>{0, 0xFEEF04BD}, {4, 0x10000},
                             {8, v.major << 16 | v.minor}, {12, v.build << 16 | v.revision},
                             {16, v.major << 16 | v.minor}, {20, v.build << 16 | v.revision}})
        PutLe(image, Block + 40 + at, value);
    image.resize(Resources + 0x200);
    return image;
}

// "45.0.2.0", or "none": versions compared as text, which reads well in a failure.
inline std::string VersionOrNone(const std::optional<FileVersion>& v) {
    if (!v) return "none";
    return std::to_string(v->major) + "." + std::to_string(v->minor) + "." +
           std::to_string(v->build) + "." + std::to_string(v->revision);
}

}  // namespace tarnwick::testing
