#pragma once

namespace tarnwick {

// Milestones of start-up, timed by the benchmark's own build of the program
// (TARNWICK_TIME_STAGES). In the program itself they compile to nothing.
enum class Stage { Entry, WindowCreated, FirstPainted };

// What the window is made of, for the benchmark's build to leave out one at
// a time (TARNWICK_LEAVE_OUT sets their bits) and so find what each one costs.
// The program itself leaves out nothing, and the checks compile away.
// A label left out is drawn by the window itself, in the same font and colours.
enum class Piece { Icon, Centring, Label1, Label2, Text1, Logo, LabelFont, ItalicFont, MessageFont,
                   Subclassing };

#if defined(TARNWICK_TIME_STAGES)
void MarkStage(Stage stage) noexcept;
bool LeftOut(Piece piece) noexcept;
inline constexpr bool CanLeaveOut = true;
#else
inline void MarkStage(Stage) noexcept {}
constexpr bool LeftOut(Piece) noexcept { return false; }
inline constexpr bool CanLeaveOut = false;
#endif

}  // namespace tarnwick
