// The link probe: a worker reads while the main thread waits 100 ms.
#include <gmock/gmock.h>

#include "tests/support.h"

namespace {

class Probe : public TestPlatform {
 protected:
  void SetUp() override {
    TestPlatform::SetUp();
    hidHandle = platform::OpenHidHandle(kRemoteVendor, kRemoteProduct);
  }
  // Probes, then makes sure the worker has ended, as the program does.
  int ProbeAndStop() {
    const int result = ProbeLink();
    StopProbeWorker();
    EXPECT_EQ(probeActive.load(), 0) << "the worker is still in its loop";
    EXPECT_EQ(probeThread, platform::kNoThread);
    return result;
  }
};

struct ProbeCase {
  const char* name;
  void (*script)(fake::ScriptedRemote&);
  int result;
};
void PrintTo(const ProbeCase& c, std::ostream* os) { *os << c.name; }

const ProbeCase kProbeCases[] = {
    {"data at once", [](fake::ScriptedRemote& r) { r.Sends(ProbeReport()); }, 1},
    {"data after 60 ms of silence",
     [](fake::ScriptedRemote& r) { r.Sends(ProbeReport(), 60); }, 1},
    {"data just inside the probe time",
     [](fake::ScriptedRemote& r) { r.Sends(ProbeReport(), 98); }, 1},
    {"data after the probe time",
     [](fake::ScriptedRemote& r) { r.Sends(ProbeReport(), 150); }, 0},
    {"a silent remote", [](fake::ScriptedRemote& r) { r.Silent(5000); }, 0},
    {"a first report with accelerometer X 0",
     [](fake::ScriptedRemote& r) {
       r.Sends(Report(0x31).Accel(0x00, 0x80, 0x80));
       r.Sends(ProbeReport());
     },
     0},
    {"a first report without accelerometer data",
     [](fake::ScriptedRemote& r) {
       r.Sends(Report(0x30));
       r.Sends(ProbeReport());
     },
     0},
    {"an acknowledgement first",
     [](fake::ScriptedRemote& r) {
       r.Sends(Report(0x22).Raw(3, 0x12));
       r.Sends(ProbeReport());
     },
     0},
    {"a failed read, then data",
     [](fake::ScriptedRemote& r) {
       r.FailsRead();
       r.Sends(ProbeReport(), 10);
     },
     1},
    {"a remote that goes away", [](fake::ScriptedRemote& r) { r.Disappears(10); }, 0},
};

class ProbeCases : public Probe, public ::testing::WithParamInterface<ProbeCase> {};

TEST_P(ProbeCases, DecidesAndTheWorkerEnds) {
  GetParam().script(remote);
  EXPECT_EQ(ProbeAndStop(), GetParam().result);
  EXPECT_EQ(desktop.threadsStarted, 1);
  EXPECT_EQ(desktop.threadsJoined, 1);
}

INSTANTIATE_TEST_SUITE_P(Cases, ProbeCases, ::testing::ValuesIn(kProbeCases), CaseName());

TEST_F(Probe, LeavesTheReportsAfterTheDataToTheControlLoop) {
  remote.Sends(ProbeReport());
  remote.Sends(Buttons(0, kButtonB));
  ASSERT_EQ(ProbeAndStop(), 1);
  EXPECT_EQ(remote.reportsRead, 1);
  EXPECT_EQ(remote.script.size(), 1u);
}

TEST_F(Probe, StartsFromAClearedAccelerometerByte) {
  remoteInput.accelX = 0x80;  // left from an earlier report
  remote.Silent(1000);
  EXPECT_EQ(ProbeAndStop(), 0);
}

TEST_F(Probe, TheWorkerStopsReadingSoonAfterASilentProbe) {
  remote.Silent(10000);
  EXPECT_EQ(ProbeAndStop(), 0);
  // The worker reads in turns of its read's bound and leaves its loop at the
  // first turn that ends after the probe time.
  EXPECT_LE(fake::NowUs(), 100000 + platform::kProbeReadLimitMs * 1000 + 2000);
  EXPECT_LE(remote.reads, 100 / platform::kProbeReadLimitMs + 2);
  EXPECT_EQ(remote.unlimitedReads, 0);
}

TEST_F(Probe, AWorkerThatCannotStartFailsTheProbe) {
  desktop.failThreadStart = true;
  remote.Sends(ProbeReport());
  EXPECT_EQ(ProbeAndStop(), 0);
  EXPECT_EQ(desktop.threadsJoined, 0);
  EXPECT_EQ(remote.reads, 0);
}

}  // namespace
