// The control loop on the Linux backend's console and the in-memory remote,
// shared by the benchmarks of the Linux desktop sides.
#pragma once

#include <benchmark/benchmark.h>

#include "bench_remote.h"

namespace benchlinux {

// Runs RunControlLoop over the reports (see benchremote::Feed) with the
// console reading an open, empty pipe and the wait watcher watching it and
// the desktop's connection, as in the tool. The desktop side must be open
// already. False, with the benchmark skipped, when there is no pipe.
bool RunPassesOnPipeConsole(benchmark::State& state, const benchremote::Report* reports,
                            int count);

}  // namespace benchlinux
