#pragma once

#include <cstdint>
#include <optional>

namespace tarnwick {

// Windows' own numbers for 32-bit x86: the machine of an image
// (IMAGE_FILE_MACHINE_I386) and the processor architecture of the system
// (PROCESSOR_ARCHITECTURE_INTEL).
inline constexpr std::uint16_t MachineI386 = 0x014c;
inline constexpr std::uint16_t ArchitectureIntel = 0;

// Whether Windows has a Program Files of its own for 32-bit programs,
// "Program Files (x86)": every 64-bit Windows does, x64 and ARM64 alike.
// `nativeMachine` is what IsWow64Process2 says Windows runs on, where it
// exists (Windows 10 1709 on, the first to run x86 code on ARM64); it comes
// first, since on ARM64 GetNativeSystemInfo tells emulated code of the
// processor it emulates. Otherwise `nativeArchitecture`, from that.
constexpr bool HasX86ProgramFilesOn(std::optional<std::uint16_t> nativeMachine,
                                    std::uint16_t nativeArchitecture) {
    return nativeMachine ? *nativeMachine != MachineI386 : nativeArchitecture != ArchitectureIntel;
}

}  // namespace tarnwick
