// Checks the committed icon and logo against what Windows and the about box
// expect, independently of how draw_artwork produced them.
//
//   artwork_format_test <tarnwick.ico> <logo.jpg>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

int failures = 0;

void check(bool ok, const std::string &what) {
    if (!ok) {
        std::fprintf(stderr, "FAIL: %s\n", what.c_str());
        ++failures;
    }
}

std::vector<uint8_t> slurp(const char *path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

unsigned le16(const std::vector<uint8_t> &d, size_t at) { return d[at] | d[at + 1] << 8; }
uint32_t le32(const std::vector<uint8_t> &d, size_t at) { return le16(d, at) | uint32_t(le16(d, at + 2)) << 16; }
unsigned be16(const std::vector<uint8_t> &d, size_t at) { return d[at] << 8 | d[at + 1]; }
size_t stride(size_t bits) { return (bits + 31) / 32 * 4; }

void checkIcon(const std::vector<uint8_t> &d) {
    check(d.size() >= 6, "ico: file too short");
    if (d.size() < 6) return;
    check(le16(d, 0) == 0 && le16(d, 2) == 1, "ico: ICONDIR reserved/type");
    unsigned count = le16(d, 4);
    check(count == 9, "ico: expected 9 images, got " + std::to_string(count));
    if (count != 9 || d.size() < 6 + 16 * count) return;

    static const int sizes[] = {48, 32, 16}, depths[] = {32, 8, 4};
    size_t expectedOffset = 6 + 16 * count;
    for (unsigned i = 0; i < count; ++i) {
        size_t e = 6 + 16 * i;
        int size = sizes[i / 3], bpp = depths[i % 3];
        std::string tag = "ico[" + std::to_string(i) + "] " + std::to_string(size) + "px/" + std::to_string(bpp) + "bpp: ";
        check(d[e] == size && d[e + 1] == size, tag + "bWidth/bHeight");
        check(d[e + 2] == (bpp == 4 ? 16 : 0), tag + "bColorCount");
        check(d[e + 3] == 0, tag + "bReserved");
        check(le16(d, e + 4) == 1, tag + "wPlanes");
        check(le16(d, e + 6) == unsigned(bpp), tag + "wBitCount");
        uint32_t bytes = le32(d, e + 8), offset = le32(d, e + 12);
        check(offset == expectedOffset, tag + "images must be packed in directory order");
        check(size_t(offset) + bytes <= d.size(), tag + "image runs past end of file");
        if (size_t(offset) + bytes > d.size() || bytes < 40) return;
        expectedOffset = size_t(offset) + bytes;

        size_t h = offset;
        check(le32(d, h) == 40, tag + "biSize");
        check(le32(d, h + 4) == uint32_t(size), tag + "biWidth");
        check(le32(d, h + 8) == uint32_t(2 * size), tag + "biHeight must be twice the height");
        check(le16(d, h + 12) == 1, tag + "biPlanes");
        check(le16(d, h + 14) == unsigned(bpp), tag + "biBitCount");
        check(le32(d, h + 16) == 0, tag + "biCompression must be BI_RGB");
        uint32_t clrUsed = le32(d, h + 32);
        size_t colours = bpp == 32 ? 0 : clrUsed ? clrUsed : 1u << bpp;
        check(colours <= (bpp == 32 ? 0u : 1u << bpp), tag + "biClrUsed");
        size_t xorStride = stride(size_t(size) * bpp), andStride = stride(size);
        size_t xorAt = h + 40 + 4 * colours, andAt = xorAt + xorStride * size;
        check(40 + 4 * colours + (xorStride + andStride) * size == bytes, tag + "dwBytesInRes does not match layout");
        if (andAt + andStride * size > d.size()) return;

        // Rows are stored bottom-up; y here is from the top.
        auto masked = [&](int x, int y) {
            return (d[andAt + andStride * (size - 1 - y) + x / 8] >> (7 - x % 8)) & 1;
        };
        int c = size - 1;
        check(masked(0, 0) && masked(c, 0) && masked(0, c) && masked(c, c), tag + "corners must be masked out");
        check(!masked(size / 2, size / 2), tag + "centre must be opaque");
        if (bpp != 32) continue;
        int soft = 0, maskMismatch = 0;
        for (int y = 0; y < size; ++y) {
            for (int x = 0; x < size; ++x) {
                uint8_t a = d[xorAt + xorStride * (size - 1 - y) + 4 * x + 3];
                if (a > 0 && a < 255) ++soft;
                if (masked(x, y) != (a < 128)) ++maskMismatch;
            }
        }
        auto alpha = [&](int x, int y) { return d[xorAt + xorStride * (size - 1 - y) + 4 * x + 3]; };
        check(alpha(0, 0) == 0 && alpha(c, 0) == 0 && alpha(0, c) == 0 && alpha(c, c) == 0,
              tag + "corners must be fully transparent");
        check(alpha(size / 2, size / 2) == 255, tag + "centre must be fully opaque");
        check(soft >= size, tag + "too few partially transparent pixels for anti-aliased edges");
        check(maskMismatch == 0, tag + "AND mask disagrees with alpha");
    }
    check(expectedOffset == d.size(), "ico: trailing bytes after last image");
}

void checkLogo(const std::vector<uint8_t> &d) {
    check(d.size() >= 2600 && d.size() <= 3600, "jpg: size " + std::to_string(d.size()) + " outside 2600..3600");
    check(d.size() > 20 && d[0] == 0xFF && d[1] == 0xD8, "jpg: missing SOI");
    if (d.size() <= 20) return;
    check(d[2] == 0xFF && d[3] == 0xE0, "jpg: APP0 must follow SOI");
    check(be16(d, 4) == 16, "jpg: APP0 length");
    check(std::memcmp(&d[6], "JFIF\0", 5) == 0, "jpg: APP0 is not JFIF");
    check(d[11] == 1 && d[12] == 1, "jpg: JFIF version must be 1.01");
    check(d[13] == 1, "jpg: density unit must be dots per inch");
    check(be16(d, 14) == 72 && be16(d, 16) == 72, "jpg: density must be 72x72");
    check(d[d.size() - 2] == 0xFF && d[d.size() - 1] == 0xD9, "jpg: missing EOI");

    bool sawSof0 = false;
    size_t at = 2;
    while (at + 4 <= d.size()) {
        if (d[at] != 0xFF) {
            check(false, "jpg: marker expected at " + std::to_string(at));
            return;
        }
        uint8_t marker = d[at + 1];
        size_t len = be16(d, at + 2);
        if (marker == 0xDA) break;  // entropy-coded data follows
        check(marker != 0xE1, "jpg: must not carry EXIF (APP1)");
        check(marker != 0xFE, "jpg: must not carry a comment");
        check(marker != 0xC2 && marker != 0xC1, "jpg: must be baseline");
        if (marker == 0xC0 && at + 10 <= d.size()) {
            sawSof0 = true;
            check(d[at + 4] == 8, "jpg: sample precision must be 8");
            check(be16(d, at + 5) == 88 && be16(d, at + 7) == 88, "jpg: must be 88x88");
            check(d[at + 9] == 3, "jpg: must have 3 components");
        }
        at += 2 + len;
    }
    check(sawSof0, "jpg: no SOF0 before scan");
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <tarnwick.ico> <logo.jpg>\n", argv[0]);
        return 2;
    }
    std::vector<uint8_t> ico = slurp(argv[1]), jpg = slurp(argv[2]);
    check(!ico.empty(), std::string("cannot read ") + argv[1]);
    check(!jpg.empty(), std::string("cannot read ") + argv[2]);
    if (!ico.empty()) checkIcon(ico);
    if (!jpg.empty()) checkLogo(jpg);
    if (failures) std::fprintf(stderr, "%d check(s) failed\n", failures);
    else std::printf("artwork format OK\n");
    return failures ? 1 : 0;
}
