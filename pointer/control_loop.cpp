#include "pointer/control_loop.h"

#include "platform/platform.h"
#include "pointer/dpad_motion.h"
#include "pointer/ir_pointing.h"
#include "remote/remote.h"

namespace {

struct ButtonState {
  int rightButtonDown;
  int leftButtonDown;
  int plusHeld;
  int minusHeld;
};

void MouseButton(uint32_t flags) { platform::MouseEvent(flags, 0); }

void Wheel(int32_t amount) { platform::MouseEvent(platform::kMouseWheel, amount); }

// A held button gives one press; its release one release.
void Click(bool held, int* down, uint32_t pressFlags, uint32_t releaseFlags) {
  if (held && *down == 0) {
    MouseButton(pressFlags);
    *down = 1;
  } else if (!held && *down == 1) {
    MouseButton(releaseFlags);
    *down = 0;
  }
}

// A press gives one rumble pulse and one wheel event, however long it is held.
void WheelStepOnPress(bool held, int* wasHeld, int32_t amount) {
  if (held && *wasHeld == 0) {
    PulseRumble();
    Wheel(amount);
    *wasHeld = 1;
  } else if (!held) {
    *wasHeld = 0;
  }
}

void ButtonActions(ButtonState* s) {
  const uint8_t b1 = remoteInput.buttons1;
  const uint8_t b2 = remoteInput.buttons2;
  Click((b2 & kButtonA) != 0, &s->rightButtonDown, platform::kMouseRightDown,
        platform::kMouseRightUp);
  Click((b2 & kButtonB) != 0, &s->leftButtonDown, platform::kMouseLeftDown,
        platform::kMouseLeftUp);
  if (b2 & kButtonOne) Wheel(kWheelStep);
  if (b2 & kButtonTwo) Wheel(-kWheelStep);
  WheelStepOnPress((b1 & kButtonPlus) != 0, &s->plusHeld, -kWheelStep);
  WheelStepOnPress((b2 & kButtonMinus) != 0, &s->minusHeld, kWheelStep);
}

// Home alone ends the run; the accelerometer bits that share its byte do not
// count, any other button of that byte held with it does.
bool HomeAlone(uint8_t buttons2) {
  return (buttons2 & static_cast<uint8_t>(~kAccelBits)) == kButtonHome;
}

void ReleaseButtons(ButtonState* s) {
  if (s->rightButtonDown) MouseButton(platform::kMouseRightUp);
  if (s->leftButtonDown) MouseButton(platform::kMouseLeftUp);
  s->rightButtonDown = 0;
  s->leftButtonDown = 0;
}

LoopEnd RunPasses(ButtonState* s) {
  IrPointingState irState = InitialIrPointingState();
  DpadMotionState dpadState = InitialDpadMotionState();
  // Set while the report mode that a status report asks for has not reached
  // the remote: it is sent again after every read that brings nothing, and
  // the read is bounded meanwhile, for the remote sends nothing until then.
  bool modeWanted = false;
  for (;;) {
    if (platform::KeyWaiting() && platform::ReadKey() == platform::kKeyEsc) {
      return kLoopQuit;
    }
    if (platform::DesktopLost()) return kLoopDesktopLost;
    const PollResult poll =
        PollInput(modeWanted ? platform::kModeResendMs : platform::kNoTimeLimit);
    if (poll == kPollDeviceLost) return kLoopDeviceLost;
    if (poll == kPollNoReport) {  // nothing to act on; the checks above look again
      if (modeWanted) modeWanted = SetReportMode(0x00, kModeButtonsAccelIr) < 0;
      continue;
    }
    // A status report that the remote sent on its own stops its data reports
    // until the mode is selected again. The pass goes on as for any report
    // without data.
    if (IsStatusReport(inputReport, readResultSlot)) {
      modeWanted = SetReportMode(0x00, kModeButtonsAccelIr) < 0;
    }
    if (HomeAlone(remoteInput.buttons2)) return kLoopQuit;
    ButtonActions(s);
    UpdateIrPointing(irState);
    UpdateDpadMotion(dpadState);
  }
}

}  // namespace

void PulseRumble() {
  SetIrEnable(0x05);  // camera on, rumble on
  platform::WaitMilliseconds(80);
  SetIrEnable(0x04);  // camera on, rumble off
}

LoopEnd RunControlLoop() {
  ButtonState buttons = {0, 0, 0, 0};
  const LoopEnd end = RunPasses(&buttons);
  ReleaseButtons(&buttons);
  return end;
}
