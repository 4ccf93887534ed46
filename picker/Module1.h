#pragma once

#include <string>
#include <string_view>

#include "platform/OwnerWindow.h"
#include "platform/Platform.h"

namespace tarnwick::Module1 {

// Asks the user for a folder in the shell's dialog, owned by `owner`.
// Returns a folder path that ends in a backslash, or "" when the user
// cancelled or chose something that is not a file-system folder.
std::wstring PickFolder(Platform& platform, std::wstring prompt, const OwnerWindow& owner);

// Turns the path buffer the shell filled in into the answer: the text up to
// the first NUL, ending in exactly one backslash; a bare "\" means nothing
// was chosen. A buffer with no NUL at all is an invalid argument.
std::wstring NormaliseChosenFolder(std::wstring_view buffer);

}  // namespace tarnwick::Module1
