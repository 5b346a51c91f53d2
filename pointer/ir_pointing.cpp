#include "pointer/ir_pointing.h"

#include "platform/platform.h"
#include "remote/remote.h"

namespace {

// An x of 1023 marks a slot in which the camera sees nothing.
constexpr int kEmptySlot = 1023;
// The camera's centre maps to this pixel, and one camera unit to this many.
constexpr int kCentre = 512;
constexpr int kGain = 3;
// Each pass moves one sixth of the way from the last position to the target.
constexpr int kSmoothing = 6;

}  // namespace

IrPointingState InitialIrPointingState() { return IrPointingState{-1, 0, 0}; }

void UpdateIrPointing(IrPointingState& s) {
  // Until a report with infrared points has come, the point fields hold no
  // points at all.
  if (!remoteInput.irSeen) return;

  const bool tracking =
      remoteInput.ir1X != kEmptySlot && remoteInput.ir2X != kEmptySlot;
  if (!tracking) {
    if (s.irTrackState != 0) {
      s.irTrackState = 0;
      platform::ConsoleWrite("IR-Track NG\n");
    }
    return;
  }
  if (s.irTrackState == 0) {
    s.irTrackState = 1;
    platform::ConsoleWrite("IR-Track Ok\n");
  }

  const int mx = (remoteInput.ir1X + remoteInput.ir2X) / 2;
  const int my = (remoteInput.ir1Y + remoteInput.ir2Y) / 2;
  // The camera sees the lights move the other way when the remote turns
  // right, so the horizontal axis is mirrored; its y already grows downward.
  const int tx = kCentre + kGain * (kCentre - mx);
  const int ty = kCentre + kGain * (my - kCentre);
  if (s.prevX == 0 && s.prevY == 0) {
    s.prevX = tx;
    s.prevY = ty;
  }
  const int sx = ((kSmoothing - 1) * s.prevX + tx) / kSmoothing;
  const int sy = ((kSmoothing - 1) * s.prevY + ty) / kSmoothing;
  platform::SetCursorPos(sx, sy);
  s.prevX = sx;
  s.prevY = sy;
}
