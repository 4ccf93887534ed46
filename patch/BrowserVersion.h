#pragma once

#include <string>

#include "platform/Platform.h"

namespace tarnwick {

// What a browser of a given version makes of the tweak. Versions 46 on no
// longer copy the program folder's profile defaults into new profiles, and
// versions 54 on have no HTTP pipelining at all.
enum class TweakEffect { Works, NotCopiedIntoProfiles, NoPipelining };

TweakEffect TweakEffectOn(const FileVersion& version);

// "46.0", "45.0.2", "133.0.3": major and minor always, the rest when set.
std::wstring VersionText(const FileVersion& version);

// The question asked before patching a browser that would ignore the tweak.
std::wstring PatchAnywayText(const FileVersion& version);

}  // namespace tarnwick
