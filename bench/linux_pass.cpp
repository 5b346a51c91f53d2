#include "linux_pass.h"

#include <unistd.h>

#include <cstring>

#include "platform/linux/linux_backend.h"
#include "pointer/control_loop.h"
#include "remote/remote.h"

// The benchmarks bring their own remote (bench_hid.cpp) in place of the
// backend's HID part, whose stop the backend's shutdown calls.
namespace linuxbackend {
void StopHid() {}
}  // namespace linuxbackend

namespace benchlinux {

bool RunPassesOnPipeConsole(benchmark::State& state, const benchremote::Report* reports,
                            int count) {
  int keys[2];
  if (pipe(keys) != 0) {
    state.SkipWithError("no pipe for the console");
    return false;
  }
  linuxbackend::StartConsole(keys[0]);
  // As in the tool: the watcher says when the console or the desktop's
  // connection has something to read.
  const bool watching = linuxbackend::StartWaitWatch();
  if (!watching) state.SkipWithError("the wait watcher did not start");
  std::memset(&remoteInput, 0, sizeof remoteInput);
  benchremote::Feed(&state, reports, count);
  if (watching) RunControlLoop();
  linuxbackend::StopWaitWatch();
  linuxbackend::StopConsole();
  close(keys[0]);
  close(keys[1]);
  return true;
}

}  // namespace benchlinux
