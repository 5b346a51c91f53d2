// Cursor and synthetic mouse input through Xlib and XTest, on the default
// screen's root window. Every request is flushed, not synced: other clients
// see it at once and the tool does not wait for the server's answer. The one
// round trip of a pass is the cursor read-back.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <poll.h>

#include <cstdio>

#include "linux_backend.h"
#include "platform/platform.h"

namespace {

Display* display = nullptr;
Window root = 0;
bool gone = false;
// Where the tool last put the cursor, kept on the screen; what a read-back
// answers once the server is gone.
int lastX = 0;
int lastY = 0;
int32_t wheelUnits = 0;
// Set by a read-back and cleared by the next SetCursorPos: the cursor was just
// seen at (lastX, lastY), so a warp to that very spot right after the
// read-back can be left out. The D-pad stage
// sets the cursor on every pass, mostly where it just read it; leaving those
// warps out spares the server a request and other clients a motion event.
bool positionFresh = false;
// Set when the server answered a cursor read-back, cleared by the next check
// for a lost server: a connection that just carried a round trip needs no
// look at its socket, and a dead one makes that round trip fail, which the
// error handler below notes. The D-pad stage reads the cursor on every pass,
// so while reports come the check costs no system call.
bool answeredSinceCheck = false;

constexpr unsigned kButtonLeft = 1;
constexpr unsigned kButtonRight = 3;
constexpr unsigned kButtonWheelUp = 4;
constexpr unsigned kButtonWheelDown = 5;

// The server closed the connection. Xlib calls this first, then the exit
// handler below; both return, so the tool can still put the remote back.
int OnIoError(Display* d) {
  if (!gone) {
    std::fprintf(stderr, "trevanquill: lost the connection to X display \"%s\"\n",
                 DisplayString(d));
  }
  gone = true;
  return 0;
}

void OnIoErrorExit(Display*, void*) { gone = true; }

// A refused request (for instance a warp during a server grab) is not worth
// ending the run for; Xlib's default would exit.
int OnProtocolError(Display*, XErrorEvent*) { return 0; }

bool Usable() { return display != nullptr && !gone; }

void Flush() { XFlush(display); }

void FakeButton(unsigned button, bool press) {
  XTestFakeButtonEvent(display, button, press ? True : False, CurrentTime);
}

void ScrollNotches(int notches) {
  const unsigned button = notches > 0 ? kButtonWheelUp : kButtonWheelDown;
  for (int n = notches > 0 ? notches : -notches; n > 0; --n) {
    FakeButton(button, true);
    FakeButton(button, false);
  }
}

int Clamp(int value, int low, int high) {
  return value < low ? low : value > high ? high : value;
}

}  // namespace

namespace linuxbackend {

bool OpenDesktop() {
  if (display != nullptr) return true;
  const char* name = XDisplayName(nullptr);
  if (name == nullptr || name[0] == '\0') {
    std::fprintf(stderr,
                 "trevanquill: no X display: DISPLAY is not set\n");
    return false;
  }
  XSetErrorHandler(OnProtocolError);
  XSetIOErrorHandler(OnIoError);
  Display* d = XOpenDisplay(nullptr);
  if (d == nullptr) {
    std::fprintf(stderr, "trevanquill: cannot open X display \"%s\"\n", name);
    return false;
  }
  int eventBase, errorBase, major, minor;
  if (!XTestQueryExtension(d, &eventBase, &errorBase, &major, &minor)) {
    std::fprintf(stderr,
                 "trevanquill: X display \"%s\" has no XTEST extension\n", name);
    XCloseDisplay(d);
    return false;
  }
  XSetIOErrorExitHandler(d, OnIoErrorExit, nullptr);
  display = d;
  root = DefaultRootWindow(d);
  gone = false;
  wheelUnits = 0;
  positionFresh = false;
  answeredSinceCheck = false;
  return true;
}

void CloseDesktop() {
  if (display == nullptr) return;
  // After an IO error the connection is dead; Xlib must not touch it again.
  if (!gone) XCloseDisplay(display);
  display = nullptr;
}

bool DesktopGone() {
  if (gone) return true;
  if (display == nullptr) return false;
  if (answeredSinceCheck) {
    answeredSinceCheck = false;
    return false;
  }
  // The tool selects no events: anything readable on the connection is an
  // error, or the server closing it, which XPending then notices.
  pollfd p = {ConnectionNumber(display), POLLIN, 0};
  if (poll(&p, 1, 0) > 0) XPending(display);
  return gone;
}

// Only the connection's end is watched; the replies that arrive on it
// during a pass are Xlib's.
int X11WaitFd() { return Usable() ? ConnectionNumber(display) : -1; }

int ClampCoordinate(int value) { return Clamp(value, -32768, 32767); }

int TakeWheelNotches(int32_t* accumulator, int32_t amount) {
  if ((amount > 0 && *accumulator < 0) || (amount < 0 && *accumulator > 0)) {
    *accumulator = 0;
  }
  *accumulator += amount;
  const int notches = *accumulator / kWheelNotchUnits;  // truncates toward 0
  *accumulator -= notches * kWheelNotchUnits;
  return notches;
}

}  // namespace linuxbackend

namespace platform::x11 {

bool DesktopLost() { return linuxbackend::DesktopGone(); }

void SetCursorPos(int x, int y) {
  const int cx = linuxbackend::ClampCoordinate(x);
  const int cy = linuxbackend::ClampCoordinate(y);
  if (!Usable()) return;
  const bool alreadyThere = positionFresh && cx == lastX && cy == lastY;
  positionFresh = false;
  if (alreadyThere) return;
  XWarpPointer(display, None, root, 0, 0, 0, 0, cx, cy);
  Flush();
  Screen* s = DefaultScreenOfDisplay(display);
  lastX = Clamp(cx, 0, WidthOfScreen(s) - 1);
  lastY = Clamp(cy, 0, HeightOfScreen(s) - 1);
}

void GetCursorPos(int* x, int* y) {
  if (Usable()) {
    Window rootReturn, child;
    int rootX, rootY, winX, winY;
    unsigned mask;
    if (XQueryPointer(display, root, &rootReturn, &child, &rootX, &rootY, &winX,
                      &winY, &mask)) {
      lastX = rootX;
      lastY = rootY;
      positionFresh = true;
      answeredSinceCheck = true;
    }
  }
  *x = lastX;
  *y = lastY;
}

void MouseEvent(uint32_t flags, int32_t data) {
  if (!Usable()) return;
  if (flags & kMouseLeftDown) FakeButton(kButtonLeft, true);
  if (flags & kMouseLeftUp) FakeButton(kButtonLeft, false);
  if (flags & kMouseRightDown) FakeButton(kButtonRight, true);
  if (flags & kMouseRightUp) FakeButton(kButtonRight, false);
  if (flags & kMouseWheel) {
    const int notches = linuxbackend::TakeWheelNotches(&wheelUnits, data);
    if (notches != 0) ScrollNotches(notches);
  }
  Flush();
}

}  // namespace platform::x11
