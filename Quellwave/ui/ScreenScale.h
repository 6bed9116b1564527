#pragma once
// The scale the program gives itself: on a screen larger than its panel it starts again with Qt's scale
// factor (QT_SCALE_FACTOR) set, and hands the screen's size in pixels, measured before the restart, to the
// scaled start in this variable. Its presence also marks the scale factor as the program's own rather
// than the user's, so that the programs it starts do not inherit it.
#include <QProcessEnvironment>
#include <QSize>

namespace ui {

inline constexpr char kScreenPixelsVariable[] = "QUELLWAVE_SCREEN_PIXELS";

// Sets the scale factor and the screen's size in pixels for the program's scaled start.
void SetScaleForRestart(double factor, QSize screenPixels);
// The screen's size in pixels handed over by the start before this one; empty when the program did not
// scale itself (or the value is not a size).
QSize ScreenPixelsFromRestart();
// The environment for a program this one starts: this one's, without the scale it gave itself.
QProcessEnvironment ChildEnvironment();

} // namespace ui
