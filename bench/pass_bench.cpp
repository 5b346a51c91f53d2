// One whole pass of the control loop on the test platform: the decode of a
// report 0x33, the button actions, the infrared stage and the D-pad stage.
#include <benchmark/benchmark.h>

#include <cstring>

#include "pointer/dpad_motion.h"
#include "pointer/ir_pointing.h"
#include "remote/remote.h"
#include "tests/fake/fake_platform.h"

namespace {

// A report 0x33 with D-pad right held and two points in view.
const uint8_t kReport[22] = {0x33, 0x02, 0x00, 0x80, 0x80, 0x9A,
                             0x34, 0x12, 0x9B, 0x60, 0x20, 0x5B};

void BM_DecodeAndStages(benchmark::State& state) {
  fake::Reset();
  std::memset(&remoteInput, 0, sizeof remoteInput);
  IrPointingState ir = InitialIrPointingState();
  DpadMotionState dpad = InitialDpadMotionState();
  for (auto _ : state) {
    DecodeReport(kReport, sizeof kReport, &remoteInput);
    UpdateIrPointing(ir);
    UpdateDpadMotion(dpad);
    benchmark::DoNotOptimize(remoteInput);
  }
  fake::Reset();
}
BENCHMARK(BM_DecodeAndStages);

}  // namespace

BENCHMARK_MAIN();
