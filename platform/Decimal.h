#pragma once

#include <string>

namespace tarnwick {

// A whole number in decimal digits. std::to_wstring would bring the C
// library's whole formatted printing into a static build (about 20 KB).
inline std::wstring DecimalText(long long value) {
    const bool negative = value < 0;
    unsigned long long magnitude =
        negative ? 0ull - static_cast<unsigned long long>(value) : static_cast<unsigned long long>(value);
    wchar_t digits[24];
    wchar_t* at = digits + 24;
    do {
        *--at = static_cast<wchar_t>(L'0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude);
    if (negative) *--at = L'-';
    return std::wstring(at, digits + 24);
}

}  // namespace tarnwick
