// Starts tarnwick.exe, saves a picture of its window and closes it again:
// a look at the program on a machine with no display of its own.

#include <algorithm>
#include <cstdio>

#include "tests/e2e/Driver.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fwprintf(stderr, L"usage: tarnwick_show <picture.png>\n");
        return 2;
    }
    std::wstring path = argv[1];
    if (!path.empty() && path[0] == L'/') {  // a Linux path, seen from Wine
        path = L"Z:" + path;
        std::replace(path.begin(), path.end(), L'/', L'\\');
    }
    tarnwick::e2e::App app;
    if (!app.Window()) return 1;
    RECT rect{};
    ::GetWindowRect(app.Window(), &rect);
    tarnwick::e2e::SavePng(tarnwick::e2e::CaptureScreen(rect), path);
    app.Close();
    return app.WaitForExit() == 0u ? 0 : 1;
}
