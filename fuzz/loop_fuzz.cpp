// Fuzz target: the whole control loop fed an arbitrary sequence of reports,
// silences, failed reads and console keys on the test platform.
//
// Input layout: one byte of settings, then steps. Each step starts with a
// byte whose low 3 bits choose its kind:
//   0-3  a report: the next byte gives its length (0 to 31), then its bytes
//   4    silence: the next byte times 4 ms
//   5    a read that fails at once
//   6    a console key: the next byte is the key, the one after it the time
//        (times 10 ms) from which it waits
//   7    the remote goes away here
// The remote goes away after the last step and Esc waits at 10 s, so every
// run ends.
//
// After each run: no mouse button left pressed and no press or release out
// of turn, no pass without a report, no read that neither took a step nor
// waited out its time limit, the last output report leaves the rumble off,
// and the decoded infrared values stay in 0 to 1023.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "app/program.h"
#include "pointer/control_loop.h"
#include "remote/remote.h"
#include "tests/fake/fake_platform.h"
#include "tests/program_state.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

bool InRange(int32_t v) { return v >= 0 && v <= 1023; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > 2048) return 0;
  ResetProgramState();
  // The busy waits (80 ms a rumble pulse) need not be exact here: 2 ms steps
  // make each one a few dozen counter reads instead of some thousands.
  fake::counterStepUs = 2000;
  fake::ScriptedRemote& remote = fake::remote;
  fake::RecordedDesktop& desktop = fake::desktop;

  const uint8_t settings = data[0];
  remote.silentAfterStatus = (settings & 0x01) != 0;
  if (settings & 0x02) remote.failWritesFrom = settings >> 3;

  size_t i = 1;
  auto next = [&]() -> uint8_t { return i < size ? data[i++] : 0; };
  while (i < size) {
    const uint8_t op = next();
    switch (op & 0x07) {
      case 0: case 1: case 2: case 3: {
        const size_t length = next() & 0x1F;
        fake::Bytes report;
        while (report.size() < length && i < size) report.push_back(next());
        remote.Sends(report);
        break;
      }
      case 4:
        remote.Silent(next() * 4);
        break;
      case 5:
        remote.FailsRead();
        break;
      case 6: {
        const int key = next();
        desktop.KeyAt(next() * 10, key);
        break;
      }
      case 7:
        remote.Disappears();
        break;
    }
  }
  remote.Disappears();
  // A remote kept silent for good (a status report whose answer never gets
  // through) is left by the user with Esc.
  desktop.KeyAt(10000, platform::kKeyEsc);
  const int items = static_cast<int>(remote.script.size());

  hidHandle = platform::OpenHidHandle(kRemoteVendor, kRemoteProduct);
  const LoopEnd end = RunControlLoop();

  Check(end == kLoopQuit || end == kLoopDeviceLost);
  Check(end != kLoopDeviceLost || remote.lost);
  Check(!remote.timeCapHit);
  Check(!desktop.leftPressed && !desktop.rightPressed);
  Check(desktop.buttonEventsOutOfTurn == 0);
  Check(desktop.cursorReads <= remote.reportsRead);
  const int64_t limitUs = platform::kProbeReadLimitMs * 1000LL;
  Check(remote.reads <= items + fake::NowUs() / limitUs + remote.readsEnded + 2);
  if (!remote.written.empty()) Check((remote.written.back().bytes[1] & 0x01) == 0);
  if (remoteInput.irSeen) {
    Check(InRange(remoteInput.ir1X) && InRange(remoteInput.ir1Y) &&
          InRange(remoteInput.ir2X) && InRange(remoteInput.ir2Y));
  }
  ResetProgramState();
  return 0;
}
