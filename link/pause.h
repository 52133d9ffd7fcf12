#pragma once
// The one pause of the program: the 10 ms after each command and the fixed waits of the
// panel's actions all go through Pause, so that tests can replace it.

#include <functional>

using PauseFunction = std::function<void(int milliseconds)>;

// Blocks the calling thread for the given time (or runs the installed replacement).
void Pause(int milliseconds);

// Installs a replacement (an empty function restores the real sleep); returns the previous one.
// Install from the thread that calls Pause, while no pause is running.
PauseFunction SetPauseFunction(PauseFunction replacement);
