#pragma once

#include <string_view>

namespace tarnwick {

// The preferences the tweak writes: 175 characters, CR LF line ends. The
// space in "pipe lining" and the missing semicolon of the last line are part
// of the file as shipped and are kept byte for byte.
inline constexpr std::wstring_view PreferencePayload =
    L"// Enable pipelining:\r\n"
    L"user_pref(\"network.http.pipelining\", true);\r\n"
    L"user_pref(\"network.http.proxy.pipe lining\", true);\r\n"
    L"user_pref(\"network.http.pipelining.maxrequests\", 100)\r\n";

static_assert(PreferencePayload.size() == 175);

}  // namespace tarnwick
