// Draws Tarnwick's emblem (a globe with an orange swoosh) and writes the
// application icon and the 88x88 about-box logo.
//
//   draw_artwork <out.ico> <out.jpg>
//
// Output must be byte-identical on every run: the committed files are checked
// against a fresh render, so no clocks, no randomness, no fast-math.

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <jpeglib.h>

namespace {

struct Rgb { double r, g, b; };

enum class Kind { Disc, Stroke, Swoosh };

// Unit square, y pointing down. Later shapes paint over earlier ones.
struct Shape {
    Kind kind;
    double x, y;       // centre
    double rx, ry;     // Disc: radius in rx. Stroke: ellipse radii, 0 gives a straight line. Swoosh: radius in rx
    double halfWidth;  // Stroke: half line width. Swoosh: half width at the head
    double from, to;   // Swoosh: sweep in degrees, clockwise on screen, head first
    Rgb c0, c1;        // gradient ends (Disc: top-left to bottom-right, Swoosh: head to tail)
    int clip;          // index of a Disc this shape is clipped to, or -1
    int minSize;       // skipped below this pixel size so small icons stay readable
};

const Shape kEmblem[] = {
    {Kind::Swoosh, 0.50, 0.50, 0.425, 0, 0.060, -50, 205, {255, 195, 35}, {255, 70, 25}, -1, 0},
    {Kind::Disc,   0.50, 0.50, 0.345, 0, 0, 0, 0, {10, 25, 110}, {10, 25, 110}, -1, 0},
    {Kind::Disc,   0.50, 0.50, 0.315, 0, 0, 0, 0, {45, 100, 240}, {15, 38, 155}, -1, 0},
    {Kind::Stroke, 0.50, 0.50, 0.000, 0.315, 0.012, 0, 0, {165, 210, 255}, {}, 2, 0},
    {Kind::Stroke, 0.50, 0.50, 0.170, 0.315, 0.012, 0, 0, {165, 210, 255}, {}, 2, 24},
    {Kind::Stroke, 0.50, 0.50, 0.315, 0.000, 0.012, 0, 0, {165, 210, 255}, {}, 2, 0},
    {Kind::Stroke, 0.50, 0.34, 0.315, 0.000, 0.012, 0, 0, {165, 210, 255}, {}, 2, 24},
    {Kind::Stroke, 0.50, 0.66, 0.315, 0.000, 0.012, 0, 0, {165, 210, 255}, {}, 2, 24},
};
const int kShapeCount = sizeof kEmblem / sizeof kEmblem[0];

const int kSamples = 8;  // per axis, so 64 coverage samples per pixel
const double kPi = 3.14159265358979323846;

Rgb mix(const Rgb &a, const Rgb &b, double t) {
    if (t < 0) t = 0;
    if (t > 1) t = 1;
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

bool insideDisc(const Shape &s, double px, double py) {
    double dx = px - s.x, dy = py - s.y;
    return dx * dx + dy * dy <= s.rx * s.rx;
}

// Tests one sample point; fills *out with the shape's colour there.
bool hit(const Shape &s, double px, double py, double minHalfWidth, Rgb *out) {
    if (s.clip >= 0 && !insideDisc(kEmblem[s.clip], px, py)) return false;
    double dx = px - s.x, dy = py - s.y;
    switch (s.kind) {
    case Kind::Disc: {
        if (!insideDisc(s, px, py)) return false;
        *out = mix(s.c0, s.c1, 0.5 + (dx + dy) / (2.0 * 1.4142135623730951 * s.rx));
        return true;
    }
    case Kind::Stroke: {
        // Thin lines must not vanish at 16 px, so they never get thinner than a pixel.
        double hw = s.halfWidth > minHalfWidth ? s.halfWidth : minHalfWidth;
        double dist;
        if (s.rx == 0) {
            dist = std::fabs(dx);
        } else if (s.ry == 0) {
            dist = std::fabs(dy);
        } else {
            // First-order distance to the ellipse; exact enough for hairlines.
            double f = dx * dx / (s.rx * s.rx) + dy * dy / (s.ry * s.ry) - 1;
            double gx = 2 * dx / (s.rx * s.rx), gy = 2 * dy / (s.ry * s.ry);
            double g = std::sqrt(gx * gx + gy * gy);
            if (g == 0) return false;
            dist = std::fabs(f) / g;
        }
        if (dist > hw) return false;
        *out = s.c0;
        return true;
    }
    case Kind::Swoosh: {
        double r = std::sqrt(dx * dx + dy * dy);
        double hx = s.x + s.rx * std::cos(s.from * kPi / 180), hy = s.y + s.rx * std::sin(s.from * kPi / 180);
        double cx = px - hx, cy = py - hy;
        if (cx * cx + cy * cy <= s.halfWidth * s.halfWidth) {  // rounded head
            *out = s.c0;
            return true;
        }
        double deg = std::atan2(dy, dx) * 180 / kPi;
        double along = std::fmod(deg - s.from + 720.0, 360.0);
        double sweep = s.to - s.from;
        if (along > sweep) return false;
        double t = along / sweep;
        // Tapers to a point, which is what makes it read as motion rather than a ring.
        double hw = s.halfWidth * (1 - t) * (1 - 0.3 * t);
        if (std::fabs(r - s.rx) > hw) return false;
        *out = mix(s.c0, s.c1, t);
        return true;
    }
    }
    return false;
}

struct Rgba { uint8_t r, g, b, a; };

uint8_t toByte(double v) {
    long q = std::lround(v);
    return static_cast<uint8_t>(q < 0 ? 0 : q > 255 ? 255 : q);
}

// Renders the unit square into size x size pixels, inset by margin pixels.
// Colour is straight (not premultiplied) alpha, as .ico wants it.
std::vector<Rgba> render(int size, double margin) {
    double scale = size - 2 * margin;
    double minHalfWidth = 0.5 / scale;
    std::vector<Rgba> img(size * size);
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            double sr = 0, sg = 0, sb = 0;
            int covered = 0;
            for (int j = 0; j < kSamples; ++j) {
                for (int i = 0; i < kSamples; ++i) {
                    double px = (x - margin + (i + 0.5) / kSamples) / scale;
                    double py = (y - margin + (j + 0.5) / kSamples) / scale;
                    Rgb c{0, 0, 0};
                    bool any = false;
                    for (int k = kShapeCount - 1; k >= 0 && !any; --k) {
                        if (size < kEmblem[k].minSize) continue;
                        any = hit(kEmblem[k], px, py, minHalfWidth, &c);
                    }
                    if (!any) continue;
                    sr += c.r, sg += c.g, sb += c.b;
                    ++covered;
                }
            }
            Rgba &o = img[y * size + x];
            if (covered == 0) {
                o = {0, 0, 0, 0};
            } else {
                o = {toByte(sr / covered), toByte(sg / covered), toByte(sb / covered),
                     toByte(255.0 * covered / (kSamples * kSamples))};
            }
        }
    }
    return img;
}

std::vector<Rgba> palette(int bpp) {
    std::vector<Rgba> pal;
    if (bpp == 4) {
        static const uint8_t vga[16][3] = {
            {0, 0, 0},     {128, 0, 0},   {0, 128, 0},   {128, 128, 0},   {0, 0, 128},   {128, 0, 128},
            {0, 128, 128}, {192, 192, 192}, {128, 128, 128}, {255, 0, 0}, {0, 255, 0},   {255, 255, 0},
            {0, 0, 255},   {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};
        for (auto &c : vga) pal.push_back({c[0], c[1], c[2], 0});
    } else {
        for (int r = 0; r < 6; ++r)
            for (int g = 0; g < 6; ++g)
                for (int b = 0; b < 6; ++b)
                    pal.push_back({uint8_t(r * 51), uint8_t(g * 51), uint8_t(b * 51), 0});
        // Greys that fall between the cube's levels, for smoother neutrals.
        for (int i = 0; i < 40; ++i) {
            uint8_t v = uint8_t((i + 1) * 255 / 41);
            pal.push_back({v, v, v, 0});
        }
    }
    return pal;
}

int nearest(const std::vector<Rgba> &pal, const Rgba &c) {
    int best = 0;
    long bestDist = -1;
    for (size_t i = 0; i < pal.size(); ++i) {
        long dr = c.r - pal[i].r, dg = c.g - pal[i].g, db = c.b - pal[i].b;
        long d = dr * dr + dg * dg + db * db;
        if (bestDist < 0 || d < bestDist) best = int(i), bestDist = d;
    }
    return best;
}

void put16(std::vector<uint8_t> &v, unsigned x) { v.push_back(x & 0xff), v.push_back((x >> 8) & 0xff); }
void put32(std::vector<uint8_t> &v, uint32_t x) { put16(v, x & 0xffff), put16(v, x >> 16); }
int stride(int bits) { return (bits + 31) / 32 * 4; }

// One icon image: BITMAPINFOHEADER, palette, XOR bitmap, AND mask, rows bottom-up.
std::vector<uint8_t> iconImage(const std::vector<Rgba> &img, int size, int bpp) {
    std::vector<Rgba> pal = bpp < 32 ? palette(bpp) : std::vector<Rgba>();
    int xorStride = stride(size * bpp), andStride = stride(size);
    std::vector<uint8_t> out;
    put32(out, 40);
    put32(out, size);
    put32(out, size * 2);  // XOR and AND bitmaps stacked
    put16(out, 1);
    put16(out, bpp);
    put32(out, 0);  // BI_RGB
    put32(out, (xorStride + andStride) * size);
    put32(out, 0), put32(out, 0), put32(out, 0), put32(out, 0);
    for (const Rgba &c : pal) out.push_back(c.b), out.push_back(c.g), out.push_back(c.r), out.push_back(0);
    for (int y = size - 1; y >= 0; --y) {
        std::vector<uint8_t> row(xorStride, 0);
        for (int x = 0; x < size; ++x) {
            const Rgba &c = img[y * size + x];
            if (bpp == 32) {
                row[x * 4] = c.b, row[x * 4 + 1] = c.g, row[x * 4 + 2] = c.r, row[x * 4 + 3] = c.a;
                continue;
            }
            // Transparent pixels stay index 0 (black) so the AND mask alone decides.
            int idx = c.a < 128 ? 0 : nearest(pal, c);
            if (bpp == 8) row[x] = uint8_t(idx);
            else row[x / 2] |= uint8_t(x % 2 ? idx : idx << 4);
        }
        out.insert(out.end(), row.begin(), row.end());
    }
    for (int y = size - 1; y >= 0; --y) {
        std::vector<uint8_t> row(andStride, 0);
        for (int x = 0; x < size; ++x)
            if (img[y * size + x].a < 128) row[x / 8] |= uint8_t(0x80 >> (x % 8));
        out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}

bool writeIco(const char *path) {
    static const int sizes[] = {48, 32, 16}, depths[] = {32, 8, 4};
    std::vector<std::vector<uint8_t>> images;
    std::vector<int> sz, bp;
    for (int s : sizes) {
        std::vector<Rgba> img = render(s, 0);
        for (int b : depths) images.push_back(iconImage(img, s, b)), sz.push_back(s), bp.push_back(b);
    }
    std::vector<uint8_t> out;
    put16(out, 0), put16(out, 1), put16(out, unsigned(images.size()));
    uint32_t offset = uint32_t(6 + 16 * images.size());
    for (size_t i = 0; i < images.size(); ++i) {
        out.push_back(uint8_t(sz[i])), out.push_back(uint8_t(sz[i]));
        out.push_back(bp[i] == 4 ? 16 : 0), out.push_back(0);
        put16(out, 1), put16(out, bp[i]);
        put32(out, uint32_t(images[i].size())), put32(out, offset);
        offset += uint32_t(images[i].size());
    }
    for (auto &im : images) out.insert(out.end(), im.begin(), im.end());
    FILE *f = std::fopen(path, "wb");
    if (!f) return false;
    bool ok = std::fwrite(out.data(), 1, out.size(), f) == out.size();
    return std::fclose(f) == 0 && ok;
}

const int kLogoSize = 88;
const int kLogoQuality = 84;  // about 3 KB, still clean on the swoosh edge

bool writeJpeg(const char *path) {
    std::vector<Rgba> img = render(kLogoSize, 4);
    std::vector<uint8_t> rgb;
    for (const Rgba &c : img) {
        double a = c.a / 255.0;
        rgb.push_back(toByte(c.r * a + 255 * (1 - a)));
        rgb.push_back(toByte(c.g * a + 255 * (1 - a)));
        rgb.push_back(toByte(c.b * a + 255 * (1 - a)));
    }
    FILE *f = std::fopen(path, "wb");
    if (!f) return false;
    jpeg_compress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, f);
    cinfo.image_width = kLogoSize;
    cinfo.image_height = kLogoSize;
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, kLogoQuality, TRUE);
    cinfo.write_JFIF_header = TRUE;
    cinfo.JFIF_major_version = 1;
    cinfo.JFIF_minor_version = 1;
    cinfo.density_unit = 1;
    cinfo.X_density = 72;
    cinfo.Y_density = 72;
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = &rgb[cinfo.next_scanline * kLogoSize * 3];
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return std::fclose(f) == 0;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <out.ico> <out.jpg>\n", argv[0]);
        return 2;
    }
    if (!writeIco(argv[1])) {
        std::fprintf(stderr, "draw_artwork: cannot write %s\n", argv[1]);
        return 1;
    }
    if (!writeJpeg(argv[2])) {
        std::fprintf(stderr, "draw_artwork: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
