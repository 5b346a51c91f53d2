// Moves the cursor with the D-pad: the speed grows by one step per report
// while a direction is held, brakes hard against the motion and glides to a
// stop when released.
#pragma once

struct DpadMotionState {
  int hSpeed;  // -16 to 16, positive to the right
  int vSpeed;  // -16 to 16, positive upward
};

DpadMotionState InitialDpadMotionState();

// One pass: reads the cursor and sets it, on every call.
void UpdateDpadMotion(DpadMotionState& dpadState);
