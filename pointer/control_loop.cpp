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

// Keeps the remote in report mode 0x33. Something else may select another
// mode (the kernel's own driver for the remote does when its input devices are
// opened or closed and when it sees a status report), and a status report stops
// the remote's data reports until a mode is selected. The loop then selects
// 0x33 again, at most once per kModeKeepMs on the high-resolution counter, so
// that a driver that keeps answering with a mode of its own costs a few
// reports a second, not one per report. The set-up's own selection, just
// before the loop, counts as the first: data reports of another mode queued
// before it took effect are left alone as long as reports of 0x33 follow.
struct ModeKeeper {
  bool afterStatus;   // a status report came: mode and LEDs are to be sent
  bool otherMode;     // a data report of another mode came, and no 0x33 since
  bool selected;      // the loop has selected the mode itself
  int64_t lastCount;  // counter at the loop's last selection, or at its start
};

void NoteReport(ModeKeeper* k) {
  if (IsStatusReport(inputReport, readResultSlot)) {
    k->afterStatus = true;
  } else if (readResultSlot >= 1 && (inputReport[0] & 0xF0) == 0x30) {
    k->otherMode = inputReport[0] != kModeButtonsAccelIr;
  }
}

// Selects the mode when one is wanted and the last selection is long enough
// ago; the first status report of the loop is answered at once. After a
// status report LED 1 is set again too: whoever made the remote send it may
// have set the LEDs, the tool reads nothing of them, and the report is cheap
// and has no answer. A selection that does not reach the remote is tried again
// after the same interval.
bool SelectionWanted(const ModeKeeper* k) { return k->afterStatus || k->otherMode; }

// Counter ticks until the next selection may be made (zero or less: now).
int64_t TicksUntilSelection(const ModeKeeper* k, int64_t now, int64_t frequency) {
  return k->lastCount + kModeKeepMs * frequency / 1000 - now;
}

void KeepReportMode(ModeKeeper* k) {
  if (!SelectionWanted(k)) return;
  const int64_t now = platform::QueryCounter();
  const bool due = TicksUntilSelection(k, now, platform::QueryFrequency()) <= 0 ||
                   (k->afterStatus && !k->selected);
  if (!due) return;
  k->lastCount = now;
  k->selected = true;
  if (SetReportMode(0x00, kModeButtonsAccelIr) < 0) return;
  if (k->afterStatus) SetLeds(kLedOne);
  k->afterStatus = false;
  k->otherMode = false;
}

// How long the read may wait: without a limit, unless a selection is wanted
// (the remote may send nothing until it has one); then until the selection is
// due, so that each try costs one wake-up.
int ModeWaitMs(const ModeKeeper* k) {
  if (!SelectionWanted(k)) return platform::kNoTimeLimit;
  const int64_t frequency = platform::QueryFrequency();
  const int64_t left = TicksUntilSelection(k, platform::QueryCounter(), frequency);
  if (left <= 0) return 1;
  return static_cast<int>((left * 1000 + frequency - 1) / frequency);
}

LoopEnd RunPasses(ButtonState* s) {
  IrPointingState irState = InitialIrPointingState();
  DpadMotionState dpadState = InitialDpadMotionState();
  ModeKeeper keeper = {false, false, false, platform::QueryCounter()};
  for (;;) {
    if (platform::KeyWaiting() && platform::ReadKey() == platform::kKeyEsc) {
      return kLoopQuit;
    }
    if (platform::DesktopLost()) return kLoopDesktopLost;
    const PollResult poll = PollInput(ModeWaitMs(&keeper));
    if (poll == kPollDeviceLost) return kLoopDeviceLost;
    if (poll == kPollReport) NoteReport(&keeper);
    KeepReportMode(&keeper);
    if (poll == kPollNoReport) continue;  // nothing to act on; the checks above look again
    // A report without data (a status report among them) runs its pass as
    // any report does, on the buttons as they were.
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
