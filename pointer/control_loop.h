// The tool's main loop: one pass per report from the remote, turning its
// buttons into clicks and wheel turns and running the two cursor stages.
#pragma once

// Wheel amount of one event: 64 units, about half of a 120-unit notch.
constexpr int kWheelStep = 64;

// The loop selects report mode 0x33 again, and sets the camera up again, when
// the remote reports in another mode, sends a status report or acknowledges a
// camera enable that the tool did not send, at most once per this many
// milliseconds: a tenth of a second without pointing goes unnoticed, and a
// driver that answers every selection with a mode of its own gets ten a second.
constexpr int kModeKeepMs = 100;

enum LoopEnd {
  kLoopQuit = 0,         // Home on the remote, or Esc (or a stop request) at the console
  kLoopDeviceLost = 1,   // the remote went away
  kLoopDesktopLost = 2,  // the desktop went away
};

// Runs until the user quits or the remote or the desktop goes away. A mouse
// button that the loop pressed and had not released is released on the way
// out.
LoopEnd RunControlLoop();

// Rumble for 80 ms with the camera left on. The pass stands still meanwhile.
void PulseRumble();
