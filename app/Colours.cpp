#include "app/Colours.h"

#include <algorithm>

namespace tarnwick {

namespace {
// x to the power 2.4, for x in (0, 1]: x squared, times the fifth root of x
// squared, found by Newton's method from above. The C library's pow would
// cost the program two kilobytes for this one use.
double ToThePower2Point4(double x) {
    const double square = x * x;
    double root = 1.0;
    for (int step = 0; step < 60; ++step) {
        const double fourth = root * root * root * root;
        root = (4.0 * root + square / fourth) / 5.0;
    }
    return square * root;
}

double Linear(unsigned char channel) {
    const double c = channel / 255.0;
    return c <= 0.04045 ? c / 12.92 : ToThePower2Point4((c + 0.055) / 1.055);
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
