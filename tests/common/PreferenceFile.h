#pragma once

#include <string>

namespace tarnwick::expected {

// The bytes a patch must leave in user.js, spelled out independently of the
// program's own payload constant: 175 bytes of text, then the closing CR LF.
inline const std::string ExpectedPreferenceFile =
    "// Enable pipelining:\r\n"
    "user_pref(\"network.http.pipelining\", true);\r\n"
    "user_pref(\"network.http.proxy.pipe lining\", true);\r\n"
    "user_pref(\"network.http.pipelining.maxrequests\", 100)\r\n"
    "\r\n";

}  // namespace tarnwick::expected
