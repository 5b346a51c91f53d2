// Faults at every stage of a run: open, probe, configuration, control loop and
// shutdown. Whatever goes wrong, the run ends (or goes on) as it should, in
// bounded time, with the handle closed exactly once, no mouse button left
// pressed, no rumble left running and the console given back.
#include <gmock/gmock.h>

#include "tests/support.h"

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

namespace {

// Virtual time from the start of a run to the control loop's first read: the
// 100 ms probe and the configuration's two 200 ms waits, and a little more.
constexpr int kLoopStartsMs = 500;

class Faults : public TestPlatform {
 protected:
  // Runs the program and checks what must hold after every run, however it
  // ended.
  int Run() {
    const int itemsAtStart = static_cast<int>(remote.script.size());
    const int code = RunProgram();
    SCOPED_TRACE("after the run");
    // A desktop that could not be started has nothing to give back.
    EXPECT_EQ(desktop.stops, desktop.unavailable ? 0 : 1)
        << "the console is given back";
    EXPECT_EQ(remote.closes, remote.opens > 0 ? 1 : 0)
        << "the handle is closed exactly once when it was opened";
    EXPECT_FALSE(desktop.leftPressed) << "left button left pressed";
    EXPECT_FALSE(desktop.rightPressed) << "right button left pressed";
    EXPECT_EQ(desktop.buttonEventsOutOfTurn, 0);
    // Every output report carries the rumble bit; the last one sent leaves
    // the motor off, and when every report reached the remote it is off.
    if (!remote.written.empty()) {
      EXPECT_EQ(remote.written.back().bytes[1] & 0x01, 0) << "rumble left running";
    }
    if (!remote.lost && remote.failWritesFrom < 0) {
      EXPECT_FALSE(remote.rumbling) << "rumble left running";
    }
    EXPECT_EQ(desktop.threadsJoined, desktop.threadsStarted);
    EXPECT_EQ(probeActive.load(), 0);
    EXPECT_FALSE(remote.readsOverlapped) << "two threads read at once";
    // Every read either takes an item of the script, waits out its whole
    // bound, or (without a limit) is ended by a key, a stop request or the
    // lost desktop: the loop never spins without a report.
    const int64_t limitUs = platform::kProbeReadLimitMs * 1000LL;
    EXPECT_LE(remote.reads, itemsAtStart + fake::NowUs() / limitUs + remote.readsEnded + 2)
        << "reads " << remote.reads << " in " << fake::NowUs() << " us";
    // Only reports that arrived run a pass's actions: the D-pad stage reads
    // the cursor once per pass.
    EXPECT_LE(desktop.cursorReads, remote.reportsRead);
    if (remote.opens > 0 && !fake::timeline.empty()) {
      EXPECT_EQ(fake::timeline.back(), "close");
    }
    return code;
  }
};

// ------------------------------------------------------------ every stage

struct FaultCase {
  const char* name;
  void (*script)(fake::ScriptedRemote&, fake::RecordedDesktop&);
  int exitCode;
  std::vector<std::string> messages;
  const char* consoleEnd;  // the last console line(s); "" for none
  std::vector<fake::MouseRecord> mouse;
  int withinMs;  // the run ends within this much virtual time
};
void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }

using R = fake::ScriptedRemote;
using D = fake::RecordedDesktop;

const char kNg[] = "IR-Track NG\n";
const char kGone[] = "IR-Track NG\nWii-Remote disconnected.\n";
const char kNotFound[] = "Wii-Remote not found.";
const char kCannotOpen[] = "Wii-Remote cannot open.";

// Where a case's last console line is the loop's first look at the points,
// its first report for the loop comes 10 ms after the set-up, as from a
// remote that sends 100 reports a second: the points of reports that are
// already there when the loop begins (sent during the set-up) are left out.
const FaultCase kFaultCases[] = {
    // ---- open
    {"open: no remote", [](R& r, D&) { r.products.clear(); }, kExitNotFound,
     {kNotFound}, "", {}, 10},
    {"open: the remote is gone at once", [](R& r, D&) { r.Disappears(); },
     kExitNoData, {kCannotOpen}, "", {}, 300},
    {"open: no desktop", [](R& r, D& d) { d.unavailable = true; r.Sends(ProbeReport()); },
     kExitNoDesktop, {}, "", {}, 10},
    // ---- probe
    {"probe: the read fails once, then data",
     [](R& r, D&) {
       r.FailsRead();
       r.Sends(ProbeReport(), 5);
       r.Sends(HomeReport());
     },
     kExitOk, {}, "", {}, 600},
    {"probe: reads fail ten times, then data",
     [](R& r, D&) {
       r.FailsReads(10);
       r.Sends(ProbeReport(), 5);
       r.Sends(HomeReport());
     },
     kExitOk, {}, "", {}, 600},
    {"probe: the remote is silent for seconds",
     [](R& r, D&) {
       r.Silent(5000);
       r.Sends(ProbeReport());
     },
     kExitNoData, {kCannotOpen}, "", {}, 300},
    {"probe: the remote goes away",
     [](R& r, D&) { r.Disappears(40); }, kExitNoData, {kCannotOpen}, "", {}, 300},
    {"probe: every write fails",
     [](R& r, D&) {
       r.failWritesFrom = 0;
       r.Sends(ProbeReport());
       r.Sends(Buttons(0, kButtonB), 10);
       r.Sends(HomeReport());
     },
     kExitOk, {}, kNg, {LeftDown(), LeftUp()}, 600},
    {"probe: a status report instead of data",
     [](R& r, D&) {
       r.silentAfterStatus = true;
       r.SendsStatus();
       r.Sends(ProbeReport());
     },
     kExitNoData, {kCannotOpen}, "", {}, 300},
    // ---- configuration
    {"configuration: the remote goes away",
     [](R& r, D&) {
       r.Sends(ProbeReport());
       r.Sends(Buttons(0, kButtonB));
       r.lostAtUs = 300000;
     },
     kExitNoData, {}, "Wii-Remote disconnected.\n", {}, 600},
    {"configuration: a status report arrives",
     [](R& r, D&) {
       r.silentAfterStatus = true;
       r.Sends(ProbeReport());
       r.SendsStatus();  // there when the loop first reads
       r.Sends(Buttons(0, kButtonA), 10);
       r.Sends(HomeReport());
     },
     kExitOk, {}, kNg, {RightDown(), RightUp()}, 600},
    // ---- control loop
    {"loop: a read fails once with B held",
     [](R& r, D&) {
       r.Sends(ProbeReport());
       r.Sends(Buttons(0, kButtonB));
       r.FailsRead();
       r.Sends(Buttons(0, 0));
       r.Sends(HomeReport());
     },
     kExitOk, {}, kNg, {LeftDown(), LeftUp()}, 600},
    {"loop: a hundred reads fail in a row",
     [](R& r, D&) {
       r.Sends(ProbeReport());
       r.Sends(Buttons(0, kButtonOne));
       r.FailsReads(100);
       r.Sends(Buttons(0, kButtonOne));
       r.Sends(HomeReport());
     },
     kExitOk, {}, kNg, {WheelUp(), WheelUp()}, 600},
    {"loop: the remote is silent for seconds with A held",
     [](R& r, D&) {
       r.Sends(ProbeReport());
       r.Sends(Buttons(0, kButtonA));
       r.Silent(8000);
       r.Sends(Buttons(0, 0));
       r.Sends(HomeReport());
     },
     kExitOk, {}, kNg, {RightDown(), RightUp()}, 8600},
    {"loop: the remote is silent, Esc ends the run",
     [](R& r, D& d) {
       r.Sends(ProbeReport());
       r.Sends(Buttons(0, kButtonA | kButtonB), 10);
       r.Silent(60000);
       d.KeyAt(3000, platform::kKeyEsc);
     },
     kExitOk, {}, kNg, {RightDown(), LeftDown(), RightUp(), LeftUp()}, 3100},
    {"loop: the remote goes away with A and B held",
     [](R& r, D&) {
       r.Sends(ProbeReport());
       r.Sends(Buttons(0, kButtonA | kButtonB), 10);
       r.Disappears(30);
     },
     kExitNoData, {}, kGone, {RightDown(), LeftDown(), RightUp(), LeftUp()}, 600},
    {"loop: the remote goes away for good while silent",
     [](R& r, D&) {
       r.Sends(ProbeReport());
       r.Sends(Buttons(0, kButtonB), 10);
       r.Silent(60000);
       r.lostAtUs = 2000000;
     },
     kExitNoData, {}, kGone, {LeftDown(), LeftUp()}, 2100},
    {"loop: writes fail from the rumble on",
     [](R& r, D&) {
       r.failWritesFrom = 21;  // the probe's mode and the 20 set-up reports go through
       r.Sends(ProbeReport());
       r.Sends(Buttons(kButtonPlus, 0), 10);
       r.Sends(Buttons(0, 0));
       r.Sends(HomeReport());
     },
     kExitOk, {}, kNg, {WheelDown()}, 700},
    {"loop: the remote goes away in the middle of a rumble",
     [](R& r, D&) {
       r.Sends(ProbeReport());
       r.Sends(Buttons(kButtonPlus, kButtonB), 10);
       r.Sends(Buttons(0, 0));
       r.lostAtUs = (kLoopStartsMs + 40) * 1000LL;
     },
     kExitNoData, {}, kGone, {LeftDown(), WheelDown(), LeftUp()}, 700},
    {"loop: a status report, then the remote waits for its mode",
     [](R& r, D&) {
       r.silentAfterStatus = true;
       r.Sends(ProbeReport());
       r.Sends(Buttons(0, kButtonB));
       r.SendsStatus(10);
       r.Sends(Buttons(0, 0), 10);
       r.Sends(HomeReport());
     },
     kExitOk, {}, kNg, {LeftDown(), LeftUp()}, 700},
    {"loop: the desktop goes away with B held",
     [](R& r, D& d) {
       r.Sends(ProbeReport());
       r.Sends(Buttons(0, kButtonB), 10);
       r.Silent(60000);
       d.lostAtUs = 1000000;
     },
     kExitNoDesktop, {}, kNg, {LeftDown(), LeftUp()}, 1100},
    // ---- shutdown
    {"shutdown: the buttons-only report fails",
     [](R& r, D&) {
       r.failWritesFrom = 21;
       r.Sends(ProbeReport());
       r.Sends(HomeReport());
     },
     kExitOk, {}, "", {}, 600},
    {"shutdown: the remote goes away right after Home",
     [](R& r, D&) {
       r.Sends(ProbeReport());
       r.Sends(Buttons(0, kButtonA), 10);
       r.Sends(HomeReport(), 10);
       r.lostAtUs = (kLoopStartsMs + 30) * 1000LL;
     },
     kExitOk, {}, kNg, {RightDown(), RightUp()}, 600},
    {"shutdown: A and B let go in the report where Home ends the run",
     [](R& r, D&) {
       r.Sends(ProbeReport());
       r.Sends(Buttons(0, kButtonA | kButtonB), 10);
       r.Sends(HomeReport());
     },
     kExitOk, {}, kNg, {RightDown(), LeftDown(), RightUp(), LeftUp()}, 600},
};

class EveryStage : public Faults, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(EveryStage, RunEndsAsItShouldAndLeavesNothingBehind) {
  const FaultCase& c = GetParam();
  c.script(remote, desktop);
  EXPECT_EQ(Run(), c.exitCode);
  EXPECT_THAT(desktop.messages, ElementsAreArray(c.messages));
  const std::string end = c.consoleEnd;
  ASSERT_GE(desktop.console.size(), end.size());
  EXPECT_EQ(desktop.console.substr(desktop.console.size() - end.size()), end)
      << desktop.console;
  if (end.empty() && c.exitCode != kExitOk) {
    EXPECT_EQ(desktop.console.find("Usage:"), std::string::npos)
        << "no banner when the run does not start";
  }
  EXPECT_THAT(desktop.mouse, ElementsAreArray(c.mouse));
  EXPECT_LE(fake::NowUs(), c.withinMs * 1000LL);
  // Once the run got as far as the loop, the buttons-only mode is the last
  // report sent (whether it reached the remote or not).
  if (desktop.console.find("Usage:") != std::string::npos) {
    ASSERT_FALSE(remote.written.empty());
    EXPECT_EQ(remote.written.back().bytes, B({0x12, 0x00, 0x30}));
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, EveryStage, ::testing::ValuesIn(kFaultCases), CaseName());

// ------------------------------------------------------------ failing writes

// Writes fail from the Nth on, for every N of a run that sends 24 reports
// (the probe's mode, 20 set-up reports, a rumble pulse, the buttons-only
// mode): the run does the same in every case, since no result is examined.
class WritesFailFrom : public Faults, public ::testing::WithParamInterface<int> {};

TEST_P(WritesFailFrom, TheRunGoesOnUnchanged) {
  remote.failWritesFrom = GetParam();
  remote.Sends(ProbeReport());
  remote.Sends(Buttons(kButtonPlus, kButtonB));
  remote.Sends(Buttons(0, 0));
  remote.Sends(HomeReport());
  EXPECT_EQ(Run(), kExitOk);
  ASSERT_EQ(remote.written.size(), 24u);
  for (size_t i = 0; i < remote.written.size(); ++i) {
    EXPECT_EQ(remote.written[i].ok, static_cast<int>(i) < GetParam()) << i;
  }
  EXPECT_EQ(remote.written[21].bytes, B({0x13, 0x05}));
  EXPECT_EQ(remote.written[22].bytes, B({0x13, 0x04}));
  EXPECT_EQ(remote.written[23].bytes, B({0x12, 0x00, 0x30}));
  EXPECT_THAT(desktop.mouse, ElementsAre(LeftDown(), WheelDown(), LeftUp()));
  EXPECT_THAT(desktop.messages, IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(N, WritesFailFrom, ::testing::Range(0, 25));

// ------------------------------------------------------------ probe hand-over

// The probe's data arrives at dataMs and a B press dataMs + afterMs later,
// around the moment the probe decides and the worker hands the remote over to
// the control loop. The worker pauses after each report, so the press is
// always left to the loop: it is neither lost nor read twice.
struct HandOver {
  int dataMs;
  int afterMs;
};

class ProbeHandOver : public Faults, public ::testing::WithParamInterface<HandOver> {};

TEST_P(ProbeHandOver, AReportJustAfterTheDataGoesToTheLoop) {
  remote.Sends(ProbeReport(), GetParam().dataMs);
  remote.Sends(Buttons(0, kButtonB), GetParam().afterMs);
  remote.Sends(Buttons(0, 0));
  remote.Sends(HomeReport());
  EXPECT_EQ(Run(), kExitOk);
  EXPECT_THAT(desktop.mouse, ElementsAre(LeftDown(), LeftUp()));
  EXPECT_EQ(remote.reportsRead, 4);
}

INSTANTIATE_TEST_SUITE_P(Times, ProbeHandOver,
                         ::testing::Values(HandOver{0, 1}, HandOver{0, 99},
                                           HandOver{0, 100}, HandOver{0, 150},
                                           HandOver{50, 1}, HandOver{50, 50},
                                           HandOver{95, 4}, HandOver{95, 6},
                                           HandOver{97, 1}, HandOver{97, 300}),
                         [](const ::testing::TestParamInfo<HandOver>& info) {
                           return "data_at_" + std::to_string(info.param.dataMs) +
                                  "_ms_press_" + std::to_string(info.param.afterMs) +
                                  "_ms_later";
                         });

// The probe's only data arrives around the moment the probe decides. Well
// before it, the run starts; well after it, the run ends with the message; in
// between, the worker may take the report in its last read, and either way
// the run is one or the other, cleanly.
class ProbeDeadline : public Faults, public ::testing::WithParamInterface<int> {};

TEST_P(ProbeDeadline, DataAroundTheDecision) {
  const int atMs = GetParam();
  remote.Sends(ProbeReport(), atMs);
  remote.Sends(HomeReport());
  const int code = Run();
  if (atMs <= 95) {
    EXPECT_EQ(code, kExitOk);
  }
  if (atMs >= 105) {
    EXPECT_EQ(code, kExitNoData);
  }
  if (code == kExitOk) {
    EXPECT_THAT(desktop.messages, IsEmpty());
    EXPECT_EQ(desktop.console.rfind("###", 0), 0u);
  } else {
    EXPECT_EQ(code, kExitNoData);
    EXPECT_THAT(desktop.messages, ElementsAre(kCannotOpen));
    EXPECT_EQ(desktop.console, "");
    EXPECT_THAT(remote.WrittenBytes(), ElementsAre(B({0x12, 0x00, 0x31})));
    // The worker leaves within one read's bound and one pause.
    EXPECT_LE(fake::NowUs(), (100 + platform::kProbeReadLimitMs + 100 + 5) * 1000LL);
  }
}

INSTANTIATE_TEST_SUITE_P(Times, ProbeDeadline,
                         ::testing::Values(90, 95, 98, 99, 100, 101, 102, 105, 110,
                                           124, 126, 200));

}  // namespace
