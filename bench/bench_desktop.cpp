// The desktop, console, time and threads of the logic-only benchmark: no
// system at all, only the cursor kept on a screen and counters, so that a pass
// costs what the tool's own logic costs. (The test platform records every
// effect as text under a lock, which is what a test needs and not what the
// tool costs.)
#include <chrono>
#include <thread>

#include "bench_desktop.h"
#include "platform/platform.h"

namespace benchdesktop {

Counters counters;

namespace {
constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
int cursorX = kWidth / 2;
int cursorY = kHeight / 2;
}  // namespace

}  // namespace benchdesktop

namespace platform {

using benchdesktop::counters;

bool StartPlatform() { return true; }
void StopPlatform() {}
bool DesktopLost() { return false; }

void SetCursorPos(int x, int y) {
  using namespace benchdesktop;
  ++counters.cursorSets;
  cursorX = x < 0 ? 0 : x >= kWidth ? kWidth - 1 : x;
  cursorY = y < 0 ? 0 : y >= kHeight ? kHeight - 1 : y;
}

void GetCursorPos(int* x, int* y) {
  ++counters.cursorReads;
  *x = benchdesktop::cursorX;
  *y = benchdesktop::cursorY;
}

void MouseEvent(uint32_t, int32_t) { ++counters.mouseEvents; }
void ConsoleWrite(const char*) { ++counters.consoleWrites; }
bool KeyWaiting() { return false; }
int ReadKey() { return 0; }
void ShowMessage(const char*) {}

int64_t QueryCounter() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}
int64_t QueryFrequency() { return 1000000000; }

void SleepMilliseconds(int ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

ThreadHandle StartThread(void (*)()) { return kNoThread; }
void JoinThread(ThreadHandle) {}

}  // namespace platform
