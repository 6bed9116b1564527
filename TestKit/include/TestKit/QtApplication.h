// One QApplication for the whole test program: made before the first test, destroyed after the last, on
// the offscreen platform unless the environment names another. Linking the kit's Qt part is all a suite
// does to get it. A suite that needs more around it (the program's resources loaded, its folder as the
// working folder) adds steps run once the application exists and again just before it goes.
#pragma once

#include <functional>

namespace testkit {

// Call from a static initialiser (`const bool kSteps = AddQtApplicationSteps(...)`): set-up steps run in
// the order added, tear-down steps in reverse. Returns true, for that initialiser.
bool AddQtApplicationSteps(std::function<void()> setUp, std::function<void()> tearDown = {});

} // namespace testkit
