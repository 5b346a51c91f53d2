// desktop-key: a keyboard made through /dev/uinput that taps one key (Z) each
// time it gets SIGUSR1, until SIGINT or SIGTERM. The desktop VM's cases tap it
// at the end of a case: a compositor hands on input events in the order they
// came, so once its client has the tap, it has every pointer event before it
// too. And a tap that reaches the client shows that keys do reach it.
//
//   desktop-key
//
// Prints "ready" once the device exists and "tap N" after the N-th tap.
#include <fcntl.h>
#include <linux/uinput.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "../uinput_event.h"

namespace {

volatile sig_atomic_t stopRequested = 0;
volatile sig_atomic_t tapsAsked = 0;
void OnStop(int) { stopRequested = 1; }
void OnTap(int) { tapsAsked = tapsAsked + 1; }

bool Emit(int fd, uint16_t type, uint16_t code, int32_t value) {
  return WriteInputEvent(fd, type, code, value);
}

}  // namespace

int main() {
  struct sigaction action = {};
  sigemptyset(&action.sa_mask);
  action.sa_handler = OnStop;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  action.sa_handler = OnTap;
  sigaction(SIGUSR1, &action, nullptr);
  sigset_t blocked, old;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGUSR1);
  sigaddset(&blocked, SIGINT);
  sigaddset(&blocked, SIGTERM);
  sigprocmask(SIG_BLOCK, &blocked, &old);

  const int fd = open("/dev/uinput", O_WRONLY | O_CLOEXEC);
  if (fd < 0) {
    std::fprintf(stderr, "desktop-key: cannot open /dev/uinput: %s\n", std::strerror(errno));
    return 1;
  }
  uinput_setup setup;
  std::memset(&setup, 0, sizeof setup);
  setup.id.bustype = BUS_VIRTUAL;
  setup.id.vendor = 0x7476;  // the project's own, as the tool's devices
  setup.id.product = 0x00fe;
  std::snprintf(setup.name, sizeof setup.name, "desktop-key keyboard");
  if (ioctl(fd, UI_SET_EVBIT, EV_KEY) < 0 || ioctl(fd, UI_SET_KEYBIT, KEY_Z) < 0 ||
      ioctl(fd, UI_DEV_SETUP, &setup) < 0 || ioctl(fd, UI_DEV_CREATE) < 0) {
    std::fprintf(stderr, "desktop-key: cannot make the keyboard: %s\n", std::strerror(errno));
    return 1;
  }
  std::printf("ready\n");
  std::fflush(stdout);
  int taps = 0;
  while (!stopRequested) {
    sigsuspend(&old);  // returns after a handler ran
    while (taps < tapsAsked && !stopRequested) {
      const bool ok = Emit(fd, EV_KEY, KEY_Z, 1) && Emit(fd, EV_SYN, SYN_REPORT, 0);
      usleep(50000);
      if (!ok || !Emit(fd, EV_KEY, KEY_Z, 0) || !Emit(fd, EV_SYN, SYN_REPORT, 0)) {
        std::fprintf(stderr, "desktop-key: write: %s\n", std::strerror(errno));
        return 1;
      }
      taps++;
      std::printf("tap %d\n", taps);
      std::fflush(stdout);
    }
  }
  ioctl(fd, UI_DEV_DESTROY);
  close(fd);
  return 0;
}
