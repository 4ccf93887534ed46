#pragma once

namespace tarnwick {

// The window's layout in twips (1/1440 inch), and the arithmetic that turns
// it into pixels at a DPI. No window system in here.
struct Twips {
    int left, top, width, height;
};
struct Pixels {
    int left, top, width, height;
};

inline constexpr int ClientWidthTwips = 4050;
inline constexpr int ClientHeightTwips = 1290;
inline constexpr Twips Command1Box{2640, 840, 1335, 375};
inline constexpr Twips Text1Box{120, 1560, 5175, 2085};
inline constexpr Twips Label2Box{1440, 120, 2535, 855};
inline constexpr Twips Label1Box{1200, 960, 1335, 255};
inline constexpr Twips Image1Box{0, 0, 1320, 1320};

// Rounded to the nearest pixel, halves away from zero, as MulDiv rounds.
int PixelsOf(int twips, unsigned dpi);
Pixels PixelsOf(const Twips& box, unsigned dpi);

// Whether a point lies in a box, as windows are hit: its left and top edges
// in, its right and bottom edges out.
bool Contains(const Pixels& box, int x, int y);

// What the frame adds around the client area, for the window's styles at
// its DPI, as the system reports it.
struct FrameMargins {
    int left, top, right, bottom;
};

// The frame for a client area of the form's size at `dpi`, centred in the
// work area of its monitor. A frame larger than the work area keeps its
// caption on screen: it starts at the work area's top-left corner.
Pixels FramePlacement(unsigned dpi, const FrameMargins& margins, const Pixels& workArea);

// A font height read from the system's metrics, which are at the system
// DPI, made right for a window at `dpi`.
int FontHeightFor(int systemHeight, unsigned dpi, unsigned systemDpi);

// The link's focus rectangle: its text's box with a pixel to spare at 96
// DPI (as much in inches at `dpi`), kept inside the label.
Pixels FocusRectAround(const Pixels& text, int labelWidth, int labelHeight, unsigned dpi);

// How many of the system's focus frames, each inside the last, draw the
// line as thick at `dpi` as the system draws it at its own DPI.
int FocusFramesAt(unsigned dpi, unsigned systemDpi);

}  // namespace tarnwick
