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
  uint8_t activeBefore;  // which of the acting buttons the last pass saw held
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

// The buttons that act, in each byte.
constexpr uint8_t kActionButtons1 = kButtonPlus;
constexpr uint8_t kActionButtons2 = kButtonA | kButtonB | kButtonOne | kButtonTwo | kButtonMinus;

void ButtonActions(ButtonState* s) {
  const uint8_t b1 = remoteInput.buttons1;
  const uint8_t b2 = remoteInput.buttons2;
  // Most passes: none of them held now, and none the pass before, which
  // released whatever was down.
  const uint8_t active = (b1 & kActionButtons1) | (b2 & kActionButtons2);
  if ((active | s->activeBefore) == 0) return;
  s->activeBefore = active;
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

// Keeps the remote in report mode 0x33 with its camera set up as the tool set
// it up. Something else may change either: the kernel's own driver for the
// remote selects modes of its own when its input devices are opened or closed
// and when it sees a status report, and a program that opens the driver's
// infrared device makes the driver switch the camera on in a point format of
// its own; closing it switches the camera off. A status report also stops the
// remote's data reports until a mode is selected.
//
// What the loop takes as a sign:
// - a status report: the mode is selected again and LED 1 set; if its flags
//   say the camera is off, the camera is set up again first;
// - a data report of a mode other than 0x33, or an acknowledgement of a camera
//   enable (0x13, 0x1A), which the tool never asks for: the camera is set up
//   again. Acknowledgements of register writes (0x16) are no sign: the remote
//   acknowledges every write, the tool's own among them, and the driver
//   writes an extension's registers every few seconds without touching the
//   camera.
// The camera goes back to the tool's set-up in one go (both enables, the
// enable register, sensitivity and mode registers), with mode 0x33 selected
// last, so that the remote sends no report 0x33 before its camera is ready.
// The driver sets the camera up the same way, in one burst with no pauses, so
// the start-up's 200 ms pauses are not needed here and the loop never stands
// still. A sign is answered at most once per kModeKeepMs on the
// high-resolution counter, so that a driver that keeps answering with a mode
// of its own costs a few reports a second, not one per report; the first
// unmistakable sign of the loop (a status report, an acknowledgement it did
// not ask for) is answered at once. The set-up's own selection, just before
// the loop, counts as the first: data reports of another mode queued before it
// took effect are left alone as long as reports of 0x33 follow. Nothing is
// sent while no sign came.
//
// From a sign that the camera changed until kModeKeepMs after the camera's
// set-up went out, the points of reports 0x33 are not trusted and the infrared
// stage is left out: meanwhile the camera may be off, half set up or in
// another party's point format, and reports sent before the set-up reached
// the remote may still be on their way. The D-pad goes on.
//
// The same holds for the reports that wait to be read when the loop begins:
// the remote sent them while the start-up set the camera up, in whatever
// point format the camera had before (another party, the kernel's driver
// among them, may have left it in its own). The loop reads them without a
// wait and leaves their points out until the first read finds nothing
// waiting; from then on every report is one the remote sent since. No queue
// holds more than kQueuedReportsMax reports, so a remote that never lets a
// read find nothing waiting has its points taken after that many.

// The signs that came and are not answered yet, as bits: the loop asks on
// every pass whether any is there, and one test answers it.
constexpr uint8_t kSignStatus = 0x01;     // a status report: mode and LEDs are to be sent
constexpr uint8_t kSignCamera = 0x02;     // the camera's set-up is gone
constexpr uint8_t kSignOtherMode = 0x04;  // a data report of another mode, and no 0x33 since
constexpr uint8_t kSignQueued = 0x08;     // reports of the set-up's time may still wait
constexpr uint8_t kCameraSigns = kSignCamera | kSignOtherMode;
constexpr uint8_t kSelectionSigns = kSignStatus | kCameraSigns;
// The most reports that wait for a reader: the kernel's hidraw keeps 64 for
// each, Windows' HID class driver 32 unless told otherwise.
constexpr int kQueuedReportsMax = 64;

struct ModeKeeper {
  uint8_t signs;       // kSign... bits
  bool selected;       // the loop has sent something itself
  int64_t lastCount;   // counter at the loop's last sending, or at its start
  int64_t trustCount;  // counter from which points are trusted again; 0: no hold
  int queuedReports;   // reports read while kSignQueued was set
};

void NoteReport(ModeKeeper* k) {
  const int length = readResultSlot;
  if (length >= 1 && inputReport[0] == kModeButtonsAccelIr) {  // the report of nearly every pass
    k->signs &= static_cast<uint8_t>(~kSignOtherMode);
  } else if (IsStatusReport(inputReport, length)) {
    k->signs |= kSignStatus;
    if (length >= 4 && (inputReport[3] & kStatusCameraOn) == 0) k->signs |= kSignCamera;
  } else if (length >= 4 && inputReport[0] == kReportAcknowledge) {
    if (inputReport[3] == 0x13 || inputReport[3] == 0x1A) k->signs |= kSignCamera;
  } else if (length >= 1 && (inputReport[0] & 0xF0) == 0x30) {
    k->signs |= kSignOtherMode;
  }
}

bool CameraWanted(const ModeKeeper* k) { return (k->signs & kCameraSigns) != 0; }

bool SelectionWanted(const ModeKeeper* k) { return (k->signs & kSelectionSigns) != 0; }

// The interval kModeKeepMs in counter ticks.
int64_t KeepTicks(int64_t frequency) { return kModeKeepMs * frequency / 1000; }

// Counter ticks until the next selection may be made (zero or less: now).
int64_t TicksUntilSelection(const ModeKeeper* k, int64_t now, int64_t frequency) {
  return k->lastCount + KeepTicks(frequency) - now;
}

// Sends what a sign asks for once it is due. LED 1 is set again after a
// status report: whoever made the remote send it may have set the LEDs, the
// tool reads nothing of them, and the report is cheap and has no answer. A
// sending whose mode selection does not reach the remote is tried again after
// the same interval.
void KeepReportMode(ModeKeeper* k) {
  if (!SelectionWanted(k)) return;
  const int64_t now = platform::QueryCounter();
  const int64_t frequency = platform::QueryFrequency();
  const bool due = TicksUntilSelection(k, now, frequency) <= 0 ||
                   ((k->signs & (kSignStatus | kSignCamera)) != 0 && !k->selected);
  if (!due) return;
  k->lastCount = now;
  k->selected = true;
  if (CameraWanted(k)) {
    SendCameraEnables();
    SendCameraSettings();
    k->trustCount = now + KeepTicks(frequency);
  }
  if (SetReportMode(0x00, kModeButtonsAccelIr) < 0) return;
  if (k->signs & kSignStatus) SetLeds(kLedOne);
  k->signs &= kSignQueued;
}

// The counter is read only while a hold runs, not on every pass.
bool PointsTrusted(ModeKeeper* k) {
  if (k->signs & (kCameraSigns | kSignQueued)) {
    if ((k->signs & kSignQueued) && ++k->queuedReports >= kQueuedReportsMax) {
      k->signs &= static_cast<uint8_t>(~kSignQueued);
    }
    return false;
  }
  if (k->trustCount == 0) return true;
  if (platform::QueryCounter() < k->trustCount) return false;
  k->trustCount = 0;
  return true;
}

// How long the read may wait: not at all while reports of the set-up's time
// may wait; without a limit, unless a selection is wanted (the remote may
// send nothing until it has one); then until the selection is due, so that
// each try costs one wake-up.
int ModeWaitMs(const ModeKeeper* k) {
  if (k->signs == 0) return platform::kNoTimeLimit;
  if (k->signs & kSignQueued) return 0;
  if (!SelectionWanted(k)) return platform::kNoTimeLimit;
  const int64_t frequency = platform::QueryFrequency();
  const int64_t left = TicksUntilSelection(k, platform::QueryCounter(), frequency);
  if (left <= 0) return 1;
  return static_cast<int>((left * 1000 + frequency - 1) / frequency);
}

LoopEnd RunPasses(ButtonState* s) {
  IrPointingState irState = InitialIrPointingState();
  DpadMotionState dpadState = InitialDpadMotionState();
  ModeKeeper keeper = {kSignQueued, false, platform::QueryCounter(), 0, 0};
  for (;;) {
    if (platform::KeyWaiting() && platform::ReadKey() == platform::kKeyEsc) {
      return kLoopQuit;
    }
    if (platform::DesktopLost()) return kLoopDesktopLost;
    const PollResult poll = PollInput(ModeWaitMs(&keeper));
    if (poll == kPollDeviceLost) return kLoopDeviceLost;
    if (poll == kPollReport) NoteReport(&keeper);
    KeepReportMode(&keeper);
    if (poll == kPollNoReport) {
      // Nothing waited: whatever comes next, the remote sent since.
      keeper.signs &= static_cast<uint8_t>(~kSignQueued);
      continue;  // nothing to act on; the checks above look again
    }
    // A report without data (a status report among them) runs its pass as
    // any report does, on the buttons as they were.
    if (HomeAlone(remoteInput.buttons2)) return kLoopQuit;
    ButtonActions(s);
    if (PointsTrusted(&keeper)) UpdateIrPointing(irState);
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
  ButtonState buttons = {0, 0, 0, 0, 0};
  const LoopEnd end = RunPasses(&buttons);
  ReleaseButtons(&buttons);
  return end;
}
