#pragma once

namespace tarnwick {

// Milestones of start-up, timed by the benchmark's own build of the program
// (TARNWICK_TIME_STAGES). In the program itself they compile to nothing.
enum class Stage { Entry, WindowCreated, FirstPainted };

#if defined(TARNWICK_TIME_STAGES)
void MarkStage(Stage stage) noexcept;
#else
inline void MarkStage(Stage) noexcept {}
#endif

}  // namespace tarnwick
