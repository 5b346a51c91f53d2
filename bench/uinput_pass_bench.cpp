// One whole pass of the control loop on the Linux desktop side of a Wayland
// session, the uinput virtual pointer, next to the floor: the bare writes of
// the same input events to a uinput device, with nothing around them.
//
// The pass is RunControlLoop with the backend's uinput and console parts; the
// remote is the in-memory one of bench_hid.cpp and the console reads an
// open, empty pipe. The devices are real (it needs /dev/uinput: run it as
// root, or in the test VM), but no compositor is asked for the desktop: it
// is taken to be 1920x1080.
//
// Pointing with the D-pad held right, a pass writes two frames of ABS_X and
// SYN_REPORT: the infrared stage puts the cursor back on its spot and the
// D-pad stage moves it 14 pixels right (the y value does not change, so it
// is not written). Pointing still, both placements are where the cursor
// already is and nothing is written at all: that pass has no floor.
//
// Every write hands the events to the kernel's input core, which passes them
// on to every reader of the device's event node (libinput, in the
// compositor) before the write returns: the time of the write is the time
// until libinput can read the event.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <linux/uinput.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstring>

#include "abs_frame.h"
#include "bench_remote.h"
#include "linux_pass.h"
#include "platform/linux/linux_backend.h"
#include "platform/platform.h"
#include "remote/remote.h"

namespace {

using benchremote::Make;
using benchremote::Report;

constexpr linuxbackend::DesktopBox kBox = {0, 0, 1920, 1080};

struct Devices {
  int absFd = -1;
  int relFd = -1;
};

bool MakeDevices(benchmark::State& state, Devices* d) {
  d->absFd = open("/dev/uinput", O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  d->relFd = open("/dev/uinput", O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  if (d->absFd < 0 || d->relFd < 0 || !linuxbackend::CreateUinputDevices(d->absFd, d->relFd)) {
    state.SkipWithError("needs /dev/uinput (root, the uinput module)");
    return false;
  }
  return true;
}

// Closing the descriptors removes the devices.
void CloseDevices(Devices* d) {
  for (int* fd : {&d->absFd, &d->relFd}) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
  }
}

void RunPasses(benchmark::State& state, const Report* reports, int count) {
  Devices d;
  if (!MakeDevices(state, &d)) {
    CloseDevices(&d);
    return;
  }
  linuxbackend::StartUinputPointer(d.absFd, d.relFd, kBox);
  benchlinux::RunPassesOnPipeConsole(state, reports, count);
  linuxbackend::CloseUinputDesktop();
}

// Camera (400, 600) places the cursor at (848, 776).
void BM_Pass(benchmark::State& state) {
  const Report reports[] = {Make(kButtonRight, 0x00, 400, 600)};
  RunPasses(state, reports, 1);
}

void BM_PassStill(benchmark::State& state) {
  const Report reports[] = {Make(0x00, 0x00, 400, 600)};
  RunPasses(state, reports, 1);
}

// The bare writes of a pass with the D-pad held: two frames of ABS_X, back
// and forth.
void BM_Floor(benchmark::State& state) {
  Devices d;
  if (!MakeDevices(state, &d)) {
    CloseDevices(&d);
    return;
  }
  benchframe::AbsXFrame frame = benchframe::MakeAbsXFrame();
  const int back = linuxbackend::AbsValue(848, kBox.width);
  const int on = linuxbackend::AbsValue(862, kBox.width);
  for (auto _ : state) {
    frame.events[0].value = back;
    benchmark::DoNotOptimize(write(d.absFd, frame.events, sizeof frame.events));
    frame.events[0].value = on;
    benchmark::DoNotOptimize(write(d.absFd, frame.events, sizeof frame.events));
  }
  CloseDevices(&d);
}

}  // namespace

BENCHMARK(BM_Pass)->UseRealTime();
BENCHMARK(BM_Floor)->UseRealTime();
BENCHMARK(BM_PassStill)->UseRealTime();

BENCHMARK_MAIN();
