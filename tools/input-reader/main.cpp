// input-reader: holds an input device's event node open and prints its key
// events, one line each, as they come (for the VM test, which watches what
// the kernel's own driver for the remote does while the tool runs).
//
//   input-reader /dev/input/eventN
//
// Lines: "ready" once the node is open, then "key CODE VALUE" for each key
// event (VALUE 1 press, 0 release, 2 repeat); "end" when SIGINT or SIGTERM
// ends it. Every line is flushed at once, so that lines that others append to
// the same file (opened for appending) stay in order.
#include <fcntl.h>
#include <linux/input.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

volatile sig_atomic_t stopRequested = 0;
void OnStop(int) { stopRequested = 1; }

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: input-reader /dev/input/eventN\n");
    return 2;
  }
  struct sigaction action = {};
  action.sa_handler = OnStop;  // no SA_RESTART: the read ends with EINTR
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  const int fd = open(argv[1], O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    std::fprintf(stderr, "input-reader: cannot open %s: %s\n", argv[1], std::strerror(errno));
    return 1;
  }
  std::printf("ready\n");
  std::fflush(stdout);
  while (!stopRequested) {
    input_event ev;
    const ssize_t n = read(fd, &ev, sizeof ev);
    if (n < 0 && errno == EINTR) continue;
    if (n != static_cast<ssize_t>(sizeof ev)) {
      std::fprintf(stderr, "input-reader: reading %s failed: %s\n", argv[1],
                   n < 0 ? std::strerror(errno) : "short read");
      return 1;
    }
    if (ev.type != EV_KEY) continue;
    std::printf("key %d %d\n", ev.code, ev.value);
    std::fflush(stdout);
  }
  close(fd);
  std::printf("end\n");
  std::fflush(stdout);
  return 0;
}
