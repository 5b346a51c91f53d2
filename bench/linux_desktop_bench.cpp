// The desktop side of one pass on Linux, against a real X server (run it with
// DISPLAY set, e.g. under Xvfb): the infrared and D-pad stages place and read
// the cursor through Xlib, and the loop asks whether the server is still
// there and whether a key is waiting.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>

#include "platform/linux/linux_backend.h"
#include "platform/platform.h"
#include "pointer/dpad_motion.h"
#include "pointer/ir_pointing.h"
#include "remote/remote.h"

namespace {

// Report 0x33 with two points in view; the second moves them by one camera
// unit, so that passes alternate between two cursor targets.
const uint8_t kStill[12] = {0x33, 0x00, 0x00, 0x80, 0x80, 0x80,
                            0x90, 0x58, 0x90, 0x90, 0x58, 0x90};
const uint8_t kMoved[12] = {0x33, 0x00, 0x00, 0x80, 0x80, 0x80,
                            0x30, 0x58, 0x90, 0x30, 0x58, 0x90};

bool Open(benchmark::State& state) {
  const char* display = std::getenv("DISPLAY");
  if (display == nullptr || display[0] == '\0' || !linuxbackend::OpenDesktop()) {
    state.SkipWithError("needs an X server: set DISPLAY (e.g. start Xvfb)");
    return false;
  }
  return true;
}

void Pass(const uint8_t* report, IrPointingState& ir, DpadMotionState& dpad) {
  DecodeReport(report, 12, &remoteInput);
  UpdateIrPointing(ir);
  UpdateDpadMotion(dpad);
  benchmark::DoNotOptimize(platform::DesktopLost());
}

// The remote points at a still spot: one cursor read-back per pass.
void BM_PassStillPointer(benchmark::State& state) {
  if (!Open(state)) return;
  std::memset(&remoteInput, 0, sizeof remoteInput);
  IrPointingState ir = InitialIrPointingState();
  DpadMotionState dpad = InitialDpadMotionState();
  for (int i = 0; i < 50; ++i) Pass(kStill, ir, dpad);  // let the smoothing settle
  for (auto _ : state) Pass(kStill, ir, dpad);
  linuxbackend::CloseDesktop();
}
BENCHMARK(BM_PassStillPointer);

// The pointed spot changes every pass: a warp, a read-back.
void BM_PassMovingPointer(benchmark::State& state) {
  if (!Open(state)) return;
  std::memset(&remoteInput, 0, sizeof remoteInput);
  IrPointingState ir = InitialIrPointingState();
  DpadMotionState dpad = InitialDpadMotionState();
  bool moved = false;
  for (auto _ : state) {
    Pass(moved ? kMoved : kStill, ir, dpad);
    moved = !moved;
  }
  linuxbackend::CloseDesktop();
}
BENCHMARK(BM_PassMovingPointer);

// A click: press and release through XTest, flushed.
void BM_Click(benchmark::State& state) {
  if (!Open(state)) return;
  for (auto _ : state) {
    platform::MouseEvent(platform::kMouseLeftDown, 0);
    platform::MouseEvent(platform::kMouseLeftUp, 0);
  }
  linuxbackend::CloseDesktop();
}
BENCHMARK(BM_Click);

// The console check at the start of every pass, with no key waiting.
void BM_KeyWaitingNoKey(benchmark::State& state) {
  linuxbackend::StartConsole(0);
  for (auto _ : state) benchmark::DoNotOptimize(platform::KeyWaiting());
  linuxbackend::StopConsole();
}
BENCHMARK(BM_KeyWaitingNoKey);

}  // namespace

BENCHMARK_MAIN();
