#pragma once

// Resource identifiers shared by the resource script and the window.
#define IDI_TARNWICK 1
#define IDR_LOGO 101  // the logo as drawn: a JPEG
#define IDB_LOGO 102  // the same, decoded by the build: what the window shows
