#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/Platform.h"

namespace tarnwick {

// What a browser of a given version makes of the tweak. Versions 46 on no
// longer copy the program folder's profile defaults into new profiles, and
// versions 54 on have no HTTP pipelining at all.
enum class TweakEffect { Works, NotCopiedIntoProfiles, NoPipelining };

TweakEffect TweakEffectOn(const FileVersion& version);

// The product version in the version block of a program file, given as the
// whole file's bytes (PE32 or PE32+); none when it has no version block or
// is malformed in any way. The file may come from anyone, so every field is
// read with a bounds check and nothing in it is trusted.
std::optional<FileVersion> ProductVersionOfImage(std::string_view image);

// "46.0", "45.0.2", "133.0.3": major and minor always, the rest when set.
std::wstring VersionText(const FileVersion& version);

// The question asked before patching a browser that would ignore the tweak.
std::wstring PatchAnywayText(const FileVersion& version);

}  // namespace tarnwick
