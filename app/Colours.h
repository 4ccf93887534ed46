#pragma once

namespace tarnwick {

struct Rgb {
    unsigned char red, green, blue;
};

// WCAG 2: relative luminance of an sRGB colour, and the contrast ratio of
// two colours, (L1 + 0.05) / (L2 + 0.05) with L1 the lighter, 1 to 21.
double RelativeLuminance(Rgb colour);
double ContrastRatio(Rgb a, Rgb b);

// Below this, text is hard to read (WCAG 2, level AA for normal text).
inline constexpr double ReadableContrast = 4.5;

// The window keeps its white ground and draws its labels in the system's
// window-text colour, unless high contrast is on or that colour is hard to
// read on white: then it takes the system's own pair, window text on window.
bool UsesSystemPair(bool highContrast, Rgb windowText);

}  // namespace tarnwick
