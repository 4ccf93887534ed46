#include "patch/BrowserVersion.h"

#include <cstdint>

#include "platform/Decimal.h"

namespace tarnwick {

TweakEffect TweakEffectOn(const FileVersion& version) {
    if (version.major >= 54) return TweakEffect::NoPipelining;
    if (version.major >= 46) return TweakEffect::NotCopiedIntoProfiles;
    return TweakEffect::Works;
}

std::wstring VersionText(const FileVersion& version) {
    std::wstring text = DecimalText(version.major) + L"." + DecimalText(version.minor);
    if (version.build || version.revision) text += L"." + DecimalText(version.build);
    if (version.revision) text += L"." + DecimalText(version.revision);
    return text;
}

std::wstring PatchAnywayText(const FileVersion& version) {
    const std::wstring found = L"The Firefox in this folder is version " + VersionText(version) + L". ";
    const std::wstring why =
        TweakEffectOn(version) == TweakEffect::NoPipelining
            ? L"Since version 54, Firefox has no HTTP pipelining at all, so it would ignore the tweak."
            : L"Since version 46, Firefox no longer copies this tweak's file into new profiles, so it "
              L"would ignore the tweak.";
    return found + why + L"\n\nPatch anyway?";
}

namespace {

// Little-endian fields at bounds-checked offsets. A read past the end gives
// 0 and spoils the whole reader, so a malformed image gives no version.
struct Reader {
    std::string_view bytes;
    bool ok = true;

    uint32_t At(uint64_t offset, unsigned size) {
        if (offset > bytes.size() || bytes.size() - offset < size) {
            ok = false;
            return 0;
        }
        uint32_t value = 0;
        while (size--) value = value << 8 | static_cast<unsigned char>(bytes[offset + size]);
        return value;
    }
    uint32_t U16(uint64_t offset) { return At(offset, 2); }
    uint32_t U32(uint64_t offset) { return At(offset, 4); }
};

}  // namespace

// Offsets are 64-bit and built from 32-bit fields, so no sum below can wrap.
std::optional<FileVersion> ProductVersionOfImage(std::string_view image) {
    Reader pe{image};
    if (pe.U16(0) != 0x5A4D) return std::nullopt;  // "MZ"
    const uint64_t nt = pe.U32(0x3C);
    if (pe.U32(nt) != 0x4550) return std::nullopt;  // "PE\0\0"
    const uint64_t sections = pe.U16(nt + 6), optional = nt + 24;
    const uint64_t table = optional + pe.U16(nt + 20);
    const uint32_t magic = pe.U16(optional);
    if (magic != 0x10B && magic != 0x20B) return std::nullopt;
    // PE32+ has no BaseOfData but four fields twice as wide: 16 bytes more.
    const uint64_t directories = optional + (magic == 0x20B ? 112 : 96);
    const uint64_t resources = directories + 16;
    if (pe.U32(directories - 4) <= 2 || resources + 8 > table) return std::nullopt;
    const uint32_t resourcesAt = pe.U32(resources), resourcesSize = pe.U32(resources + 4);
    if (!pe.ok || resourcesAt == 0) return std::nullopt;

    // The bytes at an address of the loaded image, when they all lie in the
    // raw data of one section and in the file; none otherwise.
    const auto atAddress = [&](uint64_t address, uint64_t size) -> std::string_view {
        for (uint64_t row = table; row < table + 40 * sections; row += 40) {
            const uint64_t start = pe.U32(row + 12), raw = pe.U32(row + 16);
            const uint64_t from = pe.U32(row + 20);
            if (!pe.ok) break;
            if (start <= address && address + size <= start + raw &&
                from + (address - start) + size <= image.size())
                return image.substr(from + (address - start), size);
        }
        return {};
    };

    // Three levels: type, name, language. Types named by a string come first;
    // the version block is type 16, under its first name and first language.
    Reader tree{atAddress(resourcesAt, resourcesSize)};
    uint64_t node = 0;
    for (int level = 0; level < 3; ++level) {
        const uint64_t named = tree.U16(node + 12);
        const uint64_t end = node + 16 + 8 * (named + tree.U16(node + 14));
        uint64_t entry = node + 16 + (level == 0 ? 8 * named : 0);
        while (level == 0 && entry < end && tree.ok && tree.U32(entry) != 16) entry += 8;
        const uint32_t next = tree.U32(entry + 4);  // the top bit marks a directory
        if (entry >= end || !tree.ok || (next >> 31 == 1) != (level < 2)) return std::nullopt;
        node = next & 0x7FFFFFFF;
    }
    Reader block{atAddress(tree.U32(node), tree.U32(node + 4))};
    const uint32_t length = block.U16(0);
    if (!tree.ok || length > block.bytes.size()) return std::nullopt;
    block.bytes = block.bytes.substr(0, length);

    // VS_VERSIONINFO: wLength, wValueLength, wType, its key with the NUL, then
    // the fixed part at the next 4-byte boundary from the block's start.
    constexpr std::u16string_view key = u"VS_VERSION_INFO";
    for (size_t i = 0; i <= key.size(); ++i)
        if (block.U16(6 + 2 * i) != uint32_t{i < key.size() ? key[i] : u'\0'}) return std::nullopt;
    constexpr uint64_t fixed = (6 + 2 * (key.size() + 1) + 3) / 4 * 4, fixedSize = 52;
    if (block.U16(2) < fixedSize || block.U32(fixed) != 0xFEEF04BD) return std::nullopt;
    const uint32_t high = block.U32(fixed + 16), low = block.U32(fixed + 20);
    block.At(fixed + fixedSize - 4, 4);  // the whole fixed part is there
    if (!block.ok) return std::nullopt;
    return FileVersion{high >> 16, high & 0xFFFF, low >> 16, low & 0xFFFF};
}

}  // namespace tarnwick
