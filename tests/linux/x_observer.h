// A second X client that watches what the tool does to the pointer: raw
// button events (which XTest input produces) and pointer motion on the root
// window (which warps produce too), through XInput2.
#pragma once

#include <X11/Xlib.h>

#include <ostream>
#include <string>
#include <vector>

namespace xobserver {

struct Event {
  enum Kind { kPress, kRelease, kMotion } kind;
  int button;  // press and release
  int x, y;    // motion: root position
  bool operator==(const Event& o) const {
    return kind == o.kind && button == o.button && x == o.x && y == o.y;
  }
};

Event Press(int button);
Event Release(int button);
Event Motion(int x, int y);
std::string Describe(const std::vector<Event>& events);
// For test failure messages.
inline void PrintTo(const Event& e, std::ostream* os) { *os << Describe({e}); }

class Observer {
 public:
  // Connects to the display and starts listening. False (with why in
  // error()) when there is no display or no XInput2.
  bool Open();
  ~Observer();

  // Collects events until one equal to last has arrived (it is included) or
  // timeoutMs ran out.
  std::vector<Event> CollectUntil(const Event& last, int timeoutMs);
  // Collects whatever arrives within ms.
  std::vector<Event> CollectFor(int ms);
  // Drops what has arrived so far.
  void Drain();

  void Pointer(int* x, int* y);
  void Warp(int x, int y);
  int width() const { return width_; }
  int height() const { return height_; }
  const std::string& error() const { return error_; }

 private:
  bool Next(Event* event, int timeoutMs);
  Display* display_ = nullptr;
  int opcode_ = 0;
  int width_ = 0;
  int height_ = 0;
  std::string error_;
};

}  // namespace xobserver
