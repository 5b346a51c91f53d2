// The control loop: button actions, the ways it ends, and what it does while
// the remote sends nothing.
#include <gmock/gmock.h>

#include <algorithm>

#include "pointer/control_loop.h"
#include "tests/support.h"

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

namespace {

// The loop's effects as timeline lines.
const char kLeftDown[] = "mouse 0002 0";
const char kLeftUp[] = "mouse 0004 0";
const char kRightDown[] = "mouse 0008 0";
const char kRightUp[] = "mouse 0010 0";
const char kWheelUp[] = "mouse 0800 64";
const char kWheelDown[] = "mouse 0800 -64";
const char kRumbleOn[] = "write 13 05";
const char kRumbleOff[] = "write 13 04";

const fake::Bytes kMode33 = {0x12, 0x00, 0x33};
const fake::Bytes kLed1 = {0x11, 0x10};

// The mouse events and rumble reports of the run, in order.
std::vector<std::string> Effects() {
  std::vector<std::string> out;
  for (const std::string& line : fake::timeline) {
    if (line.rfind("mouse", 0) == 0 || line.rfind("write 13", 0) == 0) {
      out.push_back(line);
    }
  }
  return out;
}

class ControlLoop : public TestPlatform {
 protected:
  void SetUp() override {
    TestPlatform::SetUp();
    hidHandle = platform::OpenHidHandle(kRemoteVendor, kRemoteProduct);
  }
  void Press(uint8_t b1, uint8_t b2, int times = 1) {
    for (int i = 0; i < times; ++i) remote.Sends(Buttons(b1, b2));
  }
};

struct ButtonCase {
  const char* name;
  std::vector<std::pair<uint8_t, uint8_t>> reports;  // buttons1, buttons2
  std::vector<std::string> effects;
};
void PrintTo(const ButtonCase& c, std::ostream* os) { *os << c.name; }

const ButtonCase kButtonCases[] = {
    {"A held gives one press, its release one release",
     {{0, 0x08}, {0, 0x08}, {0, 0x08}, {0, 0x08}, {0, 0x00}, {0, 0x00}},
     {kRightDown, kRightUp}},
    {"B likewise with the left button",
     {{0, 0x04}, {0, 0x04}, {0, 0x00}, {0, 0x04}, {0, 0x00}},
     {kLeftDown, kLeftUp, kLeftDown, kLeftUp}},
    {"A and B in one report: right press then left press",
     {{0, 0x0C}, {0, 0x00}},
     {kRightDown, kLeftDown, kRightUp, kLeftUp}},
    {"One held for ten reports gives ten wheel events up",
     {{0, 0x02}, {0, 0x02}, {0, 0x02}, {0, 0x02}, {0, 0x02},
      {0, 0x02}, {0, 0x02}, {0, 0x02}, {0, 0x02}, {0, 0x02}},
     {kWheelUp, kWheelUp, kWheelUp, kWheelUp, kWheelUp,
      kWheelUp, kWheelUp, kWheelUp, kWheelUp, kWheelUp}},
    {"Two held scrolls down on every report",
     {{0, 0x01}, {0, 0x01}, {0, 0x00}, {0, 0x01}},
     {kWheelDown, kWheelDown, kWheelDown}},
    {"Plus held gives one rumble and one step down per press",
     {{0x10, 0}, {0x10, 0}, {0x10, 0}, {0x10, 0}, {0, 0}, {0x10, 0}, {0x10, 0}},
     {kRumbleOn, kRumbleOff, kWheelDown, kRumbleOn, kRumbleOff, kWheelDown}},
    {"Minus held gives one rumble and one step up per press",
     {{0, 0x10}, {0, 0x10}, {0, 0x00}, {0, 0x10}},
     {kRumbleOn, kRumbleOff, kWheelUp, kRumbleOn, kRumbleOff, kWheelUp}},
    {"Plus and Minus in one report: Plus first",
     {{0x10, 0x10}},
     {kRumbleOn, kRumbleOff, kWheelDown, kRumbleOn, kRumbleOff, kWheelUp}},
    {"Home with A does not end the loop",
     {{0, 0x88}, {0, 0x00}},
     {kRightDown, kRightUp}},
    {"Home with Minus does not end the loop",
     {{0, 0x90}},
     {kRumbleOn, kRumbleOff, kWheelUp}},
    {"Home alone ends the loop before any action of its pass",
     {{0, 0x80}, {0, 0x08}},
     {}},
    {"Home with Plus ends the loop with no rumble",
     {{0x10, 0x80}, {0x10, 0x00}},
     {}},
    {"Home with the accelerometer bits ends the loop",
     {{0, 0xA0}, {0, 0x08}},
     {}},
    {"Home with both accelerometer bits ends the loop",
     {{0x60, 0xE0}, {0, 0x08}},
     {}},
    {"Accelerometer bits alone press nothing",
     {{0x60, 0x60}, {0x20, 0x40}},
     {}},
    {"A held when Home ends the loop is released",
     {{0, 0x08}, {0, 0x08}, {0, 0x80}},
     {kRightDown, kRightUp}},
    {"A and B held when Home ends the loop are both released",
     {{0, 0x0C}, {0, 0x80}},
     {kRightDown, kLeftDown, kRightUp, kLeftUp}},
};

class ButtonActions : public ControlLoop,
                      public ::testing::WithParamInterface<ButtonCase> {};

TEST_P(ButtonActions, ReportsInEffectsOut) {
  for (const auto& r : GetParam().reports) Press(r.first, r.second);
  remote.Sends(HomeReport());
  EXPECT_EQ(RunControlLoop(), kLoopQuit);
  EXPECT_THAT(Effects(), ElementsAreArray(GetParam().effects));
}

INSTANTIATE_TEST_SUITE_P(Cases, ButtonActions, ::testing::ValuesIn(kButtonCases), CaseName());

TEST_F(ControlLoop, HomeEndsTheLoopAtItsReport) {
  Press(0, 0x02, 3);
  remote.Sends(HomeReport());
  Press(0, 0x02, 3);
  EXPECT_EQ(RunControlLoop(), kLoopQuit);
  EXPECT_EQ(remote.reportsRead, 4);
  EXPECT_EQ(desktop.mouse.size(), 3u);
}

TEST_F(ControlLoop, RumbleStandsThePassStillFor80Milliseconds) {
  Press(0x10, 0);
  remote.Sends(HomeReport());
  RunControlLoop();
  ASSERT_EQ(remote.written.size(), 2u);
  const int64_t pulse = remote.written[1].atUs - remote.written[0].atUs;
  EXPECT_GT(pulse, 80000);
  EXPECT_LT(pulse, 81000);
}

TEST_F(ControlLoop, ThreeKeysWaitingTheLastEscEndsOnTheThirdPass) {
  desktop.KeysWaiting({'a', 'q', platform::kKeyEsc});
  Press(0, 0x02, 5);
  EXPECT_EQ(RunControlLoop(), kLoopQuit);
  EXPECT_EQ(remote.reads, 2);
  EXPECT_THAT(Effects(), ElementsAre(kWheelUp, kWheelUp));
}

// While the remote is silent the loop's read waits without a time limit, and
// whatever ends the run ends that wait: one read, no wake-up before it.
struct SilentEndCase {
  const char* name;
  void (*event)(fake::RecordedDesktop&);  // at 500 s
  LoopEnd end;
};
void PrintTo(const SilentEndCase& c, std::ostream* os) { *os << c.name; }

const SilentEndCase kSilentEndCases[] = {
    {"Esc", [](fake::RecordedDesktop& d) { d.KeyAt(500000, platform::kKeyEsc); }, kLoopQuit},
    {"a stop request", [](fake::RecordedDesktop& d) { d.StopRequestAt(500000); }, kLoopQuit},
    {"the desktop lost", [](fake::RecordedDesktop& d) { d.lostAtUs = 500000000; },
     kLoopDesktopLost},
};

class SilentEnds : public ControlLoop,
                   public ::testing::WithParamInterface<SilentEndCase> {};

TEST_P(SilentEnds, TheWaitWithoutALimitEndsAtOnce) {
  Press(0, 0x08);  // A held: released on the way out
  GetParam().event(desktop);
  EXPECT_EQ(RunControlLoop(), GetParam().end);
  // The loop begins by reading what waits without a wait: the report, then a
  // look that finds nothing more; then one wait.
  EXPECT_EQ(remote.reads, 3);
  EXPECT_EQ(remote.lookReads, 2);
  EXPECT_EQ(remote.unlimitedReads, 1);
  EXPECT_EQ(remote.readsEnded, 1);
  EXPECT_EQ(fake::NowUs(), 500000000) << "the wait ended when the event came";
  EXPECT_FALSE(remote.timeCapHit);
  EXPECT_THAT(Effects(), ElementsAre(kRightDown, kRightUp));
}

INSTANTIATE_TEST_SUITE_P(Cases, SilentEnds, ::testing::ValuesIn(kSilentEndCases),
                         CaseName());

TEST_F(ControlLoop, OtherKeysEndTheWaitAndTheNextWaitGoesOn) {
  desktop.KeyAt(1000, 'x');
  desktop.KeyAt(3000, platform::kKeyEsc);
  EXPECT_EQ(RunControlLoop(), kLoopQuit);
  // A look at what waits, one wait up to 'x', which the next pass drops, one
  // up to Esc.
  EXPECT_EQ(remote.reads, 3);
  EXPECT_EQ(remote.lookReads, 1);
  EXPECT_EQ(remote.readsEnded, 2);
  EXPECT_EQ(fake::NowUs(), 3000000);
}

TEST_F(ControlLoop, AReportThatIsAlreadyThereComesBeforeAWaitingKey) {
  Press(0, kButtonOne);
  desktop.KeysWaiting({'x'});
  Press(0, kButtonOne, 2);
  desktop.KeyAt(50, platform::kKeyEsc);
  EXPECT_EQ(RunControlLoop(), kLoopQuit);
  EXPECT_THAT(Effects(), ElementsAre(kWheelUp, kWheelUp, kWheelUp));
  EXPECT_EQ(remote.readsEnded, 1) << "only the wait after the last report";
}

TEST_F(ControlLoop, EscWhileButtonsAreHeldReleasesThem) {
  Press(0, 0x0C);
  Press(0, 0x0C);
  desktop.KeyAt(30, platform::kKeyEsc);
  remote.Silent(1000);
  EXPECT_EQ(RunControlLoop(), kLoopQuit);
  EXPECT_THAT(Effects(), ElementsAre(kRightDown, kLeftDown, kRightUp, kLeftUp));
}

TEST_F(ControlLoop, ReadsThatBringNoReportRunNoActions) {
  Press(0, 0x02);          // One held: one wheel event
  remote.FailsRead();      // no report: nothing
  remote.Silent(100);      // no reports: nothing
  remote.FailsRead();
  Press(0, 0x02);          // one more
  remote.Sends(HomeReport());
  EXPECT_EQ(RunControlLoop(), kLoopQuit);
  EXPECT_THAT(Effects(), ElementsAre(kWheelUp, kWheelUp));
}

TEST_F(ControlLoop, AReportWithoutButtonDataRepeatsTheHeldActions) {
  // An acknowledgement decodes nothing; its pass runs on the buttons as they
  // were, as every report does.
  Press(0, 0x02);
  remote.Sends(Report(0x22).Raw(3, 0x16));
  remote.Sends(HomeReport());
  RunControlLoop();
  EXPECT_THAT(Effects(), ElementsAre(kWheelUp, kWheelUp));
}

// A remote that sends a status report on its own (an extension plugged in or
// out) sends nothing more until the report mode is selected again.
class StatusReport : public ControlLoop {
 protected:
  void SetUp() override {
    ControlLoop::SetUp();
    remote.silentAfterStatus = true;
  }
};

TEST_F(StatusReport, SelectsTheReportModeAgainAndGoesOn) {
  Press(0, kButtonB);
  remote.SendsStatus(10);
  Press(0, 0);
  remote.Sends(HomeReport());
  EXPECT_EQ(RunControlLoop(), kLoopQuit);
  EXPECT_THAT(remote.WrittenBytes(), ElementsAre(kMode33, kLed1));
  EXPECT_THAT(Effects(), ElementsAre(kLeftDown, kLeftUp));
  EXPECT_EQ(remote.statusSilences, 1);
  EXPECT_EQ(remote.reportsRead, 4);
  EXPECT_LE(remote.reads, 5) << "the data came back at the next read";
}

TEST_F(StatusReport, DecodesNothingAndItsPassRunsOnTheHeldButtons) {
  remoteInput.accelX = 0x42;
  Press(0, kButtonOne);
  remote.Sends(fake::Bytes{0x20, 0x00, 0x80, 0x1A, 0x00, 0x00, 0xC0});  // Home bit in it
  remote.Sends(HomeReport());
  EXPECT_EQ(RunControlLoop(), kLoopQuit);
  EXPECT_THAT(Effects(), ElementsAre(kWheelUp, kWheelUp));
  EXPECT_EQ(remoteInput.accelX, 0x80) << "only the data reports were decoded";
}

TEST_F(StatusReport, EveryStatusReportSelectsTheModeOnceAtMostOncePerInterval) {
  remote.SendsStatus();
  remote.SendsStatus(5);
  Press(0, kButtonA);
  remote.SendsStatus();
  Press(0, 0);
  remote.Sends(HomeReport());
  EXPECT_EQ(RunControlLoop(), kLoopQuit);
  EXPECT_THAT(remote.WrittenBytes(),
              ElementsAre(kMode33, kLed1, kMode33, kLed1, kMode33, kLed1));
  EXPECT_THAT(Effects(), ElementsAre(kRightDown, kRightUp));
  EXPECT_EQ(remote.statusSilences, 3);
  // The first at once; the two that came within the interval after a
  // selection waited for it to pass (the remote sent nothing meanwhile, and
  // the read waited just until then).
  ASSERT_EQ(remote.written.size(), 6u);
  EXPECT_LT(remote.written[0].atUs, 1000);
  for (size_t i : {2u, 4u}) {
    const int64_t gap = remote.written[i].atUs - remote.written[i - 2].atUs;
    EXPECT_GE(gap, kModeKeepMs * 1000);
    EXPECT_LE(gap, kModeKeepMs * 1000 + 1000);
  }
}

TEST_F(StatusReport, AModeThatDoesNotReachTheRemoteIsSentAgain) {
  Press(0, kButtonB);
  remote.SendsStatus();
  Press(0, 0);
  remote.Sends(HomeReport());
  remote.failWritesFrom = 0;  // the first two tries fail
  remote.onWrite = [](const fake::Bytes&) {
    if (fake::remote.written.size() == 2) fake::remote.failWritesFrom = -1;
  };
  EXPECT_EQ(RunControlLoop(), kLoopQuit);
  EXPECT_THAT(remote.WrittenBytes(), ElementsAre(kMode33, kMode33, kMode33, kLed1));
  ASSERT_EQ(remote.written.size(), 4u);
  EXPECT_FALSE(remote.written[1].ok);
  EXPECT_TRUE(remote.written[2].ok);
  // One try per interval: the read waits until the next try is due (no
  // spinning, and no wait for good on a remote that sends nothing until the
  // mode arrives), and only then is it bounded.
  const int64_t gap = remote.written[2].atUs - remote.written[1].atUs;
  EXPECT_GE(gap, kModeKeepMs * 1000);
  EXPECT_LE(gap, kModeKeepMs * 1000 + 1000);
  EXPECT_EQ(remote.reads - remote.unlimitedReads - remote.lookReads, 2)
      << "bounded while the mode was wanted";
  EXPECT_THAT(Effects(), ElementsAre(kLeftDown, kLeftUp));
}

TEST_F(StatusReport, OtherReportsWithoutDataSelectNothing) {
  remote.Sends(Report(0x22).Raw(3, 0x12));  // acknowledgement of a mode
  remote.Sends(Report(0x21));               // register data
  remote.Sends(fake::Bytes{});              // an empty report
  remote.Sends(HomeReport());
  EXPECT_EQ(RunControlLoop(), kLoopQuit);
  EXPECT_THAT(remote.written, IsEmpty());
}

// What the loop sends to set the camera up again: both enables, the enable
// register, the settings, and mode 0x33 last.
std::vector<fake::Bytes> CameraSetUp() {
  std::vector<fake::Bytes> block = CameraBlock();
  return Then(Then(std::vector<fake::Bytes>(block.begin() + 1, block.end()), CameraSettings()),
              {kMode33});
}

// Something other than the tool (the kernel's own driver for the remote)
// selects a report mode of its own, or switches the camera off, during the run.
class ModeKept : public ControlLoop {
 protected:
  void SetUp() override {
    ControlLoop::SetUp();
    remote.followsMode = true;
    remote.mode = kModeButtonsAccelIr;  // as the set-up left it
    remote.cameraFollows = true;
  }
  // Reports about every 10 ms, as the remote sends them, pointing at (x, y).
  void Points(int x, int y, int count) {
    for (int i = 0; i < count; ++i) {
      remote.Sends(Report(0x33).Accel(0x80, 0x80, 0x9A).Point(1, x - 60, y).Point(2, x + 60, y), 10);
    }
  }
  // When the tool's selections reached the remote, in microseconds.
  std::vector<int64_t> ModeTimes() const {
    std::vector<int64_t> out;
    for (const fake::Written& w : remote.written) {
      if (w.bytes == kMode33) out.push_back(w.atUs);
    }
    return out;
  }
};

TEST_F(ModeKept, AnotherModeMidRunSetsTheCameraUpAgainAndPointingResumes) {
  Points(512, 512, 20);  // 200 ms pointing at the middle: cursor on (512, 512)
  remote.SwitchesMode(0x31);
  Points(472, 552, 30);  // now at (632, 632)
  remote.Sends(HomeReport());
  EXPECT_EQ(RunControlLoop(), kLoopQuit);
  EXPECT_THAT(remote.WrittenBytes(), ElementsAreArray(CameraSetUp()));
  // At the first report of the other mode, 210 ms into the run.
  EXPECT_GE(remote.written[0].atUs, 210000);
  EXPECT_LT(remote.written[0].atUs, 211000);
  // The cursor glided from the middle toward (632, 632), to where the
  // smoothing stops short of a larger target.
  EXPECT_EQ(desktop.cursorSets.back(), (fake::Point{627, 627}));
}

TEST_F(ModeKept, ADriverThatAlwaysAnswersWithItsOwnModeGetsOneSetUpPerInterval) {
  remote.onWrite = [](const fake::Bytes& bytes) {
    if (bytes[0] == 0x12) fake::remote.mode = 0x30;
  };
  remote.SwitchesMode(0x30);
  Points(512, 512, 100);  // a second of reports, every one in mode 0x30
  remote.Sends(HomeReport());
  RunControlLoop();
  const std::vector<int64_t> times = ModeTimes();
  ASSERT_GE(times.size(), 9u);
  EXPECT_LE(times.size(), 10u) << "one per interval, not one per report";
  EXPECT_EQ(remote.written.size(), times.size() * CameraSetUp().size())
      << "whole set-ups, and no LEDs without a status report";
  for (size_t i = 1; i < times.size(); ++i) EXPECT_GE(times[i] - times[i - 1], kModeKeepMs * 1000);
}

struct StartCase {
  const char* name;
  uint8_t modeAtStart;      // the mode the remote is in when the loop starts
  int staleReports;         // reports of mode 0x31 queued before the loop
  int reportsAfter;         // reports every 10 ms after them
  size_t selections;        // 12 00 33 sent by the loop
};
void PrintTo(const StartCase& c, std::ostream* os) { *os << c.name; }

const StartCase kStartCases[] = {
    // Reports of the probe's mode still queued when the loop starts, then the
    // remote's reports in 0x33: nothing to do.
    {"queued reports of the probe's mode are left alone", 0x33, 3, 30, 0},
    // The remote never got to 0x33: once the loop's first interval is over.
    {"a remote still in another mode is put right after the interval", 0x31, 3, 30, 1},
    {"likewise with no queued reports at all", 0x31, 0, 30, 1},
};

class ModeAtStart : public ModeKept, public ::testing::WithParamInterface<StartCase> {};

TEST_P(ModeAtStart, SelectsOnlyWhenTheRemoteKeepsToAnotherMode) {
  const StartCase& c = GetParam();
  for (int i = 0; i < c.staleReports; ++i) remote.Sends(ProbeReport());
  Points(512, 512, c.reportsAfter);
  remote.Sends(HomeReport());
  remote.mode = c.modeAtStart;
  remote.followsMode = c.modeAtStart != 0x33;  // the queued ones keep their number
  RunControlLoop();
  const std::vector<int64_t> times = ModeTimes();
  ASSERT_EQ(times.size(), c.selections);
  if (!times.empty()) {
    EXPECT_GE(times[0], kModeKeepMs * 1000);
    EXPECT_LT(times[0], (kModeKeepMs + 11) * 1000);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, ModeAtStart, ::testing::ValuesIn(kStartCases), CaseName());

TEST_F(ModeKept, OneReportOfAModeThatReportsOnChangeOnlyIsEnough) {
  // Mode 0x30 reports only when a button changes: one report, within the
  // loop's first interval, then silence. The set-up waits for the interval
  // and comes when it is over: the read waits just that long.
  Points(512, 512, 5);
  remote.SwitchesMode(0x30);
  remote.Sends(Buttons(0, 0), 10);
  remote.Silent(300);
  remote.Sends(HomeReport());
  RunControlLoop();
  EXPECT_THAT(remote.WrittenBytes(), ElementsAreArray(CameraSetUp()));
  ASSERT_EQ(ModeTimes().size(), 1u);
  EXPECT_GE(ModeTimes()[0], kModeKeepMs * 1000);
  EXPECT_LE(ModeTimes()[0], kModeKeepMs * 1000 + 1000);
  EXPECT_EQ(remote.reads - remote.unlimitedReads - remote.lookReads, 1)
      << "one bounded read, until the set-up was due";
}

// What a report that the tool did not ask for makes the loop send (the remote
// stays in mode 0x33 and answers nothing; the run lasts 700 ms).
struct SignCase {
  const char* name;
  fake::Bytes report;
  std::vector<fake::Bytes> sent;
};
void PrintTo(const SignCase& c, std::ostream* os) { *os << c.name; }

const SignCase kSignCases[] = {
    {"an acknowledgement of a camera enable", Report(0x22).Raw(3, 0x13).Length(5), CameraSetUp()},
    {"an acknowledgement of the second camera enable", Report(0x22).Raw(3, 0x1A).Length(5),
     CameraSetUp()},
    {"a status report with the camera off: the set-up, then LED 1",
     fake::Bytes{0x20, 0x00, 0x00, 0x12, 0x00, 0x00, 0xC0}, Then(CameraSetUp(), {kLed1})},
    {"a status report with the camera on: the mode and LED 1",
     fake::Bytes{0x20, 0x00, 0x00, 0x1A, 0x00, 0x00, 0xC0}, {kMode33, kLed1}},
    {"data in the driver's infrared mode 0x36", Report(0x36).Buttons(0, 0), CameraSetUp()},
    {"data in mode 0x37", Report(0x37).Buttons(0, 0).Accel(0x80, 0x80, 0x9A), CameraSetUp()},
    // The remote acknowledges every register write, the tool's own and the
    // driver's writes to an extension's registers every few seconds alike.
    {"an acknowledgement of a register write is no sign", Report(0x22).Raw(3, 0x16).Length(5), {}},
    {"nor that of a mode", Report(0x22).Raw(3, 0x12).Length(5), {}},
    {"nor register data", Report(0x21).Raw(3, 0xF0), {}},
    {"a short acknowledgement is no sign", Report(0x22).Raw(3, 0x13).Length(3), {}},
};

class Sign : public ModeKept, public ::testing::WithParamInterface<SignCase> {};

TEST_P(Sign, SendsWhatItCalls) {
  const SignCase& c = GetParam();
  remote.followsMode = false;  // the reports keep their numbers
  Points(512, 512, 10);
  remote.Sends(c.report, 5);
  Points(512, 512, 60);
  remote.Sends(HomeReport());
  EXPECT_EQ(RunControlLoop(), kLoopQuit);
  EXPECT_THAT(remote.WrittenBytes(), ElementsAreArray(c.sent));
  if (!c.sent.empty()) {
    // Answered at once: the first sign of the loop needs no interval.
    ASSERT_FALSE(remote.written.empty());
    EXPECT_GE(remote.written[0].atUs, 105000);
    EXPECT_LT(remote.written[0].atUs, 106000);
  }
}

INSTANTIATE_TEST_SUITE_P(Reports, Sign, ::testing::ValuesIn(kSignCases), CaseName());

// The kernel's driver as a program opens its infrared device and closes it
// 20 ms later: it enables the camera asking for acknowledgements, writes its
// own set-up (meanwhile reports 0x33 come without points, then with points in
// its basic form), selects 0x36; then switches the camera off and selects
// 0x30. Pointing must come back with no point taken from the driver's
// camera, and the loop never stand still.
TEST_F(ModeKept, TheDriverOpeningAndClosingItsInfraredDeviceDoesNotEndThePointing) {
  Points(400, 300, 30);  // cursor toward (848, -124)
  remote.Sends(Report(0x22).Raw(3, 0x13).Length(5), 2);
  remote.Sends(Report(0x22).Raw(3, 0x1A).Length(5), 1);
  remote.Sends(Report(0x33).Accel(0x80, 0x80, 0x9A).NoPoints(), 2);
  // Two points in the basic form, as three-byte points: the second 768 off.
  remote.Sends(Report(0x33).Accel(0x80, 0x80, 0x9A).Point(1, 340, 300).Point(2, 460 + 768, 300 + 768), 2);
  remote.SwitchesMode(0x36);
  remote.SwitchesCameraOff();  // in the driver's form, then off
  Points(400, 300, 2);
  remote.SwitchesMode(0x30);
  remote.Sends(Buttons(0, 0), 10);  // the one report of mode 0x30
  remote.Silent(50);
  Points(600, 500, 100);  // cursor toward (248, 476)
  remote.Sends(HomeReport());
  EXPECT_EQ(RunControlLoop(), kLoopQuit);
  // The last thing sent is the camera's set-up, after the driver's last change.
  const std::vector<fake::Bytes> written = remote.WrittenBytes();
  ASSERT_GE(written.size(), CameraSetUp().size());
  EXPECT_THAT(std::vector<fake::Bytes>(written.end() - CameraSetUp().size(), written.end()),
              ElementsAreArray(CameraSetUp()));
  const std::vector<int64_t> times = ModeTimes();
  for (size_t i = 1; i < times.size(); ++i) EXPECT_GE(times[i] - times[i - 1], kModeKeepMs * 1000);
  // No point of the driver's was taken: tracking was never lost, and the
  // cursor never left the way between the two targets.
  EXPECT_EQ(desktop.console, "");
  for (const fake::Point& p : desktop.cursorSets) {
    EXPECT_TRUE(p.x >= 248 && p.x <= 848 && p.y >= -124 && p.y <= 476) << p.x << "," << p.y;
  }
  // Pointing came back at the new target (the smoothing stops short of it).
  EXPECT_EQ(desktop.cursorSets.back(), (fake::Point{248, 471}));
  // No pause of the loop: the run took just as long as the remote's script.
  EXPECT_LT(fake::NowUs(), 1400000);
}

// A remote whose reports are all there at once, as if the loop could never
// catch up: the points of the first 64 (more than any queue holds) are left
// out, the next ones are taken.
TEST_F(ModeKept, PointsAreTakenAfterAQueuesWorthOfWaitingReports) {
  for (int i = 0; i < 70; ++i) {
    remote.Sends(Report(0x33).Accel(0x80, 0x80, 0x9A).Point(1, 452, 512).Point(2, 572, 512));
  }
  remote.Sends(HomeReport());
  RunControlLoop();
  EXPECT_EQ(remote.lookReads, 64) << "the loop looked without a wait until it took the points";
  // Each pass that looks at the points places the cursor and the D-pad stage
  // sets it where it is: the last 6 of the 70.
  EXPECT_EQ(std::count(desktop.cursorSets.begin(), desktop.cursorSets.end(),
                       fake::Point{512, 512}),
            12);
}

TEST_F(ModeKept, NothingIsSentWhileNothingChanged) {
  // The tool's own register writes are acknowledged during the run.
  for (int i = 0; i < 10; ++i) {
    remote.Sends(Report(0x22).Raw(3, 0x16).Length(5));
    Points(512, 512, 30);
  }
  remote.Sends(HomeReport());
  RunControlLoop();
  EXPECT_THAT(remote.written, IsEmpty());
  EXPECT_EQ(remote.reads - remote.lookReads, remote.unlimitedReads) << "no bounded reads either";
  EXPECT_LE(remote.lookReads, 2) << "only the looks at what waited when the loop began";
}

TEST_F(ControlLoop, RemoteGoneEndsTheLoopAndReleasesButtons) {
  Press(0, 0x04);
  remote.Disappears(40);
  EXPECT_EQ(RunControlLoop(), kLoopDeviceLost);
  EXPECT_THAT(Effects(), ElementsAre(kLeftDown, kLeftUp));
  EXPECT_LE(remote.reads, 4);
}

TEST_F(ControlLoop, DesktopGoneEndsTheLoop) {
  Press(0, 0x08);
  desktop.lostAtUs = 100000;
  remote.Silent(1000);
  EXPECT_EQ(RunControlLoop(), kLoopDesktopLost);
  EXPECT_THAT(Effects(), ElementsAre(kRightDown, kRightUp));
  EXPECT_EQ(remote.reads, 3) << "the report, a look, then one wait";
  EXPECT_EQ(fake::NowUs(), 100000);
}

}  // namespace
