// Whole runs of the program: the order of output reports, console text,
// message boxes and exit codes.
#include <gmock/gmock.h>

#include <algorithm>

#include "tests/support.h"

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

namespace {

const char* const kBannerLines[] = {
    "###########################################\n",
    "#                                         #\n",
    "#   Trevanquill Test version 0.1          #\n",
    "#                  build 2006.12.18       #\n",
    "#                                         #\n",
    "###########################################\n",
    "\n",
    "Usage:\n",
    "   up/down/left/right button  ... Move cursor\n",
    "   B button  ... Left click\n",
    "   A button  ... Right click\n",
    "   (1) button  ... Wheel up\n",
    "   (2) button  ... Wheel down\n",
    "   (+) button  ... Wheel down\n",
    "   (-) button  ... Wheel up\n",
    "   Home button  ... Quit\n",
    "\n",
};

std::string Banner() {
  std::string all;
  for (const char* line : kBannerLines) all += line;
  return all;
}

// Report 0x12 0x31, the configuration sequence, then what the loop sends.
std::vector<fake::Bytes> StartUp() {
  std::vector<fake::Bytes> out = {B({0x12, 0x00, 0x31}), B({0x11, 0x10})};
  for (int block = 0; block < 3; ++block) out = Then(out, CameraBlock());
  return Then(out, CameraSettings());
}

class Program : public TestPlatform {};

TEST_F(Program, NoRemote) {
  remote.products.clear();
  EXPECT_EQ(RunProgram(), kExitNotFound);
  EXPECT_THAT(desktop.messages, ElementsAre("Wii-Remote not found."));
  EXPECT_THAT(remote.written, IsEmpty());
  EXPECT_EQ(desktop.console, "");
  EXPECT_EQ(remote.closes, 0);
  EXPECT_EQ(desktop.threadsStarted, 0);
  EXPECT_EQ(desktop.stops, 1);
}

// Which remotes are connected: the first model (0x0306) is opened whenever it
// is there, the newer one (0x0330) only when it is not, and after the open the
// run is the same. A remote that another tool drives counts as not there,
// and when it is the only one the tool says so and ends with exit code 2,
// touching nothing.
struct OpenCase {
  const char* name;
  std::vector<uint16_t> connected;
  std::vector<std::string> opens;  // the open calls, in order
  uint16_t opened;                 // the product opened; 0: none
  int exitCode;
  std::vector<uint16_t> heldElsewhere = {};
};

const std::vector<std::string> kOpensBoth = {"open 057E 0306", "open 057E 0330"};
const OpenCase kOpenCases[] = {
    {"none", {}, kOpensBoth, 0, kExitNotFound},
    {"first model", {0x0306}, {"open 057E 0306"}, 0x0306, kExitOk},
    {"newer model", {0x0330}, kOpensBoth, 0x0330, kExitOk},
    {"both", {0x0330, 0x0306}, {"open 057E 0306"}, 0x0306, kExitOk},
    {"another product of the vendor", {0x0337}, kOpensBoth, 0, kExitNotFound},
    {"first model held", {0x0306}, kOpensBoth, 0, kExitNoData, {0x0306}},
    {"newer model held", {0x0330}, kOpensBoth, 0, kExitNoData, {0x0330}},
    {"both held", {0x0306, 0x0330}, kOpensBoth, 0, kExitNoData, {0x0306, 0x0330}},
    {"first model held newer free", {0x0306, 0x0330}, kOpensBoth, 0x0330, kExitOk, {0x0306}},
    {"newer held first model free", {0x0306, 0x0330}, {"open 057E 0306"}, 0x0306, kExitOk,
     {0x0330}},
};

class ProgramOpen : public TestPlatform, public ::testing::WithParamInterface<OpenCase> {};

TEST_P(ProgramOpen, ConnectedRemotesInExitCodeAndFirstReportOut) {
  const OpenCase& c = GetParam();
  remote.products = c.connected;
  remote.heldElsewhere = c.heldElsewhere;
  remote.Sends(ProbeReport());
  remote.Sends(HomeReport());
  EXPECT_EQ(RunProgram(), c.exitCode);
  EXPECT_EQ(Lines("open "), c.opens);
  EXPECT_EQ(remote.openedProduct, c.opened);
  if (c.opened == 0) {
    EXPECT_THAT(desktop.messages,
                ElementsAre(c.exitCode == kExitNoData ? kMessageRemoteBusy
                                                      : "Wii-Remote not found."));
    EXPECT_THAT(remote.written, IsEmpty());
    EXPECT_EQ(remote.reads, 0);
    EXPECT_EQ(desktop.threadsStarted, 0);
    EXPECT_EQ(desktop.console, "");
    EXPECT_EQ(remote.closes, 0);
    return;
  }
  EXPECT_THAT(desktop.messages, IsEmpty());
  ASSERT_FALSE(remote.written.empty());
  EXPECT_EQ(remote.written.front().bytes, B({0x12, 0x00, 0x31}));
  EXPECT_EQ(remote.WrittenBytes().back(), B({0x12, 0x00, 0x30}));
  EXPECT_EQ(desktop.console, Banner());  // Home on the first pass
  EXPECT_EQ(remote.opens, 1);
  EXPECT_EQ(remote.closes, 1);
}

INSTANTIATE_TEST_SUITE_P(Cases, ProgramOpen, ::testing::ValuesIn(kOpenCases), CaseName());

TEST_F(Program, RemoteThatSendsNothing) {
  remote.Silent(60000);
  EXPECT_EQ(RunProgram(), kExitNoData);
  EXPECT_THAT(desktop.messages, ElementsAre("Wii-Remote cannot open."));
  EXPECT_THAT(remote.WrittenBytes(), ElementsAre(B({0x12, 0x00, 0x31})));
  EXPECT_EQ(desktop.console, "");
  EXPECT_EQ(remote.closes, 1);
  EXPECT_EQ(desktop.threadsJoined, 1);
  EXPECT_EQ(probeActive.load(), 0);
  EXPECT_EQ(fake::timeline.back(), "close");
}

TEST_F(Program, RemoteWhoseFirstReportHasNoAccelerometerData) {
  remote.Sends(Report(0x30));
  remote.Sends(ProbeReport(), 150);
  EXPECT_EQ(RunProgram(), kExitNoData);
  EXPECT_THAT(desktop.messages, ElementsAre("Wii-Remote cannot open."));
  EXPECT_EQ(remote.closes, 1);
}

TEST_F(Program, NormalRunEndedByHome) {
  remote.Sends(ProbeReport());
  remote.Sends(Buttons(0, kButtonB), 10);
  remote.Sends(Buttons(0, 0));
  remote.Sends(HomeReport());
  EXPECT_EQ(RunProgram(), kExitOk);

  EXPECT_THAT(remote.WrittenBytes(),
              ElementsAreArray(Then(StartUp(), {B({0x12, 0x00, 0x30})})));
  // The reports carry no infrared points: the first pass says so.
  EXPECT_EQ(desktop.console, Banner() + "IR-Track NG\n");
  EXPECT_THAT(desktop.messages, IsEmpty());
  EXPECT_THAT(desktop.mouse, ElementsAre(LeftDown(), LeftUp()));
  EXPECT_EQ(remote.opens, 1);
  EXPECT_EQ(remote.closes, 1);
  EXPECT_EQ(desktop.threadsJoined, 1);
  EXPECT_EQ(desktop.stops, 1);

  // The order across kinds: open, the report mode for the probe, the banner
  // before the LEDs, and the buttons-only mode as the last report before the
  // handle is closed.
  const std::vector<std::string>& t = fake::timeline;
  EXPECT_EQ(t[0], "open 057E 0306");
  EXPECT_EQ(t[1], "write 12 00 31");
  EXPECT_EQ(t[2], std::string("console ") + kBannerLines[0]);
  EXPECT_EQ(t[1 + 17], std::string("console ") + kBannerLines[16]);
  EXPECT_EQ(t[2 + 17], "write 11 10");
  EXPECT_EQ(t[t.size() - 2], "write 12 00 30");
  EXPECT_EQ(t.back(), "close");
}

TEST_F(Program, ConfigurationWaitsBetweenItsBlocks) {
  remote.Sends(ProbeReport());
  remote.Sends(HomeReport());
  RunProgram();
  const std::vector<fake::Written>& w = remote.written;
  ASSERT_EQ(w.size(), 22u);
  // The probe's report mode, then rows 1 LEDs, 2-6 first block, 7 wait,
  // 8-12, 13 wait, 14-18, 19-22, then the buttons-only mode.
  const int64_t firstGap = w[7].atUs - w[6].atUs;
  const int64_t secondGap = w[12].atUs - w[11].atUs;
  EXPECT_GT(firstGap, 200000);
  EXPECT_LT(firstGap, 201000);
  EXPECT_GT(secondGap, 200000);
  EXPECT_LT(secondGap, 201000);
  EXPECT_LT(w[20].atUs - w[16].atUs, 1000) << "no wait after the third block";
}

TEST_F(Program, EscEndsTheRunLikeHome) {
  remote.Sends(ProbeReport());
  remote.Sends(Buttons(0, kButtonA));
  remote.Silent(60000);
  desktop.KeyAt(1000, platform::kKeyEsc);
  EXPECT_EQ(RunProgram(), kExitOk);
  EXPECT_THAT(desktop.mouse, ElementsAre(RightDown(), RightUp()));
  EXPECT_EQ(remote.WrittenBytes().back(), B({0x12, 0x00, 0x30}));
  EXPECT_EQ(remote.closes, 1);
}

TEST_F(Program, RemoteThatGoesAwayMidRun) {
  remote.Sends(ProbeReport());
  remote.Sends(Buttons(0, kButtonB), 10);
  remote.Disappears(50);
  EXPECT_EQ(RunProgram(), kExitNoData);
  EXPECT_EQ(desktop.console, Banner() + "IR-Track NG\nWii-Remote disconnected.\n");
  EXPECT_THAT(desktop.mouse, ElementsAre(LeftDown(), LeftUp()));
  // The buttons-only report is still tried; it fails, and the handle is
  // closed once all the same.
  ASSERT_FALSE(remote.written.empty());
  EXPECT_EQ(remote.written.back().bytes, B({0x12, 0x00, 0x30}));
  EXPECT_FALSE(remote.written.back().ok);
  EXPECT_EQ(remote.closes, 1);
  EXPECT_EQ(fake::timeline.back(), "close");
  EXPECT_LE(remote.reads, 6) << "the loop must not spin on a lost remote";
}

TEST_F(Program, NoDesktop) {
  desktop.unavailable = true;
  remote.Sends(ProbeReport());
  EXPECT_EQ(RunProgram(), kExitNoDesktop);
  EXPECT_THAT(fake::timeline, IsEmpty()) << "the remote is not even opened";
}

TEST_F(Program, DesktopThatGoesAwayMidRun) {
  remote.Sends(ProbeReport());
  remote.Sends(Buttons(0, kButtonA));
  remote.Silent(60000);
  desktop.lostAtUs = 2000000;
  EXPECT_EQ(RunProgram(), kExitNoDesktop);
  EXPECT_EQ(remote.WrittenBytes().back(), B({0x12, 0x00, 0x30}));
  EXPECT_EQ(remote.closes, 1);
  EXPECT_EQ(desktop.stops, 1);
}

fake::Bytes ledTimeBuffer;
void SnapshotAtLeds(const fake::Bytes& report) {
  if (report[0] == 0x11) ledTimeBuffer.assign(outputReport, outputReport + 22);
}

TEST_F(Program, LeftoverBytesOfTheOutputBuffer) {
  ledTimeBuffer.clear();
  remote.onWrite = SnapshotAtLeds;
  remote.Sends(ProbeReport());
  remote.Sends(HomeReport());
  RunProgram();
  ASSERT_EQ(ledTimeBuffer.size(), 22u);
  EXPECT_EQ(ledTimeBuffer[2], 0x31) << "left by the report mode of the probe";
  fake::Bytes end = B({0x12, 0x00, 0x30, 0x00, 0x33, 0x01, 0x33});
  end.resize(22, 0x00);
  EXPECT_EQ(fake::Bytes(outputReport, outputReport + 22), end);
}

TEST_F(Program, StartUpTakesTheProbeAndTheConfigurationWaits) {
  remote.Sends(ProbeReport());
  remote.Sends(HomeReport());
  RunProgram();
  // 100 ms probe and two 200 ms waits; the worker is gone before the loop.
  const int64_t loopStart = remote.written.back().atUs;
  EXPECT_GT(loopStart, 500000);
  EXPECT_LT(loopStart, 510000);
}

}  // namespace

namespace {

// Two lights 40 camera units apart, their midpoint at (mx, my).
Report PointingAt(int mx, int my) {
  return Report(0x33).Accel(0x80, 0x80, 0x9A).Point(1, mx - 20, my).Point(2, mx + 20, my);
}

TEST_F(Program, CursorFollowsTheSpotTheRemotePointsAt) {
  remote.Sends(ProbeReport());
  // A report every 10 ms, as the remote sends them.
  remote.Sends(PointingAt(512, 512), 10);  // target (512, 512), taken at once
  remote.Sends(PointingAt(500, 500), 10);  // target (548, 476), a sixth of the way a pass
  remote.Sends(PointingAt(500, 500), 10);
  remote.Sends(Report(0x33).Accel(0x80, 0x80, 0x9A).NoPoints(), 10);  // lost
  remote.Sends(Report(0x33).Accel(0x80, 0x80, 0x9A).NoPoints(), 10);
  remote.Sends(PointingAt(500, 500), 10);  // found again
  remote.Sends(HomeReport(), 10);
  EXPECT_EQ(RunProgram(), kExitOk);
  // Each pass: the infrared placement, then the D-pad stage's (no D-pad held,
  // so it sets the same place again); while lost only the D-pad stage's.
  EXPECT_THAT(desktop.cursorSets,
              ElementsAre(fake::Point{512, 512}, fake::Point{512, 512},
                          fake::Point{518, 506}, fake::Point{518, 506},
                          fake::Point{523, 501}, fake::Point{523, 501},
                          fake::Point{523, 501}, fake::Point{523, 501},
                          fake::Point{527, 496}, fake::Point{527, 496}));
  EXPECT_EQ(desktop.console, Banner() + "IR-Track NG\nIR-Track Ok\n");
}

// The reports that wait when the loop begins were sent while the set-up ran,
// in the point format the camera had before it (another program may have
// left it in its own): their buttons act, their points are left out, and
// pointing begins with the first report sent since.
TEST_F(Program, PointsOfReportsFromTheSetUpAreLeftOut) {
  remote.Sends(ProbeReport());
  remote.Sends(PointingAt(100, 700));  // there when the loop begins
  remote.Sends(Buttons(0, kButtonB).Point(1, 100, 700).Point(2, 100, 700));
  remote.Sends(PointingAt(512, 512), 10);  // the first report sent since
  remote.Sends(Buttons(0, 0).Point(1, 512, 512).Point(2, 512, 512), 10);
  remote.Sends(HomeReport(), 10);
  EXPECT_EQ(RunProgram(), kExitOk);
  EXPECT_THAT(desktop.mouse, ElementsAre(LeftDown(), LeftUp()));
  // The D-pad stage (nothing held) sets the cursor where it is on every
  // pass; the infrared stage's first placement is the fresh target.
  ASSERT_FALSE(desktop.cursorSets.empty());
  for (const fake::Point& p : desktop.cursorSets) {
    EXPECT_TRUE(p == (fake::Point{512, 512}) || p == desktop.cursorSets.front())
        << p.x << "," << p.y;
  }
  EXPECT_EQ(desktop.cursorSets.back(), (fake::Point{512, 512}));
  EXPECT_EQ(std::count(desktop.cursorSets.begin(), desktop.cursorSets.end(),
                       fake::Point{512, 512}),
            4)
      << "two passes pointing, each placing and setting again";
  // Tracking from the first pass that looks: no IR-Track line.
  EXPECT_EQ(desktop.console, Banner());
}

}  // namespace
