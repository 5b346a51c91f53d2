// virtual-remote: a remote that the kernel sees as a real HID device, made
// through /dev/uhid. It plays a scenario file (buttons held, where it points,
// silence, disconnect) and logs every output report it receives.
//
//   virtual-remote [--product 0x0330] [--bluetooth] [--clock-on-signal] SCENARIO-FILE
//
// It presents product 0x0306, the first model, or with --product 0x0330 the
// newer one. It appears on the USB bus, where the generic HID driver binds
// it; with --bluetooth on the Bluetooth bus, as a real remote does, where the
// kernel's own driver for the remote (hid-wiimote) binds it and talks to it
// too. The scenario's times count from the first open of the device, or with
// --clock-on-signal from the first SIGUSR1 (the kernel's driver opens the
// device as soon as it binds it, long before a program does).
//
// The log goes to standard output, one line per event, each starting with the
// seconds since the remote was created. Output reports read
// "<time> out <bytes in hex>". SIGINT or SIGTERM removes the device and ends
// the program.
#include <errno.h>
#include <fcntl.h>
#include <linux/uhid.h>
#include <poll.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "remote_model.h"
#include "uhid_device.h"

namespace {

using vremote::CreateDevice;
using vremote::DestroyDevice;
using vremote::RefuseRequest;
using vremote::SendInput;

constexpr uint16_t kProducts[] = {0x0306, 0x0330};  // the first model, the newer one
// The USB bus: on the Bluetooth bus the kernel keeps this vendor and product
// for its own driver of the remote, and the generic driver refuses it.
constexpr uint16_t kBusUsb = 0x03;        // BUS_USB
constexpr uint16_t kBusBluetooth = 0x05;  // BUS_BLUETOOTH
// A remote with data reports about every 10 ms.
constexpr int kReportPeriodMs = 10;
// A wake-up later than asked by more than this means that the remote stood
// still (see the main loop).
constexpr double kStoodStillSeconds = 0.03;

volatile sig_atomic_t stopRequested = 0;
volatile sig_atomic_t clockSignal = 0;

void OnStop(int) { stopRequested = 1; }
void OnClock(int) { clockSignal = 1; }

double startSeconds = 0.0;

double Now() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

void Log(const std::string& text) {
  std::printf("%9.4f %s\n", Now() - startSeconds, text.c_str());
  std::fflush(stdout);
}

std::string HexBytes(const uint8_t* data, int size) {
  std::string s;
  char b[4];
  for (int i = 0; i < size; ++i) {
    std::snprintf(b, sizeof b, i ? " %02x" : "%02x", data[i]);
    s += b;
  }
  return s;
}

struct Player {
  int fd = -1;
  vremote::RemoteState state;
  std::vector<vremote::Step> steps;
  size_t nextStep = 0;
  bool started = false;     // the kernel has taken the device
  double clockStart = -1;   // when a program first opened it; -1 before
  bool clockOnSignal = false;  // the clock starts at SIGUSR1 instead
  double nextReport = 0;    // when the next periodic report is due
  bool changed = false;     // state changed since the last report
};

// Applies the scenario's steps that are due; times count from the first open.
void RunSteps(Player* p, double now) {
  while (p->nextStep < p->steps.size()) {
    const vremote::Step& step = p->steps[p->nextStep];
    if (step.atMs > 0 && (p->clockStart < 0 || now < p->clockStart + step.atMs / 1000.0)) break;
    const uint8_t b1 = p->state.buttons1, b2 = p->state.buttons2;
    const bool wasPointing = p->state.pointing;
    const int x = p->state.x, y = p->state.y;
    vremote::ApplyStep(&p->state, step);
    if (b1 != p->state.buttons1 || b2 != p->state.buttons2 || wasPointing != p->state.pointing ||
        x != p->state.x || y != p->state.y) {
      p->changed = true;
    }
    ++p->nextStep;
  }
}

// Handles one event from the kernel. Returns false when the device is unusable.
bool HandleEvent(Player* p, const uhid_event& ev, double now) {
  switch (ev.type) {
    case UHID_START:
      p->started = true;
      Log("start");
      break;
    case UHID_STOP:
      p->started = false;
      Log("stop");
      break;
    case UHID_OPEN:
      if (p->clockStart < 0 && !p->clockOnSignal) p->clockStart = now;
      Log("open");
      break;
    case UHID_CLOSE:
      Log("close");
      break;
    case UHID_OUTPUT: {
      const int size = ev.u.output.size;
      Log("out " + HexBytes(ev.u.output.data, size));
      std::vector<vremote::Reply> replies;
      const std::string what = vremote::HandleOutputReport(&p->state, ev.u.output.data, size, &replies);
      if (!what.empty()) Log("  " + what);
      if (p->state.silent) break;
      for (const vremote::Reply& r : replies) {
        if (!SendInput(p->fd, r.bytes)) return false;
      }
      break;
    }
    // The remote has no feature reports: refuse both kinds of request.
    case UHID_GET_REPORT:
      if (!RefuseRequest(p->fd, UHID_GET_REPORT_REPLY, ev.u.get_report.id)) return false;
      break;
    case UHID_SET_REPORT:
      if (!RefuseRequest(p->fd, UHID_SET_REPORT_REPLY, ev.u.set_report.id)) return false;
      break;
    default:
      break;
  }
  return true;
}

// Reads every event the kernel has queued, without waiting.
bool DrainEvents(Player* p) {
  for (;;) {
    uhid_event ev;
    const ssize_t n = read(p->fd, &ev, sizeof ev);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) return true;
    if (n <= 0) {
      std::fprintf(stderr, "virtual-remote: reading /dev/uhid failed: %s\n",
                   n < 0 ? std::strerror(errno) : "end of file");
      return false;
    }
    if (!HandleEvent(p, ev, Now())) return false;
  }
}

bool ReadScenario(const char* path, std::vector<vremote::Step>* steps) {
  std::ifstream in(path);
  if (!in) {
    std::fprintf(stderr, "virtual-remote: cannot read scenario %s: %s\n", path, std::strerror(errno));
    return false;
  }
  std::stringstream text;
  text << in.rdbuf();
  std::string error;
  if (!vremote::ParseScenario(text.str(), steps, &error)) {
    std::fprintf(stderr, "virtual-remote: %s: %s\n", path, error.c_str());
    return false;
  }
  return true;
}

int OpenUhid() {
  const int fd = open("/dev/uhid", O_RDWR | O_CLOEXEC | O_NONBLOCK);
  if (fd >= 0) return fd;
  const int err = errno;
  std::fprintf(stderr, "virtual-remote: cannot open /dev/uhid: %s\n", std::strerror(err));
  if (err == ENOENT) {
    std::fprintf(stderr, "  The kernel's uhid module is not loaded: run 'modprobe uhid' as root.\n");
  } else if (err == EACCES || err == EPERM) {
    std::fprintf(stderr,
                 "  Only root may create HID devices unless a udev rule gives you /dev/uhid;\n"
                 "  run it as root, or see the README's \"Virtual remote\" section.\n");
  }
  return -1;
}

}  // namespace

// The product number named by text ("0x0330"), when it is one of a remote's.
bool ParseProduct(const char* text, uint16_t* product) {
  char* end = nullptr;
  const unsigned long value = std::strtoul(text, &end, 16);
  if (end == text || *end != '\0') return false;
  for (uint16_t known : kProducts) {
    if (value == known) {
      *product = known;
      return true;
    }
  }
  return false;
}

int main(int argc, char** argv) {
  uint16_t bus = kBusUsb;
  uint16_t product = kProducts[0];
  Player p;
  int arg = 1;
  for (; arg < argc && argv[arg][0] == '-'; ++arg) {
    if (std::strcmp(argv[arg], "--bluetooth") == 0) {
      bus = kBusBluetooth;
    } else if (std::strcmp(argv[arg], "--clock-on-signal") == 0) {
      p.clockOnSignal = true;
    } else if (std::strcmp(argv[arg], "--product") == 0 && arg + 1 < argc) {
      ++arg;
      if (!ParseProduct(argv[arg], &product)) {
        std::fprintf(stderr, "virtual-remote: the product is 0x0306 or 0x0330, not %s\n", argv[arg]);
        return 2;
      }
    } else {
      break;
    }
  }
  if (arg != argc - 1 || argv[arg][0] == '-') {
    std::fprintf(stderr,
                 "usage: virtual-remote [--product 0x0306|0x0330] [--bluetooth] "
                 "[--clock-on-signal] SCENARIO-FILE\n");
    return 2;
  }
  if (!ReadScenario(argv[arg], &p.steps)) return 2;
  p.fd = OpenUhid();
  if (p.fd < 0) return 1;

  struct sigaction action = {};
  action.sa_handler = OnStop;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  action.sa_handler = OnClock;
  sigaction(SIGUSR1, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);

  startSeconds = Now();
  RunSteps(&p, startSeconds);  // the steps at time 0 hold from the start
  if (!CreateDevice(p.fd, bus, product)) return 1;
  char created[48];
  std::snprintf(created, sizeof created, "created 057e:%04x%s", product,
                bus == kBusBluetooth ? " on the Bluetooth bus" : "");
  Log(created);

  int code = 0;
  while (!stopRequested) {
    const double now = Now();
    if (clockSignal && p.clockStart < 0) {
      p.clockStart = now;
      Log("clock");
    }
    RunSteps(&p, now);
    if (p.state.disconnect) {
      Log("disconnect");
      break;
    }
    if (p.started && !p.state.silent && p.state.statusDue) {
      // On its own, as when an extension is plugged in or out.
      p.state.statusDue = false;
      const vremote::Reply status = vremote::StatusReport(&p.state);
      Log("status on its own");
      if (!SendInput(p.fd, status.bytes)) {
        code = 1;
        break;
      }
    }
    if (p.started && !p.state.silent && !p.state.awaitingMode) {
      const bool periodic = vremote::ReportsContinuously(p.state);
      if ((periodic && now >= p.nextReport) || p.changed) {
        uint8_t report[vremote::kInputReportSize];
        vremote::BuildInputReport(&p.state, report);
        if (!SendInput(p.fd, report)) {
          code = 1;
          break;
        }
        p.changed = false;
        p.nextReport = now + kReportPeriodMs / 1000.0;
      }
    }
    // Sleep until the next report or scenario step, or an event from the kernel.
    double wake = now + 0.1;
    if (p.started && !p.state.silent && !p.state.awaitingMode &&
        vremote::ReportsContinuously(p.state) && p.nextReport < wake) {
      wake = p.nextReport;
    }
    if (p.nextStep < p.steps.size() && p.clockStart >= 0) {
      const double due = p.clockStart + p.steps[p.nextStep].atMs / 1000.0;
      if (due < wake) wake = due;
    }
    int waitMs = static_cast<int>((wake - now) * 1000.0 + 0.999);
    if (waitMs < 0) waitMs = 0;
    pollfd pfd = {p.fd, POLLIN, 0};
    const int ready = poll(&pfd, 1, waitMs);
    // The scenario's time is the time the remote could run. Under a busy
    // emulator the whole machine may stand still for a while; a remote that
    // then applied every step that came due at once would skip the states in
    // between, and a press of 150 ms would never be sent. So a wake-up that
    // came late moves the scenario's clock on by the delay.
    const double late = Now() - (now + waitMs / 1000.0);
    if (late > kStoodStillSeconds && p.clockStart >= 0) {
      p.clockStart += late;
      char text[64];
      std::snprintf(text, sizeof text, "stood still %.3f s", late);
      Log(text);
    }
    if (ready < 0 && errno != EINTR) {
      std::fprintf(stderr, "virtual-remote: poll failed: %s\n", std::strerror(errno));
      code = 1;
      break;
    }
    if (ready > 0 && !DrainEvents(&p)) {
      code = 1;
      break;
    }
  }
  // Output reports that arrived just before the end still belong in the log.
  if (code == 0) DrainEvents(&p);
  DestroyDevice(p.fd);
  close(p.fd);
  Log("removed");
  return code;
}
