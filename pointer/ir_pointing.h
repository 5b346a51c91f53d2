// Places the cursor where the remote points: at the mirrored, scaled and
// smoothed midpoint of the two infrared lights that its camera sees.
#pragma once

struct IrPointingState {
  int irTrackState;  // -1 nothing announced yet, 0 loss announced, 1 tracking announced
  int prevX;         // the smoothed position set last
  int prevY;
};

IrPointingState InitialIrPointingState();

// One pass: may print "IR-Track Ok" or "IR-Track NG" and may place the cursor.
void UpdateIrPointing(IrPointingState& irState);
