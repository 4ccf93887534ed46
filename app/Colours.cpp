#include "app/Colours.h"

#include <algorithm>
#include <cmath>

namespace tarnwick {

namespace {
double Linear(unsigned char channel) {
    const double c = channel / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}
}  // namespace

double RelativeLuminance(Rgb colour) {
    return 0.2126 * Linear(colour.red) + 0.7152 * Linear(colour.green) + 0.0722 * Linear(colour.blue);
}

double ContrastRatio(Rgb a, Rgb b) {
    const double la = RelativeLuminance(a);
    const double lb = RelativeLuminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

bool UsesSystemPair(bool highContrast, Rgb windowText) {
    return highContrast || ContrastRatio(windowText, Rgb{255, 255, 255}) < ReadableContrast;
}

}  // namespace tarnwick
