#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "patch/PatchEngine.h"
#include "platform/Platform.h"

namespace tarnwick {

// Exit codes of a run with switches.
namespace ExitCode {
constexpr int Done = 0;
constexpr int Failed = 1;
constexpr int NotUnderstood = 2;
constexpr int NoBrowser = 3;
constexpr int VersionWouldIgnoreIt = 4;
// Another run kept the browser's folder for over a minute: try again later.
constexpr int AnotherRunInProgress = 1618;
}  // namespace ExitCode

// However a step is blocked, no run lasts longer than this: well past the
// minute a run waits for another, so only a step that never ends meets it.
inline constexpr std::chrono::milliseconds RunLimit{5 * 60 * 1000};

// The time the watchdog gives its last word before it ends the run.
inline constexpr std::chrono::milliseconds LastWordLimit{2000};

// What a run that met the limit says: what it was stuck on, then what it
// had done.
std::wstring RunLimitText(const std::wstring& stuckOn, const Done& done);
// Its exit code: 1618, try again, while it had changed nothing; 1 otherwise.
int RunLimitExitCode(bool changed);

// The answer a command line gives to each of the engine's messages, the
// way a person would have at the window.
int UnattendedAnswer(Prompt prompt, const CommandLine& command);

// Once the watchdog has fired, the run does nothing more: its last word is
// under way and the program ends with it. Messages are answered meanwhile.
[[noreturn]] void AwaitTheWatchdog(Platform& platform);

// Runs the command with no window and no box: the engine's questions are
// answered from the switches. Writes one line per outcome to `output` and
// returns the exit code. Nothing escapes it.
int RunUnattended(Platform& platform, const std::vector<std::wstring>& arguments,
                  Output& output) noexcept;

}  // namespace tarnwick
