// The test platform: a scripted remote and a recorded desktop behind the same
// free functions that the OS backends provide, with a virtual clock so that
// the tool's waits cost no real time.
//
// Time is virtual and advances only when every thread of the program is
// waiting (a busy-wait counter read, a sleep, a read that waits for the
// remote), so a run with the probe worker is as repeatable as one without.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace fake {

typedef std::vector<uint8_t> Bytes;

// An output report as it travelled to the remote.
struct Written {
  Bytes bytes;
  int64_t atUs;
  bool ok;
};

struct MouseRecord {
  uint32_t flags;
  int32_t data;
  bool operator==(const MouseRecord& o) const {
    return flags == o.flags && data == o.data;
  }
};

struct Point {
  int x;
  int y;
  bool operator==(const Point& o) const { return x == o.x && y == o.y; }
};

class ScriptedRemote {
 public:
  // The product numbers of the remotes connected (vendor 0x057E): the
  // remote that the script plays is found by OpenHidHandle under each of
  // them. Empty: no remote.
  std::vector<uint16_t> products{0x0306};
  // Of those, the ones that another tool already drives: OpenHidHandle
  // leaves them alone and says so (kHidBusy).
  std::vector<uint16_t> heldElsewhere;
  // Writes fail (return -1) while this is set.
  bool failWrites = false;
  // Writes fail from the write with this index on (0 is the first write of
  // the run); never when negative.
  int failWritesFrom = -1;
  // The remote goes away at this virtual time, whatever the script says:
  // from then on reads report it lost and writes fail. Never when negative.
  int64_t lostAtUs = -1;
  // Behaves as the real remote does after a status report (0x20) that it
  // sends on its own: no further report until a report mode (0x12) is
  // written. Meanwhile reads wait out their time limit and the script stands
  // still.
  bool silentAfterStatus = false;
  // Sends its data reports (0x30 to 0x3F) in the mode it is in, as the remote
  // does: the scripted report's bytes go out under the number of the mode
  // last written with report 0x12 or switched to by SwitchesMode. Until then
  // the scripted numbers stand.
  bool followsMode = false;
  uint8_t mode = 0;  // 0: no mode selected yet
  // Blanks the camera's points in its reports 0x33 (every slot 0xFF) while the
  // camera is not set up: from SwitchesCameraOff until the tool has enabled
  // the camera (0x13 and 0x1A) and written its mode register 0xB00033 again.
  bool cameraFollows = false;
  bool cameraOff = false;
  bool cameraEnable1 = true;
  bool cameraEnable2 = true;

  // The remote sends this report, afterMs after the read that takes it starts
  // (the wait counts from the end of the previous item).
  void Sends(const Bytes& report, int afterMs = 0);
  // Nothing arrives for ms milliseconds.
  void Silent(int ms);
  // The next read fails once, without a report (and without waiting).
  void FailsRead();
  // The next n reads fail, one after another.
  void FailsReads(int n);
  // A status report as the remote sends it on its own: 0x20, two button
  // bytes (none held), flags (an extension just plugged in, LED 1, and the
  // camera on or off), two zero bytes and the battery level; 7 bytes.
  void SendsStatus(int afterMs = 0, bool cameraOn = true);
  // The remote goes away: every later read reports it lost and writes fail.
  void Disappears(int afterMs = 0);
  // Someone other than the tool (the kernel's driver) selects this report
  // mode at this point of the script; it takes no read of its own.
  void SwitchesMode(uint8_t newMode);
  // Someone other than the tool switches the camera off, or sets it up in a
  // form of its own, at this point of the script; it takes no read.
  void SwitchesCameraOff();
  // Called with every output report the remote receives, after it is
  // recorded, so a test can make the remote answer (queue more items).
  void (*onWrite)(const Bytes& report) = nullptr;

  // What happened.
  std::vector<Written> written;  // every output report, in order
  int opens = 0;
  uint16_t openedProduct = 0;  // the product number of the last open that found it
  int closes = 0;
  int reads = 0;          // ReadReport calls
  int unlimitedReads = 0; // of them, reads without a time limit
  int lookReads = 0;      // of them, reads that do not wait (a limit of 0)
  int readsEnded = 0;     // reads without a limit that a key, a stop request
                          // or the lost desktop ended without a report
  int reportsRead = 0;    // reads that delivered a report
  int failedReads = 0;    // reads that failed at once (FailsRead)
  int statusSilences = 0; // times the remote fell silent after a status report
  bool waitingForMode = false;  // silent after a status report just now
  bool readsOverlapped = false; // two threads were reading at the same time
  int readsInFlight = 0;
  // Bit 0 of byte 1 of every output report drives the rumble motor: whether
  // the last report that reached the remote left it running.
  bool rumbling = false;
  bool lost = false;
  bool timeCapHit = false;

  // Just the bytes of the output reports, in order.
  std::vector<Bytes> WrittenBytes() const;
  bool ScriptEmpty() const;

  struct Item {
    enum Kind { kReport, kSilence, kFail, kLost, kMode, kCameraOff } kind;
    int64_t delayUs;
    Bytes bytes;
  };
  std::deque<Item> script;
};

class RecordedDesktop {
 public:
  // The screen on which the cursor is kept.
  int width = 1920;
  int height = 1080;
  Point cursor{960, 540};
  // StartPlatform fails (no display).
  bool unavailable = false;
  // The desktop goes away at this virtual time (never when negative).
  int64_t lostAtUs = -1;
  // A worker thread cannot be started.
  bool failThreadStart = false;

  // A key waiting in the console from the virtual time atMs on.
  void KeyAt(int atMs, int key);
  void KeysWaiting(const std::vector<int>& keys);
  // A stop request (a termination signal, Ctrl+C) from the virtual time atMs
  // on: it stays, and reads as Esc.
  void StopRequestAt(int atMs) { stopAtUs = atMs * 1000LL; }
  int64_t stopAtUs = -1;

  // What happened.
  std::vector<Point> cursorSets;  // positions asked for, before keeping on screen
  int cursorReads = 0;
  std::vector<MouseRecord> mouse;
  // The buttons as the system sees them after the events so far, and events
  // that made no sense there (a press of a pressed button, a release of a
  // released one).
  bool leftPressed = false;
  bool rightPressed = false;
  int buttonEventsOutOfTurn = 0;
  std::string console;
  std::vector<std::string> messages;
  int starts = 0;
  int stops = 0;
  int threadsStarted = 0;
  int threadsJoined = 0;
  int sleeps = 0;

  struct Key {
    int64_t atUs;
    int key;
  };
  std::deque<Key> keys;
};

extern ScriptedRemote remote;
extern RecordedDesktop desktop;

// One line per observable effect, in the order they happened: "open",
// "write 11 10", "read", "console <text>", "mouse 0002 0", "message <text>",
// "close", "cursor x y". Reads that brought nothing are left out.
extern std::vector<std::string> timeline;

// How much virtual time each read of the high-resolution counter lets pass
// (50 µs after Reset). Larger steps make busy waits cheaper to run, for
// callers that do not look at their exact length (the fuzzer).
extern int64_t counterStepUs;

// The virtual clock, in microseconds since the test began.
int64_t NowUs();

// Puts the whole test platform back to its start. Call with no program thread
// running.
void Reset();

// "11 10 00" style text of some bytes.
std::string Hex(const Bytes& bytes);

}  // namespace fake
