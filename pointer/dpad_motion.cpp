#include "pointer/dpad_motion.h"

#include "platform/platform.h"
#include "remote/remote.h"

namespace {

constexpr int kMaxSpeed = 16;
// Speeds up to this move nothing, so a short tap does not move the cursor.
constexpr int kDeadZone = 2;
// Pressing against the motion divides the speed by this on each pass.
constexpr int kBrake = 4;
// With no direction held the speed halves on each pass.
constexpr int kGlide = 2;

// The four speed rules, each seeing the result of the one before: holding a
// direction speeds up (to kMaxSpeed), pressing against the motion divides it
// by kBrake, and with no direction held it divides by kGlide. Speeding up
// never turns the sign, so at most one rule changes a given speed: each
// direction picks its rule at once.
int NextSpeed(int speed, int dir) {
  if (dir == 0) return speed / kGlide;
  if (dir > 0) return speed < 0 ? speed / kBrake : speed < kMaxSpeed ? speed + 1 : kMaxSpeed;
  return speed > 0 ? speed / kBrake : speed > -kMaxSpeed ? speed - 1 : -kMaxSpeed;
}

int Displacement(int speed) {
  if (speed > kDeadZone) return speed - kDeadZone;
  if (speed < -kDeadZone) return speed + kDeadZone;
  return 0;
}

}  // namespace

DpadMotionState InitialDpadMotionState() { return DpadMotionState{0, 0}; }

void UpdateDpadMotion(DpadMotionState& s) {
  const uint8_t b1 = remoteInput.buttons1;
  // Tested in this order, so down wins over up and left over right.
  int hDir = 0;
  int vDir = 0;
  if (b1 & kButtonUp) vDir = 1;
  if (b1 & kButtonDown) vDir = -1;
  if (b1 & kButtonRight) hDir = 1;
  if (b1 & kButtonLeft) hDir = -1;

  int x = 0;
  int y = 0;
  platform::GetCursorPos(&x, &y);
  s.hSpeed = NextSpeed(s.hSpeed, hDir);
  s.vSpeed = NextSpeed(s.vSpeed, vDir);
  x += Displacement(s.hSpeed);
  y -= Displacement(s.vSpeed);  // upward speed moves toward smaller y
  platform::SetCursorPos(x, y);
}
