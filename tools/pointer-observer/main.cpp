// pointer-observer: an X client that prints, one line each, where the cursor
// goes and every mouse button press and release on the display (wheel turns
// are buttons 4 and 5), whoever caused them.
//
//   pointer-observer            (uses $DISPLAY)
//
// Lines: "ready X Y" once it watches, then "cursor X Y", "press N",
// "release N"; "end" when SIGINT or SIGTERM ends it. Button events come from
// XInput2's raw events on the root window, which every client may select; the
// cursor is polled every 2 ms because a warped cursor sends no raw motion.
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <poll.h>
#include <signal.h>

#include <cstdio>
#include <cstring>

namespace {

volatile sig_atomic_t stopRequested = 0;
void OnStop(int) { stopRequested = 1; }

constexpr int kPollMs = 2;

}  // namespace

int main() {
  Display* display = XOpenDisplay(nullptr);
  if (!display) {
    std::fprintf(stderr, "pointer-observer: cannot open display\n");
    return 1;
  }
  int xiOpcode = 0, event = 0, error = 0;
  if (!XQueryExtension(display, "XInputExtension", &xiOpcode, &event, &error)) {
    std::fprintf(stderr, "pointer-observer: the display has no XInput extension\n");
    return 1;
  }
  int major = 2, minor = 0;
  if (XIQueryVersion(display, &major, &minor) != Success) {
    std::fprintf(stderr, "pointer-observer: the display has no XInput 2\n");
    return 1;
  }
  const Window root = DefaultRootWindow(display);
  unsigned char mask[XIMaskLen(XI_LASTEVENT)] = {};
  XISetMask(mask, XI_RawButtonPress);
  XISetMask(mask, XI_RawButtonRelease);
  XIEventMask eventMask;
  eventMask.deviceid = XIAllMasterDevices;
  eventMask.mask_len = sizeof mask;
  eventMask.mask = mask;
  XISelectEvents(display, root, &eventMask, 1);
  XSync(display, False);

  struct sigaction action = {};
  action.sa_handler = OnStop;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);

  auto queryCursor = [&](int* x, int* y) {
    Window rootReturn, child;
    int wx, wy;
    unsigned buttons;
    XQueryPointer(display, root, &rootReturn, &child, x, y, &wx, &wy, &buttons);
  };
  int lastX = 0, lastY = 0;
  queryCursor(&lastX, &lastY);
  // Prints the cursor when it has moved since it was last printed.
  auto printMove = [&]() {
    int x, y;
    queryCursor(&x, &y);
    if (x == lastX && y == lastY) return;
    std::printf("cursor %d %d\n", x, y);
    lastX = x;
    lastY = y;
  };
  std::printf("ready %d %d\n", lastX, lastY);
  std::fflush(stdout);

  while (!stopRequested) {
    while (XPending(display)) {
      XEvent ev;
      XNextEvent(display, &ev);
      if (ev.xcookie.type != GenericEvent || ev.xcookie.extension != xiOpcode) continue;
      if (!XGetEventData(display, &ev.xcookie)) continue;
      const XIRawEvent* raw = static_cast<const XIRawEvent*>(ev.xcookie.data);
      // Print the cursor first, so a click reads after the move that led to it.
      printMove();
      if (ev.xcookie.evtype == XI_RawButtonPress) std::printf("press %d\n", raw->detail);
      if (ev.xcookie.evtype == XI_RawButtonRelease) std::printf("release %d\n", raw->detail);
      XFreeEventData(display, &ev.xcookie);
    }
    printMove();
    std::fflush(stdout);
    pollfd p = {ConnectionNumber(display), POLLIN, 0};
    poll(&p, 1, kPollMs);
  }
  std::printf("end\n");
  std::fflush(stdout);
  XCloseDisplay(display);
  return 0;
}
