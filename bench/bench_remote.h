// The remote of the in-process benchmarks: it hands the control loop prepared
// reports straight from memory, one per read, for as long as the benchmark
// wants passes, and then Home, which ends the loop. One benchmark iteration
// is thus exactly one pass of the loop.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>

namespace benchremote {

// A report as the remote sends it in mode 0x33: number, two button bytes,
// three accelerometer bytes, twelve bytes of camera points.
constexpr int kReportLength = 18;
struct Report {
  uint8_t bytes[kReportLength];
};

// Report 0x33 with these buttons and both points at camera (x, y).
Report Make(uint8_t buttons1, uint8_t buttons2, int x, int y);

// Every read that may wait takes the next of the count reports, in a ring,
// while state->KeepRunning(); the read after the last iteration brings Home.
// A read that may not wait (the loop's look at its start) finds none.
void Feed(benchmark::State* state, const Report* reports, int count);

// Output reports the loop sent (rumble pulses); the benchmarks leave Plus and
// Minus alone, so this stays 0.
extern long writes;

}  // namespace benchremote
