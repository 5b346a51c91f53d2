#include "tests/fake/fake_platform.h"

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

namespace fake {

ScriptedRemote remote;
RecordedDesktop desktop;
std::vector<std::string> timeline;
int64_t counterStepUs = 50;  // as Reset sets it

namespace {

constexpr HidHandle kFakeHandle = 7;
constexpr uint16_t kVendor = 0x057E;  // of every remote
constexpr int64_t kFrequency = 1000000;  // counter ticks are microseconds
// Every counter read lets this much virtual time pass by default, so busy
// waits end.
constexpr int64_t kCounterStepUs = 50;
// A script that has run out leaves the remote silent; a run that is still
// going after this much virtual time has lost its way.
constexpr int64_t kTimeCapUs = 600LL * 1000 * 1000;
// A new thread starts running this long after it was asked for, as a real one
// does; it keeps the probe worker's steps apart from the main thread's.
constexpr int64_t kThreadStartUs = 1000;
// A real-time guard against a test that deadlocks.
constexpr auto kRealTimeGuard = std::chrono::seconds(60);

// Guards the recorded state, which the probe worker and the main thread
// share. Never held while a thread waits on the virtual clock.
std::mutex stateMutex;

// ---- the virtual clock
struct Waiter {
  int64_t wakeUs;
  bool woken;
};

std::mutex clockMutex;
std::condition_variable clockChanged;
int64_t nowUs = 0;
int liveThreads = 1;     // the main thread, and any started worker
int blockedThreads = 0;  // threads waiting for another thread to end
std::vector<Waiter*> waiters;

// With every live thread waiting, time moves to the earliest wake-up.
void AdvanceLocked() {
  if (waiters.empty()) return;
  int64_t earliest = waiters[0]->wakeUs;
  for (Waiter* w : waiters) earliest = std::min(earliest, w->wakeUs);
  if (earliest > nowUs) nowUs = earliest;
  auto due = [](Waiter* w) {
    if (w->wakeUs > nowUs) return false;
    w->woken = true;
    return true;
  };
  waiters.erase(std::remove_if(waiters.begin(), waiters.end(), due),
                waiters.end());
  clockChanged.notify_all();
}

void WaitVirtual(int64_t us) {
  std::unique_lock<std::mutex> lock(clockMutex);
  Waiter me{nowUs + us, false};
  waiters.push_back(&me);
  while (!me.woken) {
    if (static_cast<int>(waiters.size()) + blockedThreads >= liveThreads) {
      AdvanceLocked();
    } else if (clockChanged.wait_for(lock, kRealTimeGuard) ==
               std::cv_status::timeout) {
      std::fprintf(stderr, "test platform: threads stuck, no virtual time passes\n");
      std::abort();
    }
  }
}

void Record(const std::string& line) { timeline.push_back(line); }

// ---- threads
constexpr int kMaxThreads = 8;
std::thread threads[kMaxThreads];

}  // namespace

std::string Hex(const Bytes& bytes) {
  std::string out;
  char buf[4];
  for (size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", bytes[i]);
    out += buf;
  }
  return out;
}

int64_t NowUs() {
  std::lock_guard<std::mutex> lock(clockMutex);
  return nowUs;
}

void ScriptedRemote::Sends(const Bytes& report, int afterMs) {
  script.push_back(Item{Item::kReport, afterMs * 1000LL, report});
}
void ScriptedRemote::Silent(int ms) {
  script.push_back(Item{Item::kSilence, ms * 1000LL, {}});
}
void ScriptedRemote::FailsRead() {
  script.push_back(Item{Item::kFail, 0, {}});
}
void ScriptedRemote::FailsReads(int n) {
  for (int i = 0; i < n; ++i) FailsRead();
}
void ScriptedRemote::SendsStatus(int afterMs, bool cameraOn) {
  const uint8_t flags = 0x12 | (cameraOn ? 0x08 : 0x00);
  Sends(Bytes{0x20, 0x00, 0x00, flags, 0x00, 0x00, 0xC0}, afterMs);
}
void ScriptedRemote::Disappears(int afterMs) {
  script.push_back(Item{Item::kLost, afterMs * 1000LL, {}});
}
void ScriptedRemote::SwitchesMode(uint8_t newMode) {
  script.push_back(Item{Item::kMode, 0, Bytes{newMode}});
}
void ScriptedRemote::SwitchesCameraOff() {
  script.push_back(Item{Item::kCameraOff, 0, {}});
}

std::vector<Bytes> ScriptedRemote::WrittenBytes() const {
  std::vector<Bytes> out;
  for (const Written& w : written) out.push_back(w.bytes);
  return out;
}

bool ScriptedRemote::ScriptEmpty() const { return script.empty(); }

void RecordedDesktop::KeyAt(int atMs, int key) {
  keys.push_back(Key{atMs * 1000LL, key});
}
void RecordedDesktop::KeysWaiting(const std::vector<int>& k) {
  for (int key : k) KeyAt(0, key);
}

void Reset() {
  for (std::thread& t : threads) {
    if (t.joinable()) t.join();
  }
  {
    std::lock_guard<std::mutex> lock(clockMutex);
    nowUs = 0;
    liveThreads = 1;
    blockedThreads = 0;
    waiters.clear();
  }
  std::lock_guard<std::mutex> lock(stateMutex);
  remote = ScriptedRemote();
  desktop = RecordedDesktop();
  timeline.clear();
  counterStepUs = kCounterStepUs;
}

}  // namespace fake

// ------------------------------------------------------------ the platform

namespace platform {

using fake::desktop;
using fake::remote;
using fake::stateMutex;

HidHandle OpenHidHandle(uint16_t vendor, uint16_t product) {
  std::lock_guard<std::mutex> lock(stateMutex);
  char line[64];
  std::snprintf(line, sizeof line, "open %04X %04X", vendor, product);
  fake::Record(line);
  if (vendor != fake::kVendor ||
      std::find(remote.products.begin(), remote.products.end(), product) ==
          remote.products.end()) {
    return -1;
  }
  if (std::find(remote.heldElsewhere.begin(), remote.heldElsewhere.end(), product) !=
      remote.heldElsewhere.end()) {
    return platform::kHidBusy;
  }
  ++remote.opens;
  remote.openedProduct = product;
  return fake::kFakeHandle;
}

void CloseHidHandle(HidHandle handle) {
  std::lock_guard<std::mutex> lock(stateMutex);
  if (handle == fake::kFakeHandle) ++remote.closes;
  fake::Record("close");
}

namespace {

// Whether the remote has gone away by now, by the script or by the clock.
// Called with stateMutex held.
bool RemoteGone() {
  if (!remote.lost && remote.lostAtUs >= 0 && fake::NowUs() >= remote.lostAtUs) {
    remote.lost = true;
  }
  return remote.lost;
}

// The virtual time from now until the earliest of these moments that is still
// to come, 0 when one has come; moments below 0 never come.
int64_t UntilEarliest(std::initializer_list<int64_t> atUs) {
  const int64_t now = fake::NowUs();
  int64_t until = INT64_MAX;
  for (int64_t at : atUs) {
    if (at >= 0) until = std::min(until, std::max<int64_t>(at - now, 0));
  }
  return until;
}

// How long from now until a read without a time limit is ended without a
// report: a key waiting, a stop request, the desktop lost. INT64_MAX: never.
// Called with stateMutex held.
int64_t UntilWaitEnds() {
  const int64_t keyAt = desktop.keys.empty() ? -1 : desktop.keys.front().atUs;
  return UntilEarliest({keyAt, desktop.stopAtUs, desktop.lostAtUs});
}

// Mode and camera switches at the front of the script take effect at once.
// Called with stateMutex held.
void TakeModeSwitches() {
  using Item = fake::ScriptedRemote::Item;
  while (!remote.script.empty() && (remote.script.front().kind == Item::kMode ||
                                    remote.script.front().kind == Item::kCameraOff)) {
    const Item& item = remote.script.front();
    if (item.kind == Item::kMode) {
      remote.mode = item.bytes[0];
      fake::Record("mode " + fake::Hex(item.bytes));
    } else {
      remote.cameraOff = true;
      remote.cameraEnable1 = remote.cameraEnable2 = false;
      fake::Record("camera off");
    }
    remote.script.pop_front();
  }
}

// What the camera makes of a report that reached the remote. Called with
// stateMutex held.
void FollowCamera(const fake::Bytes& bytes) {
  if (bytes.size() >= 2 && bytes[0] == 0x13) remote.cameraEnable1 = (bytes[1] & 0x04) != 0;
  if (bytes.size() >= 2 && bytes[0] == 0x1A) remote.cameraEnable2 = (bytes[1] & 0x04) != 0;
  const bool modeRegister = bytes.size() >= 7 && bytes[0] == 0x16 && bytes[2] == 0xB0 &&
                            bytes[3] == 0x00 && bytes[4] == 0x33;
  if (modeRegister && remote.cameraEnable1 && remote.cameraEnable2) remote.cameraOff = false;
}

ReadOutcome ReadScripted(HidHandle handle, uint8_t* buffer, int32_t* resultSlot,
                         int timeLimitMs) {
  using Item = fake::ScriptedRemote::Item;
  const bool unlimited = timeLimitMs == kNoTimeLimit;
  *resultSlot = 0;
  int64_t waitUs = 0;
  bool ended = false;  // the wait ends before the remote's next item
  {
    std::lock_guard<std::mutex> lock(stateMutex);
    ++remote.reads;
    if (unlimited) ++remote.unlimitedReads;
    if (timeLimitMs == 0) ++remote.lookReads;
    if (handle != fake::kFakeHandle || RemoteGone()) return kReadDeviceLost;
    if (fake::NowUs() > fake::kTimeCapUs) {
      remote.timeCapHit = true;
      return kReadDeviceLost;
    }
    TakeModeSwitches();
    // A read without a limit would wait for good on a silent remote: it ends
    // at the time cap, after which reads report the remote lost.
    int64_t limitUs = unlimited ? fake::kTimeCapUs + 1 - fake::NowUs() : timeLimitMs * 1000LL;
    if (unlimited) limitUs = std::min(limitUs, UntilWaitEnds());
    // The remote going away ends every wait.
    limitUs = std::min(limitUs, UntilEarliest({remote.lostAtUs}));
    if (remote.script.empty() || remote.waitingForMode) {
      waitUs = limitUs;
    } else {
      Item& item = remote.script.front();
      waitUs = std::min(item.delayUs, limitUs);
      item.delayUs -= waitUs;
    }
    ended = unlimited && waitUs == UntilWaitEnds() &&
            (remote.script.empty() || remote.waitingForMode ||
             remote.script.front().delayUs > 0);
  }
  if (waitUs > 0) fake::WaitVirtual(waitUs);

  std::lock_guard<std::mutex> lock(stateMutex);
  if (RemoteGone()) return kReadDeviceLost;
  TakeModeSwitches();
  if (remote.script.empty() || remote.waitingForMode ||
      remote.script.front().delayUs > 0) {
    if (ended) ++remote.readsEnded;
    return kReadNoReport;
  }
  Item item = remote.script.front();
  remote.script.pop_front();
  switch (item.kind) {
    case Item::kSilence:
      return kReadNoReport;
    case Item::kFail:
      ++remote.failedReads;
      return kReadNoReport;
    case Item::kLost:
      remote.lost = true;
      return kReadDeviceLost;
    case Item::kReport:
    case Item::kMode:  // taken above
    case Item::kCameraOff:
      break;
  }
  const size_t n = std::min<size_t>(item.bytes.size(), kReportBufferSize);
  if (n > 0) std::memcpy(buffer, item.bytes.data(), n);
  if (remote.followsMode && remote.mode != 0 && n > 0 && (buffer[0] & 0xF0) == 0x30) {
    buffer[0] = remote.mode;
  }
  if (remote.cameraFollows && remote.cameraOff && n >= 18 && buffer[0] == 0x33) {
    std::memset(buffer + 6, 0xFF, 12);
  }
  *resultSlot = static_cast<int32_t>(n);
  ++remote.reportsRead;
  if (remote.silentAfterStatus && n >= 1 && item.bytes[0] == 0x20) {
    remote.waitingForMode = true;
    ++remote.statusSilences;
  }
  return kReadReport;
}

}  // namespace

ReadOutcome ReadReport(HidHandle handle, uint8_t* buffer, int32_t* resultSlot,
                       int timeLimitMs) {
  {
    std::lock_guard<std::mutex> lock(stateMutex);
    if (++remote.readsInFlight > 1) remote.readsOverlapped = true;
  }
  const ReadOutcome outcome =
      ReadScripted(handle, buffer, resultSlot, timeLimitMs);
  std::lock_guard<std::mutex> lock(stateMutex);
  --remote.readsInFlight;
  return outcome;
}

int WriteReport(HidHandle handle, const uint8_t* buffer, int32_t* resultSlot) {
  fake::Bytes bytes(buffer, buffer + OutputReportLength(buffer[0]));
  void (*onWrite)(const fake::Bytes&) = nullptr;
  int result;
  {
    std::lock_guard<std::mutex> lock(stateMutex);
    const bool failing =
        remote.failWrites ||
        (remote.failWritesFrom >= 0 &&
         static_cast<int>(remote.written.size()) >= remote.failWritesFrom);
    const bool ok = handle == fake::kFakeHandle && !RemoteGone() && !failing;
    remote.written.push_back(fake::Written{bytes, fake::NowUs(), ok});
    // A report mode that reaches the remote ends its silence after a status
    // report.
    if (ok && bytes[0] == 0x12) {
      remote.waitingForMode = false;
      if (bytes.size() >= 3) remote.mode = bytes[2];
    }
    if (ok && bytes.size() >= 2) remote.rumbling = (bytes[1] & 0x01) != 0;
    if (ok) FollowCamera(bytes);
    fake::Record("write " + fake::Hex(bytes));
    result = ok ? static_cast<int>(bytes.size()) : -1;
    onWrite = remote.onWrite;
  }
  *resultSlot = result;
  if (onWrite) onWrite(bytes);
  return result;
}

bool StartPlatform() {
  std::lock_guard<std::mutex> lock(stateMutex);
  ++desktop.starts;
  return !desktop.unavailable;
}

void StopPlatform() {
  std::lock_guard<std::mutex> lock(stateMutex);
  ++desktop.stops;
}

bool DesktopLost() {
  std::lock_guard<std::mutex> lock(stateMutex);
  return desktop.lostAtUs >= 0 && fake::NowUs() >= desktop.lostAtUs;
}

void SetCursorPos(int x, int y) {
  std::lock_guard<std::mutex> lock(stateMutex);
  desktop.cursorSets.push_back(fake::Point{x, y});
  desktop.cursor.x = std::max(0, std::min(x, desktop.width - 1));
  desktop.cursor.y = std::max(0, std::min(y, desktop.height - 1));
  fake::Record("cursor " + std::to_string(x) + " " + std::to_string(y));
}

void GetCursorPos(int* x, int* y) {
  std::lock_guard<std::mutex> lock(stateMutex);
  ++desktop.cursorReads;
  *x = desktop.cursor.x;
  *y = desktop.cursor.y;
}

void MouseEvent(uint32_t flags, int32_t data) {
  std::lock_guard<std::mutex> lock(stateMutex);
  desktop.mouse.push_back(fake::MouseRecord{flags, data});
  auto press = [](bool* pressed, bool down) {
    if (*pressed == down) ++desktop.buttonEventsOutOfTurn;
    *pressed = down;
  };
  if (flags == kMouseLeftDown) press(&desktop.leftPressed, true);
  if (flags == kMouseLeftUp) press(&desktop.leftPressed, false);
  if (flags == kMouseRightDown) press(&desktop.rightPressed, true);
  if (flags == kMouseRightUp) press(&desktop.rightPressed, false);
  char line[48];
  std::snprintf(line, sizeof line, "mouse %04X %d", flags, data);
  fake::Record(line);
}

void ConsoleWrite(const char* text) {
  std::lock_guard<std::mutex> lock(stateMutex);
  desktop.console += text;
  fake::Record(std::string("console ") + text);
}

bool StopRequested() {
  return desktop.stopAtUs >= 0 && desktop.stopAtUs <= fake::NowUs();
}

bool KeyWaiting() {
  std::lock_guard<std::mutex> lock(stateMutex);
  if (StopRequested()) return true;
  return !desktop.keys.empty() && desktop.keys.front().atUs <= fake::NowUs();
}

int ReadKey() {
  std::lock_guard<std::mutex> lock(stateMutex);
  if (StopRequested()) return kKeyEsc;
  if (desktop.keys.empty()) return 0;
  const int key = desktop.keys.front().key;
  desktop.keys.pop_front();
  return key;
}

void ShowMessage(const char* text) {
  std::lock_guard<std::mutex> lock(stateMutex);
  desktop.messages.push_back(text);
  fake::Record(std::string("message ") + text);
}

int64_t QueryFrequency() { return fake::kFrequency; }

int64_t QueryCounter() {
  fake::WaitVirtual(fake::counterStepUs);
  return fake::NowUs();
}

void SleepMilliseconds(int ms) {
  {
    std::lock_guard<std::mutex> lock(stateMutex);
    ++desktop.sleeps;
  }
  fake::WaitVirtual(ms * 1000LL);
}

ThreadHandle StartThread(void (*body)()) {
  {
    std::lock_guard<std::mutex> lock(stateMutex);
    if (desktop.failThreadStart) return kNoThread;
    ++desktop.threadsStarted;
  }
  for (int i = 0; i < fake::kMaxThreads; ++i) {
    if (fake::threads[i].joinable()) continue;
    {
      std::lock_guard<std::mutex> lock(fake::clockMutex);
      ++fake::liveThreads;
    }
    fake::threads[i] = std::thread([body] {
      fake::WaitVirtual(fake::kThreadStartUs);
      body();
      std::lock_guard<std::mutex> lock(fake::clockMutex);
      --fake::liveThreads;
      fake::clockChanged.notify_all();
    });
    return i;
  }
  return kNoThread;
}

void JoinThread(ThreadHandle thread) {
  if (thread < 0 || thread >= fake::kMaxThreads) return;
  {
    std::lock_guard<std::mutex> lock(fake::clockMutex);
    ++fake::blockedThreads;
    fake::clockChanged.notify_all();
  }
  if (fake::threads[thread].joinable()) fake::threads[thread].join();
  {
    std::lock_guard<std::mutex> lock(fake::clockMutex);
    --fake::blockedThreads;
  }
  std::lock_guard<std::mutex> lock(stateMutex);
  ++desktop.threadsJoined;
}

}  // namespace platform
