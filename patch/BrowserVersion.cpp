#include "patch/BrowserVersion.h"

#include "platform/Decimal.h"

namespace tarnwick {

TweakEffect TweakEffectOn(const FileVersion& version) {
    if (version.major >= 54) return TweakEffect::NoPipelining;
    if (version.major >= 46) return TweakEffect::NotCopiedIntoProfiles;
    return TweakEffect::Works;
}

std::wstring VersionText(const FileVersion& version) {
    std::wstring text = DecimalText(version.major) + L"." + DecimalText(version.minor);
    if (version.build || version.revision) text += L"." + DecimalText(version.build);
    if (version.revision) text += L"." + DecimalText(version.revision);
    return text;
}

std::wstring PatchAnywayText(const FileVersion& version) {
    const std::wstring found = L"The Firefox in this folder is version " + VersionText(version) + L". ";
    const std::wstring why =
        TweakEffectOn(version) == TweakEffect::NoPipelining
            ? L"Since version 54, Firefox has no HTTP pipelining at all, so it would ignore the tweak."
            : L"Since version 46, Firefox no longer copies this tweak's file into new profiles, so it "
              L"would ignore the tweak.";
    return found + why + L"\n\nPatch anyway?";
}

}  // namespace tarnwick
