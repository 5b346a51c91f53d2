// One whole pass of the control loop on the real Linux desktop side, against
// a running X server (DISPLAY, e.g. Xvfb), next to the floor: the bare Xlib
// requests that such a pass must make, with nothing around them.
//
// The pass is RunControlLoop with the Linux backend's X11 and console parts
// (platform/linux/desktop_x11.cpp, console.cpp, system.cpp); only the remote is
// the in-memory one of bench_hid.cpp. The console reads an open, empty pipe,
// so every pass looks at it as it looks at a terminal.
//
// Pointing with the D-pad held, a pass asks the server for the pointer once
// (a round trip) and warps twice: the infrared stage places the cursor, the
// D-pad stage moves it on from there. The floor makes exactly these three
// requests on a connection of its own: warp and flush, query, warp and flush.
#include <X11/Xlib.h>

#include <cstdlib>

#include "bench_remote.h"
#include "linux_pass.h"
#include "platform/linux/linux_backend.h"
#include "platform/platform.h"
#include "remote/remote.h"

namespace {

using benchremote::Make;
using benchremote::Report;

bool HasDisplay(benchmark::State& state) {
  const char* display = std::getenv("DISPLAY");
  if (display == nullptr || display[0] == '\0') {
    state.SkipWithError("needs an X server: set DISPLAY (e.g. start Xvfb)");
    return false;
  }
  return true;
}

void RunPasses(benchmark::State& state, const Report* reports, int count) {
  if (!HasDisplay(state) || !linuxbackend::OpenDesktop()) {
    state.SkipWithError("cannot open the X display");
    return;
  }
  benchlinux::RunPassesOnPipeConsole(state, reports, count);
  linuxbackend::CloseDesktop();
}

// Camera (400, 600) places the cursor at (848, 776) on the screen.
void BM_Pass(benchmark::State& state) {
  const Report reports[] = {Make(kButtonRight, 0x00, 400, 600)};
  RunPasses(state, reports, 1);
}

// The bare requests of a pass: the IR stage's warp, the D-pad stage's
// read-back and, when the cursor moves on, its warp.
void Floor(benchmark::State& state, bool dpadWarp) {
  if (!HasDisplay(state)) return;
  Display* d = XOpenDisplay(nullptr);
  if (d == nullptr) {
    state.SkipWithError("cannot open the X display");
    return;
  }
  const Window root = DefaultRootWindow(d);
  for (auto _ : state) {
    XWarpPointer(d, None, root, 0, 0, 0, 0, 848, 776);
    XFlush(d);
    Window r, c;
    int x, y, wx, wy;
    unsigned mask;
    XQueryPointer(d, root, &r, &c, &x, &y, &wx, &wy, &mask);
    if (dpadWarp) {
      XWarpPointer(d, None, root, 0, 0, 0, 0, x + 14, y);
      XFlush(d);
    }
    benchmark::DoNotOptimize(x);
  }
  XCloseDisplay(d);
}

// The same requests bare: warp, query, warp.
void BM_Floor(benchmark::State& state) { Floor(state, true); }

// Pointing at one spot, no button held: the D-pad stage sets the cursor where
// it just read it, which the backend leaves out, so one warp and one query.
void BM_PassStill(benchmark::State& state) {
  const Report reports[] = {Make(0x00, 0x00, 400, 600)};
  RunPasses(state, reports, 1);
}

void BM_FloorStill(benchmark::State& state) { Floor(state, false); }

}  // namespace

BENCHMARK(BM_Pass)->UseRealTime();
BENCHMARK(BM_Floor)->UseRealTime();
BENCHMARK(BM_PassStill)->UseRealTime();
BENCHMARK(BM_FloorStill)->UseRealTime();

BENCHMARK_MAIN();
