// The Windows backend against the real system (run under Wine in CI): HID
// enumeration on a machine without a remote, console keys and control events,
// the worker thread and the counter.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>

#include "platform/platform.h"
#include "platform/windows/backend.h"
#include "pointer/control_loop.h"
#include "remote/remote.h"

namespace {

constexpr uint16_t kVendor = 0x057E;
constexpr uint16_t kProduct = 0x0306;

TEST(Hid, NoRemoteIsFoundWhereNoneIsConnected) {
  char path[512] = "untouched";
  EXPECT_FALSE(platform::windows_backend::FindHidDevice(kVendor, kProduct, path,
                                                        sizeof path));
  EXPECT_STREQ(path, "untouched");
  EXPECT_EQ(platform::OpenHidHandle(kVendor, kProduct), -1);
}

TEST(Hid, HandlesThatWereNeverOpenedAreLostDevices) {
  uint8_t buffer[platform::kReportBufferSize] = {0x11, 0x10};
  for (HidHandle handle : {-1, 0, 3, 4, 1000}) {
    int32_t slot = 123;
    EXPECT_EQ(platform::ReadReport(handle, buffer, &slot, 5), platform::kReadDeviceLost)
        << handle;
    EXPECT_EQ(slot, 0) << handle;
    slot = 123;
    EXPECT_EQ(platform::WriteReport(handle, buffer, &slot), -1) << handle;
    EXPECT_EQ(slot, -1) << handle;
    platform::CloseHidHandle(handle);  // nothing to release, and no harm done
  }
}

// The console control handler, with the platform started around each test.
class ConsoleControl : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(platform::StartPlatform());
    // Whatever the console may hold from before the test.
    while (platform::KeyWaiting()) platform::ReadKey();
  }
  void TearDown() override { platform::StopPlatform(); }
};

// Raises a control event through the system and waits (bounded) until the
// handler, which the system runs on a thread of its own, has taken it.
bool RaiseThroughSystem(DWORD event) {
  if (!GenerateConsoleCtrlEvent(event, 0)) return false;
  for (int i = 0; i < 200 && !platform::KeyWaiting(); ++i) Sleep(10);
  return platform::KeyWaiting();
}

TEST_F(ConsoleControl, CtrlCAndCtrlBreakReadAsEsc) {
  for (DWORD event : {DWORD(CTRL_C_EVENT), DWORD(CTRL_BREAK_EVENT)}) {
    ASSERT_TRUE(RaiseThroughSystem(event)) << "event " << event << ", error "
                                           << GetLastError();
    EXPECT_EQ(platform::ReadKey(), platform::kKeyEsc);
    EXPECT_FALSE(platform::KeyWaiting()) << "one event reads as one key";
  }
}

TEST_F(ConsoleControl, CtrlCEndsTheControlLoop) {
  // No remote: a loop that read would end on the lost device instead.
  hidHandle = -1;
  EXPECT_EQ(RunControlLoop(), kLoopDeviceLost);
  ASSERT_TRUE(RaiseThroughSystem(CTRL_C_EVENT));
  EXPECT_EQ(RunControlLoop(), kLoopQuit);
  EXPECT_FALSE(platform::KeyWaiting());
}

std::atomic<bool> handlerReturned{false};
DWORD WINAPI CloseConsole(void*) {
  platform::windows_backend::ConsoleControlHandler(CTRL_CLOSE_EVENT);
  handlerReturned.store(true);
  return 0;
}

TEST_F(ConsoleControl, ClosingTheConsoleWaitsForTheShutdown) {
  // The system ends the process when the handler of a close event returns,
  // so it returns only once the shutdown has run.
  handlerReturned.store(false);
  HANDLE system = CreateThread(nullptr, 0, CloseConsole, nullptr, 0, nullptr);
  ASSERT_NE(system, nullptr);
  for (int i = 0; i < 200 && !platform::KeyWaiting(); ++i) Sleep(10);
  ASSERT_TRUE(platform::KeyWaiting());
  EXPECT_EQ(platform::ReadKey(), platform::kKeyEsc);
  EXPECT_EQ(WaitForSingleObject(system, 200), DWORD(WAIT_TIMEOUT));
  EXPECT_FALSE(handlerReturned.load());
  platform::StopPlatform();
  EXPECT_EQ(WaitForSingleObject(system, 3000), DWORD(WAIT_OBJECT_0));
  EXPECT_TRUE(handlerReturned.load());
  CloseHandle(system);
}

// Keys typed at the console, through its input buffer.
class ConsoleKeys : public ConsoleControl {
 protected:
  void SetUp() override {
    if (GetStdHandle(STD_INPUT_HANDLE) == nullptr ||
        GetFileType(GetStdHandle(STD_INPUT_HANDLE)) != FILE_TYPE_CHAR) {
      FreeConsole();
      ASSERT_TRUE(AllocConsole()) << GetLastError();
    }
    input = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE,
                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                        nullptr);
    ASSERT_NE(input, INVALID_HANDLE_VALUE);
    FlushConsoleInputBuffer(input);
    ConsoleControl::SetUp();
  }
  void TearDown() override {
    ConsoleControl::TearDown();
    if (input != INVALID_HANDLE_VALUE) CloseHandle(input);
  }
  // One key press and release.
  void Type(WORD virtualKey, char character, DWORD state = 0) {
    INPUT_RECORD records[2];
    for (int i = 0; i < 2; ++i) {
      ZeroMemory(&records[i], sizeof records[i]);
      records[i].EventType = KEY_EVENT;
      KEY_EVENT_RECORD& k = records[i].Event.KeyEvent;
      k.bKeyDown = i == 0;
      k.wRepeatCount = 1;
      k.wVirtualKeyCode = virtualKey;
      k.wVirtualScanCode = static_cast<WORD>(MapVirtualKeyA(virtualKey, 0));
      k.uChar.AsciiChar = character;
      k.dwControlKeyState = state;
    }
    DWORD written = 0;
    ASSERT_TRUE(WriteConsoleInputA(input, records, 2, &written));
    ASSERT_EQ(written, 2u);
  }
  HANDLE input = INVALID_HANDLE_VALUE;
};

TEST_F(ConsoleKeys, EscAndOtherKeys) {
  Type(VK_ESCAPE, 27);
  Type('Q', 'q');
  ASSERT_TRUE(platform::KeyWaiting());
  EXPECT_EQ(platform::ReadKey(), platform::kKeyEsc);
  ASSERT_TRUE(platform::KeyWaiting());
  EXPECT_EQ(platform::ReadKey(), 'q');
  EXPECT_FALSE(platform::KeyWaiting());
}

TEST_F(ConsoleKeys, AnArrowOrFunctionKeyIsOneKeyOtherThanEsc) {
  Type(VK_UP, 0, ENHANCED_KEY);
  Type(VK_F1, 0);
  Type(VK_ESCAPE, 27);
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(platform::KeyWaiting()) << i;
    EXPECT_NE(platform::ReadKey(), platform::kKeyEsc) << i;
  }
  ASSERT_TRUE(platform::KeyWaiting());
  EXPECT_EQ(platform::ReadKey(), platform::kKeyEsc) << "the arrow left a byte behind";
  EXPECT_FALSE(platform::KeyWaiting());
}

std::atomic<int> bodyRuns{0};
void CountRun() { bodyRuns.fetch_add(1); }

TEST(Threads, StartRunsTheBodyAndJoinWaitsForIt) {
  bodyRuns.store(0);
  // More rounds than the thread table has slots: joined slots are reused.
  for (int round = 0; round < 10; ++round) {
    const platform::ThreadHandle t = platform::StartThread(CountRun);
    ASSERT_NE(t, platform::kNoThread) << round;
    platform::JoinThread(t);
    EXPECT_EQ(bodyRuns.load(), round + 1);
  }
  platform::JoinThread(platform::kNoThread);  // nothing to wait for
}

TEST(Time, WaitMillisecondsPassesMoreThanTheTimeOnTheCounter) {
  const int64_t frequency = platform::QueryFrequency();
  ASSERT_GT(frequency, 0);
  for (int ms : {1, 20}) {
    const int64_t start = platform::QueryCounter();
    platform::WaitMilliseconds(ms);
    const int64_t end = platform::QueryCounter();
    EXPECT_GT(static_cast<double>(end - start) / frequency * 1000.0, ms);
  }
}

}  // namespace
