#pragma once

#include <cstdint>

namespace tarnwick {

// What a reparse point on a file or folder means to a run that follows no
// link. Windows marks a name that stands for another ("name surrogate"):
// symbolic links, junctions and mount points lead elsewhere. Storage
// filters keep ordinary files as reparse points too (compression,
// deduplication, tiered storage, cloud-file placeholders): those are the
// file itself, read through the filter. A tag nobody knows is taken for a
// link; so is a reparse point with no tag, which is how Wine shows a link.
enum class ReparseKind { None, Link, Storage };

namespace ReparseTag {
constexpr std::uint32_t NameSurrogate = 0x20000000;
constexpr std::uint32_t Hsm = 0xC0000004;
constexpr std::uint32_t Hsm2 = 0x80000006;
constexpr std::uint32_t Dedup = 0x80000013;
constexpr std::uint32_t Wof = 0x80000017;
constexpr std::uint32_t Cloud = 0x9000001A;  // and Cloud1 to CloudF: 0x9000101A to 0x9000F01A
constexpr std::uint32_t CloudVariants = 0x0000F000;
}  // namespace ReparseTag

constexpr ReparseKind ReparseKindOf(bool reparsePoint, std::uint32_t tag) {
    if (!reparsePoint) return ReparseKind::None;
    if (tag & ReparseTag::NameSurrogate) return ReparseKind::Link;
    switch (tag) {
        case ReparseTag::Hsm:
        case ReparseTag::Hsm2:
        case ReparseTag::Dedup:
        case ReparseTag::Wof:
            return ReparseKind::Storage;
        default:
            break;
    }
    return (tag & ~ReparseTag::CloudVariants) == ReparseTag::Cloud ? ReparseKind::Storage
                                                                  : ReparseKind::Link;
}

}  // namespace tarnwick
