#include "app/Layout.h"

#include <algorithm>

namespace tarnwick {

namespace {
int Scale(int value, unsigned by, unsigned over) {
    const long long product = static_cast<long long>(value) * by;
    const long long half = over / 2;
    return static_cast<int>(product >= 0 ? (product + half) / over : -((-product + half) / over));
}
}  // namespace

int PixelsOf(int twips, unsigned dpi) { return Scale(twips, dpi, 1440); }

Pixels PixelsOf(const Twips& box, unsigned dpi) {
    return {PixelsOf(box.left, dpi), PixelsOf(box.top, dpi), PixelsOf(box.width, dpi),
            PixelsOf(box.height, dpi)};
}

bool Contains(const Pixels& box, int x, int y) {
    return x >= box.left && x < box.left + box.width && y >= box.top && y < box.top + box.height;
}

Pixels FramePlacement(unsigned dpi, const FrameMargins& margins, const Pixels& workArea) {
    const int width = PixelsOf(ClientWidthTwips, dpi) + margins.left + margins.right;
    const int height = PixelsOf(ClientHeightTwips, dpi) + margins.top + margins.bottom;
    const int left = workArea.left + std::max(0, (workArea.width - width) / 2);
    const int top = workArea.top + std::max(0, (workArea.height - height) / 2);
    return {left, top, width, height};
}

int FontHeightFor(int systemHeight, unsigned dpi, unsigned systemDpi) {
    return systemDpi ? Scale(systemHeight, dpi, systemDpi) : systemHeight;
}

Pixels FocusRectAround(const Pixels& text, int labelWidth, int labelHeight, unsigned dpi) {
    const int spare = std::max(1, PixelsOf(15, dpi));
    const int left = std::max(0, text.left - spare);
    const int top = std::max(0, text.top - spare);
    const int right = std::min(labelWidth, text.left + text.width + spare);
    const int bottom = std::min(labelHeight, text.top + text.height + spare);
    return {left, top, right - left, bottom - top};
}

int FocusFramesAt(unsigned dpi, unsigned systemDpi) {
    return systemDpi ? std::max(1, Scale(1, dpi, systemDpi)) : 1;
}

}  // namespace tarnwick
