// A mouse that someone moves once: a relative pointer made through
// /dev/uinput that, after a second (for the compositor to take it), moves by
// (DX, DY) in ten equal steps 10 ms apart, then goes away. The VM test uses it
// as the physical mouse beside the remote.
//
//   nudge-mouse DX DY
#include <fcntl.h>
#include <linux/uinput.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "../uinput_event.h"

namespace {

void Emit(int fd, uint16_t type, uint16_t code, int32_t value) {
  if (!WriteInputEvent(fd, type, code, value)) std::perror("write");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: nudge-mouse DX DY\n");
    return 2;
  }
  const int dx = std::atoi(argv[1]);
  const int dy = std::atoi(argv[2]);
  const int fd = open("/dev/uinput", O_WRONLY | O_CLOEXEC);
  if (fd < 0) {
    std::perror("/dev/uinput");
    return 1;
  }
  uinput_setup setup;
  std::memset(&setup, 0, sizeof setup);
  setup.id.bustype = BUS_VIRTUAL;
  setup.id.vendor = 0x7476;
  setup.id.product = 0x00ff;
  std::snprintf(setup.name, sizeof setup.name, "nudge mouse");
  if (ioctl(fd, UI_SET_EVBIT, EV_KEY) < 0 || ioctl(fd, UI_SET_KEYBIT, BTN_LEFT) < 0 ||
      ioctl(fd, UI_SET_EVBIT, EV_REL) < 0 || ioctl(fd, UI_SET_RELBIT, REL_X) < 0 ||
      ioctl(fd, UI_SET_RELBIT, REL_Y) < 0 || ioctl(fd, UI_DEV_SETUP, &setup) < 0 ||
      ioctl(fd, UI_DEV_CREATE) < 0) {
    std::perror("uinput");
    return 1;
  }
  sleep(1);
  std::printf("moving\n");
  std::fflush(stdout);
  for (int i = 0; i < 10; ++i) {
    Emit(fd, EV_REL, REL_X, dx / 10);
    Emit(fd, EV_REL, REL_Y, dy / 10);
    Emit(fd, EV_SYN, SYN_REPORT, 0);
    usleep(10000);
  }
  usleep(200000);
  std::printf("moved\n");
  ioctl(fd, UI_DEV_DESTROY);
  close(fd);
  return 0;
}
