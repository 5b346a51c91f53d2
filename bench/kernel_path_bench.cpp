// The way a report takes through the real kernel, measured in the test VM:
// a report written to a remote made through /dev/uhid, read by the tool from
// the hidraw node, and the cursor move it makes as a reader of the tool's
// pointer sees it: on the uinput device, the kernel's timestamp of the event
// as evdev hands it out; on X11, the moment an X client gets the motion.
// The floor is a bare program that does the least the same way can: it reads
// the hidraw node and, per report, writes one uinput event (or warps the X
// pointer once). All times are CLOCK_MONOTONIC of the machine it runs on.
//
//   kernel_path_bench remote COUNT WRITES [--at-once]
//       A remote (the virtual remote's model) that answers the tool's probe
//       and set-up and, once the camera is set up and report mode 0x33
//       selected (--at-once: 300 ms after the device is first opened),
//       sends COUNT reports 0x33, one every 10 ms, each with both camera
//       points one step further along a path, so every one moves the cursor;
//       then Home, which ends the tool. WRITES gets the time just before each
//       report's write to /dev/uhid, one per line (ns).
//   kernel_path_bench floor-uinput | floor-x11
//       The floor: reads the first hidraw node; per report, one ABS_X event
//       and its SYN_REPORT on a uinput device "kernel path floor", or one
//       XWarpPointer and XFlush. Ends at SIGTERM.
//   kernel_path_bench evdev NAME SEEN
//       Waits for the input device NAME, reads its event node with
//       CLOCK_MONOTONIC timestamps and writes, per frame that moved an
//       absolute axis, the frame's timestamp (ns) to SEEN. Ends at SIGTERM.
//   kernel_path_bench x11 SEEN
//       An X client that selects XInput2 motion on the root window and writes
//       the time it got each motion (ns) to SEEN. Ends at SIGTERM.
//   kernel_path_bench stats WRITES SEEN
//       Pairs each report with the first move seen after its write and before
//       the next report's, and prints "reports N moves M median A p99 B max C"
//       (µs).
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/input.h>
#include <linux/uhid.h>
#include <linux/uinput.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "abs_frame.h"
#include "virtual-remote/remote_model.h"
#include "virtual-remote/uhid_device.h"

namespace {

constexpr long long kPeriodNs = 10000000;  // 100 reports a second
// After the set-up, before the stream: the readers open the new devices.
constexpr long long kSettleNs = 300000000;

volatile sig_atomic_t stopRequested = 0;
void OnStop(int) { stopRequested = 1; }

void CatchStop() {
  struct sigaction action = {};
  action.sa_handler = OnStop;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

long long NowNs() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

void SleepNs(long long ns) {
  timespec t = {static_cast<time_t>(ns / 1000000000LL), static_cast<long>(ns % 1000000000LL)};
  nanosleep(&t, nullptr);
}

bool WriteNumbers(const char* path, const std::vector<long long>& numbers) {
  FILE* f = std::fopen(path, "w");
  if (f == nullptr) {
    std::fprintf(stderr, "kernel_path_bench: cannot write %s: %s\n", path, std::strerror(errno));
    return false;
  }
  for (long long n : numbers) std::fprintf(f, "%lld\n", n);
  return std::fclose(f) == 0;
}

std::vector<long long> ReadNumbers(const char* path) {
  std::vector<long long> numbers;
  FILE* f = std::fopen(path, "r");
  if (f == nullptr) return numbers;
  long long n;
  while (std::fscanf(f, "%lld", &n) == 1) numbers.push_back(n);
  std::fclose(f);
  return numbers;
}

// ------------------------------------------------------------ the remote

struct Remote {
  int fd = -1;
  vremote::RemoteState state;
  bool opened = false;
  long long openedNs = 0;
};

// Answers what the kernel has queued (output reports, requests) as the
// virtual remote does.
bool Answer(Remote* r) {
  for (;;) {
    uhid_event ev;
    const ssize_t n = read(r->fd, &ev, sizeof ev);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return true;
    if (n <= 0) return false;
    if (ev.type == UHID_OPEN && !r->opened) {
      r->opened = true;
      r->openedNs = NowNs();
    } else if (ev.type == UHID_OUTPUT) {
      std::vector<vremote::Reply> replies;
      vremote::HandleOutputReport(&r->state, ev.u.output.data, ev.u.output.size, &replies);
      for (const vremote::Reply& reply : replies) {
        if (!vremote::SendInput(r->fd, reply.bytes)) return false;
      }
    } else if (ev.type == UHID_GET_REPORT) {
      if (!vremote::RefuseRequest(r->fd, UHID_GET_REPORT_REPLY, ev.u.get_report.id)) return false;
    } else if (ev.type == UHID_SET_REPORT) {
      if (!vremote::RefuseRequest(r->fd, UHID_SET_REPORT_REPLY, ev.u.set_report.id)) return false;
    }
  }
}

// Answers for at most ns, or until the stop signal.
bool AnswerFor(Remote* r, long long ns) {
  const long long end = NowNs() + ns;
  for (long long now = NowNs(); now < end && !stopRequested; now = NowNs()) {
    pollfd p = {r->fd, POLLIN, 0};
    const int ms = static_cast<int>((end - now + 999999) / 1000000);
    if (poll(&p, 1, ms) > 0 && !Answer(r)) return false;
  }
  return true;
}

// Camera point i of the path: back and forth between x 400 and 600 in steps
// of 2 (6 pixels of the cursor's target), one unit lower on every turn; the
// cursor stays inside a 1024x768 screen (x 248 to 848, y 176 to 323), so
// every report moves it.
void PathPoint(long i, int* x, int* y) {
  const long step = i % 200;
  *x = 400 + 2 * static_cast<int>(step < 100 ? step : 200 - step);
  *y = 400 + static_cast<int>((i / 100) % 50);
}

int RunRemote(long count, const char* writesPath, bool atOnce) {
  Remote r;
  r.fd = open("/dev/uhid", O_RDWR | O_CLOEXEC | O_NONBLOCK);
  if (r.fd < 0) {
    std::fprintf(stderr, "kernel_path_bench: cannot open /dev/uhid: %s\n", std::strerror(errno));
    return 1;
  }
  CatchStop();
  if (!vremote::CreateDevice(r.fd, BUS_USB, 0x0306)) return 1;
  std::printf("remote created\n");
  std::fflush(stdout);

  // Until the set-up is done (or the device is open, --at-once).
  while (!stopRequested) {
    const bool ready = atOnce ? r.opened
                              : vremote::CameraReady(r.state) && r.state.mode == 0x33;
    if (ready) break;
    if (!AnswerFor(&r, 5000000)) return 1;
  }
  if (!AnswerFor(&r, kSettleNs)) return 1;

  std::vector<long long> writes;
  writes.reserve(static_cast<size_t>(count));
  r.state.pointing = true;
  long long due = NowNs();
  for (long i = 0; i < count && !stopRequested; ++i) {
    PathPoint(i, &r.state.x, &r.state.y);
    uint8_t report[vremote::kInputReportSize];
    r.state.mode = 0x33;  // the floor reads whatever comes; the tool selected 0x33
    vremote::BuildInputReport(&r.state, report);
    writes.push_back(NowNs());
    if (!vremote::SendInput(r.fd, report)) return 1;
    due += kPeriodNs;
    if (!AnswerFor(&r, due - NowNs())) return 1;
  }
  // Home: the tool's run ends.
  r.state.buttons2 = 0x80;
  uint8_t report[vremote::kInputReportSize];
  vremote::BuildInputReport(&r.state, report);
  vremote::SendInput(r.fd, report);
  AnswerFor(&r, 1000000000LL);
  vremote::DestroyDevice(r.fd);
  close(r.fd);
  return WriteNumbers(writesPath, writes) ? 0 : 1;
}

// ------------------------------------------------------------ the floor

int OpenHidraw() {
  for (int tries = 0; tries < 1000 && !stopRequested; ++tries) {
    const int fd = open("/dev/hidraw0", O_RDONLY | O_CLOEXEC);
    if (fd >= 0) return fd;
    SleepNs(5000000);
  }
  std::fprintf(stderr, "kernel_path_bench: no /dev/hidraw0\n");
  return -1;
}

int MakeFloorDevice() {
  const int fd = open("/dev/uinput", O_WRONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  uinput_abs_setup abs;
  std::memset(&abs, 0, sizeof abs);
  abs.code = ABS_X;
  abs.absinfo.maximum = 65535;
  abs.absinfo.resolution = 16;
  uinput_setup setup;
  std::memset(&setup, 0, sizeof setup);
  setup.id.bustype = BUS_VIRTUAL;
  std::snprintf(setup.name, sizeof setup.name, "kernel path floor");
  if (ioctl(fd, UI_SET_EVBIT, EV_ABS) != 0 || ioctl(fd, UI_SET_ABSBIT, ABS_X) != 0 ||
      ioctl(fd, UI_ABS_SETUP, &abs) != 0 || ioctl(fd, UI_DEV_SETUP, &setup) != 0 ||
      ioctl(fd, UI_DEV_CREATE) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

int RunFloor(bool x11) {
  CatchStop();
  int device = -1;
  Display* display = nullptr;
  if (x11) {
    display = XOpenDisplay(nullptr);
    if (display == nullptr) {
      std::fprintf(stderr, "kernel_path_bench: cannot open the X display\n");
      return 1;
    }
  } else {
    device = MakeFloorDevice();
    if (device < 0) {
      std::fprintf(stderr, "kernel_path_bench: cannot make a uinput device: %s\n",
                   std::strerror(errno));
      return 1;
    }
  }
  const int hid = OpenHidraw();
  if (hid < 0) return 1;
  benchframe::AbsXFrame frame = benchframe::MakeAbsXFrame();
  int value = 0;
  while (!stopRequested) {
    uint8_t report[64];
    if (read(hid, report, sizeof report) <= 0) {
      if (errno == EINTR) continue;
      break;
    }
    value = (value + 1) % 1000;
    if (x11) {
      XWarpPointer(display, None, DefaultRootWindow(display), 0, 0, 0, 0, 100 + value % 500, 300);
      XFlush(display);
    } else {
      frame.events[0].value = value;
      (void)!write(device, frame.events, sizeof frame.events);
    }
  }
  close(hid);
  if (display != nullptr) XCloseDisplay(display);
  if (device >= 0) close(device);
  return 0;
}

// ------------------------------------------------------------ the readers

// The event node of the input device named name, "/dev/input/eventN".
bool FindDevice(const char* name, std::string* node) {
  DIR* dir = opendir("/sys/class/input");
  if (dir == nullptr) return false;
  bool found = false;
  while (dirent* e = readdir(dir)) {
    if (std::strncmp(e->d_name, "event", 5) != 0) continue;
    const std::string path = std::string("/sys/class/input/") + e->d_name + "/device/name";
    FILE* f = std::fopen(path.c_str(), "r");
    if (f == nullptr) continue;
    char got[256] = {};
    const bool read = std::fgets(got, sizeof got, f) != nullptr;
    std::fclose(f);
    got[std::strcspn(got, "\n")] = '\0';
    if (read && std::strcmp(got, name) == 0) {
      *node = std::string("/dev/input/") + e->d_name;
      found = true;
      break;
    }
  }
  closedir(dir);
  return found;
}

int RunEvdev(const char* name, const char* seenPath) {
  CatchStop();
  std::string node;
  int fd = -1;
  while (!stopRequested && fd < 0) {
    if (FindDevice(name, &node)) fd = open(node.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) SleepNs(2000000);
  }
  if (fd < 0) return 1;
  int clock = CLOCK_MONOTONIC;
  if (ioctl(fd, EVIOCSCLOCKID, &clock) != 0) {
    std::fprintf(stderr, "kernel_path_bench: no monotonic clock for %s\n", node.c_str());
    return 1;
  }
  std::printf("reading %s\n", node.c_str());
  std::fflush(stdout);
  std::vector<long long> seen;
  bool moved = false;
  while (!stopRequested) {
    input_event events[64];
    const ssize_t n = read(fd, events, sizeof events);
    if (n <= 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (size_t i = 0; i < static_cast<size_t>(n) / sizeof(input_event); ++i) {
      const input_event& e = events[i];
      if (e.type == EV_ABS) moved = true;
      if (e.type == EV_SYN && e.code == SYN_REPORT && moved) {
        seen.push_back(static_cast<long long>(e.input_event_sec) * 1000000000LL +
                       static_cast<long long>(e.input_event_usec) * 1000LL);
        moved = false;
      }
    }
  }
  close(fd);
  return WriteNumbers(seenPath, seen) ? 0 : 1;
}

int RunX11(const char* seenPath) {
  CatchStop();
  Display* d = XOpenDisplay(nullptr);
  int opcode, event, error;
  if (d == nullptr || !XQueryExtension(d, "XInputExtension", &opcode, &event, &error)) {
    std::fprintf(stderr, "kernel_path_bench: needs an X display with XInput2\n");
    return 1;
  }
  int major = 2, minor = 0;
  XIQueryVersion(d, &major, &minor);
  unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
  XISetMask(bits, XI_Motion);
  XIEventMask mask = {XIAllMasterDevices, sizeof bits, bits};
  XISelectEvents(d, DefaultRootWindow(d), &mask, 1);
  XSync(d, False);
  std::printf("watching\n");
  std::fflush(stdout);
  std::vector<long long> seen;
  while (!stopRequested) {
    pollfd p = {ConnectionNumber(d), POLLIN, 0};
    if (!XPending(d) && poll(&p, 1, 100) <= 0) continue;
    const long long now = NowNs();
    while (XPending(d)) {
      XEvent ev;
      XNextEvent(d, &ev);
      XGenericEventCookie* cookie = &ev.xcookie;
      if (cookie->type != GenericEvent || cookie->extension != opcode) continue;
      if (cookie->evtype == XI_Motion) seen.push_back(now);
    }
  }
  XCloseDisplay(d);
  return WriteNumbers(seenPath, seen) ? 0 : 1;
}

// ------------------------------------------------------------ the figures

int RunStats(const char* writesPath, const char* seenPath) {
  const std::vector<long long> writes = ReadNumbers(writesPath);
  std::vector<long long> seen = ReadNumbers(seenPath);
  std::sort(seen.begin(), seen.end());
  std::vector<double> us;
  for (size_t i = 0; i < writes.size(); ++i) {
    const long long until = i + 1 < writes.size() ? writes[i + 1] : writes[i] + kPeriodNs;
    const auto first = std::lower_bound(seen.begin(), seen.end(), writes[i]);
    if (first != seen.end() && *first < until) us.push_back((*first - writes[i]) / 1000.0);
  }
  std::sort(us.begin(), us.end());
  if (us.empty()) {
    std::printf("reports %zu moves 0\n", writes.size());
    return 1;
  }
  const auto at = [&](double q) { return us[static_cast<size_t>(q * (us.size() - 1) + 0.5)]; };
  std::printf("reports %zu moves %zu median %.0f p99 %.0f max %.0f\n", writes.size(), us.size(),
              at(0.5), at(0.99), us.back());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string what = argc > 1 ? argv[1] : "";
  if (what == "remote" && (argc == 4 || (argc == 5 && std::strcmp(argv[4], "--at-once") == 0))) {
    return RunRemote(std::atol(argv[2]), argv[3], argc == 5);
  }
  if (what == "floor-uinput" && argc == 2) return RunFloor(false);
  if (what == "floor-x11" && argc == 2) return RunFloor(true);
  if (what == "evdev" && argc == 4) return RunEvdev(argv[2], argv[3]);
  if (what == "x11" && argc == 3) return RunX11(argv[2]);
  if (what == "stats" && argc == 4) return RunStats(argv[2], argv[3]);
  std::fprintf(stderr,
               "usage: kernel_path_bench remote COUNT WRITES [--at-once] | floor-uinput | "
               "floor-x11 | evdev NAME SEEN | x11 SEEN | stats WRITES SEEN\n");
  return 2;
}
