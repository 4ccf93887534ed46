#pragma once

// Resource identifiers shared by the resource script and the window.
#define IDI_TARNWICK 1
#define IDR_LOGO 101
