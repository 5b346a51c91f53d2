// The Windows backend against the real system (run under Wine in CI): HID
// enumeration on a machine without a remote, console keys and control events,
// the worker thread and the counter. (Typed keys are not tested here: Wine's
// console takes no injected input in a process that did not start with it.)
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

// A console of this process alone, so that control events reach no other
// program (and under Wine, which gives a process started from
// a pipe no console, there is one at all).
bool OwnConsole() {
  static bool done = false;
  if (!done) {
    FreeConsole();
    done = AllocConsole() != 0;
  }
  return done;
}

// The console control handler, with the platform started around each test.
class ConsoleControl : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(OwnConsole()) << GetLastError();
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

TEST_F(ConsoleControl, CtrlCReadsAsEsc) {
  ASSERT_TRUE(RaiseThroughSystem(CTRL_C_EVENT)) << GetLastError();
  EXPECT_EQ(platform::ReadKey(), platform::kKeyEsc);
  EXPECT_FALSE(platform::KeyWaiting()) << "one event reads as one key";
}

TEST_F(ConsoleControl, CtrlBreakReadsAsEsc) {
  // Handed to the handler as the system would: Wine does not raise Ctrl+Break
  // for a whole console.
  EXPECT_TRUE(platform::windows_backend::ConsoleControlHandler(CTRL_BREAK_EVENT));
  ASSERT_TRUE(platform::KeyWaiting());
  EXPECT_EQ(platform::ReadKey(), platform::kKeyEsc);
  EXPECT_FALSE(platform::KeyWaiting());
}

TEST_F(ConsoleControl, OtherEventsAreLeftToTheSystem) {
  const DWORD kNotAConsoleEvent = 77;
  EXPECT_FALSE(platform::windows_backend::ConsoleControlHandler(kNotAConsoleEvent));
  EXPECT_FALSE(platform::KeyWaiting());
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
