// One whole pass of the control loop, logic only: the console check, the read
// and decode of a report 0x33 (handed over from memory), the Home test, the
// button actions, the infrared stage and the D-pad stage, on a platform that
// only counts (bench_desktop.cpp, bench_hid.cpp). Each benchmark iteration is
// one pass of RunControlLoop.
#include <benchmark/benchmark.h>

#include <cstring>

#include "bench_desktop.h"
#include "bench_remote.h"
#include "pointer/control_loop.h"
#include "remote/remote.h"

namespace {

using benchremote::Make;
using benchremote::Report;

void RunPasses(benchmark::State& state, const Report* reports, int count) {
  std::memset(&remoteInput, 0, sizeof remoteInput);
  benchdesktop::counters = benchdesktop::Counters{};
  benchremote::Feed(&state, reports, count);
  RunControlLoop();
  const double passes = static_cast<double>(state.iterations());
  state.counters["cursor_sets_per_pass"] = benchdesktop::counters.cursorSets / passes;
  state.counters["mouse_events_per_pass"] = benchdesktop::counters.mouseEvents / passes;
}

// The remote points at one spot and no button is held: the common pass.
void BM_PassPointing(benchmark::State& state) {
  const Report reports[] = {Make(0x00, 0x00, 400, 600)};
  RunPasses(state, reports, 1);
}
BENCHMARK(BM_PassPointing);

// Pointing while the D-pad is held right: both stages move the cursor.
void BM_PassPointingDpad(benchmark::State& state) {
  const Report reports[] = {Make(kButtonRight, 0x00, 400, 600)};
  RunPasses(state, reports, 1);
}
BENCHMARK(BM_PassPointingDpad);

// A mix that sends events: the pointed spot moves, B and A click, One and Two
// turn the wheel, the D-pad is pressed and let go.
void BM_PassMixed(benchmark::State& state) {
  const Report reports[] = {
      Make(0x00, 0x00, 400, 600),         Make(0x00, kButtonB, 410, 590),
      Make(kButtonRight, 0x00, 420, 580), Make(kButtonUp, kButtonA, 430, 570),
      Make(0x00, kButtonOne, 440, 560),   Make(kButtonLeft, kButtonTwo, 450, 550),
      Make(kButtonDown, 0x00, 460, 540),  Make(0x00, kButtonB | kButtonA, 470, 530),
  };
  RunPasses(state, reports, 8);
}
BENCHMARK(BM_PassMixed);

}  // namespace

BENCHMARK_MAIN();
