#include "x_observer.h"

#include <X11/extensions/XInput2.h>
#include <poll.h>
#include <time.h>

#include <cstdio>

namespace xobserver {

namespace {

long NowMs() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec * 1000L + t.tv_nsec / 1000000;
}

}  // namespace

Event Press(int button) { return {Event::kPress, button, 0, 0}; }
Event Release(int button) { return {Event::kRelease, button, 0, 0}; }
Event Motion(int x, int y) { return {Event::kMotion, 0, x, y}; }

std::string Describe(const std::vector<Event>& events) {
  std::string text;
  char item[48];
  for (const Event& e : events) {
    if (e.kind == Event::kMotion) {
      std::snprintf(item, sizeof item, " motion(%d,%d)", e.x, e.y);
    } else {
      std::snprintf(item, sizeof item, " %s(%d)",
                    e.kind == Event::kPress ? "press" : "release", e.button);
    }
    text += item;
  }
  return text.empty() ? " (none)" : text;
}

bool Observer::Open() {
  display_ = XOpenDisplay(nullptr);
  if (display_ == nullptr) {
    error_ = "cannot open the X display";
    return false;
  }
  int event, err;
  if (!XQueryExtension(display_, "XInputExtension", &opcode_, &event, &err)) {
    error_ = "no XInputExtension";
    return false;
  }
  int major = 2, minor = 2;
  if (XIQueryVersion(display_, &major, &minor) != Success) {
    error_ = "no XInput 2.2";
    return false;
  }
  unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
  XISetMask(bits, XI_RawButtonPress);
  XISetMask(bits, XI_RawButtonRelease);
  XISetMask(bits, XI_Motion);
  XIEventMask mask = {XIAllMasterDevices, sizeof bits, bits};
  XISelectEvents(display_, DefaultRootWindow(display_), &mask, 1);
  XSync(display_, False);
  width_ = DisplayWidth(display_, DefaultScreen(display_));
  height_ = DisplayHeight(display_, DefaultScreen(display_));
  return true;
}

Observer::~Observer() {
  if (display_ != nullptr) XCloseDisplay(display_);
}

bool Observer::Next(Event* out, int timeoutMs) {
  const long end = NowMs() + timeoutMs;
  for (;;) {
    while (XPending(display_)) {
      XEvent ev;
      XNextEvent(display_, &ev);
      XGenericEventCookie* cookie = &ev.xcookie;
      if (cookie->type != GenericEvent || cookie->extension != opcode_) continue;
      if (!XGetEventData(display_, cookie)) continue;
      bool got = true;
      if (cookie->evtype == XI_RawButtonPress || cookie->evtype == XI_RawButtonRelease) {
        const XIRawEvent* raw = static_cast<XIRawEvent*>(cookie->data);
        *out = cookie->evtype == XI_RawButtonPress ? Press(raw->detail) : Release(raw->detail);
      } else if (cookie->evtype == XI_Motion) {
        const XIDeviceEvent* dev = static_cast<XIDeviceEvent*>(cookie->data);
        *out = Motion(static_cast<int>(dev->root_x), static_cast<int>(dev->root_y));
      } else {
        got = false;
      }
      XFreeEventData(display_, cookie);
      if (got) return true;
    }
    const long left = end - NowMs();
    if (left <= 0) return false;
    pollfd p = {ConnectionNumber(display_), POLLIN, 0};
    poll(&p, 1, static_cast<int>(left));
  }
}

std::vector<Event> Observer::CollectUntil(const Event& last, int timeoutMs) {
  std::vector<Event> events;
  const long end = NowMs() + timeoutMs;
  Event e;
  while (Next(&e, static_cast<int>(end - NowMs() > 0 ? end - NowMs() : 0))) {
    events.push_back(e);
    if (e == last) break;
  }
  return events;
}

std::vector<Event> Observer::CollectFor(int ms) {
  std::vector<Event> events;
  const long end = NowMs() + ms;
  Event e;
  while (Next(&e, static_cast<int>(end - NowMs() > 0 ? end - NowMs() : 0))) events.push_back(e);
  return events;
}

void Observer::Drain() {
  XSync(display_, False);
  Event e;
  while (Next(&e, 0)) {
  }
}

void Observer::Pointer(int* x, int* y) {
  Window r, c;
  int wx, wy;
  unsigned mask;
  XQueryPointer(display_, DefaultRootWindow(display_), &r, &c, x, y, &wx, &wy, &mask);
}

void Observer::Warp(int x, int y) {
  XWarpPointer(display_, None, DefaultRootWindow(display_), 0, 0, 0, 0, x, y);
  XSync(display_, False);
}

}  // namespace xobserver
