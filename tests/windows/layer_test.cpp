// The Windows backend against the real system (run under Wine in CI): HID
// enumeration on a machine without a remote, console keys and control events,
// the worker thread and the counter, and the wait of a read for a silent
// device, which a control event or a key press in the console ends. (Keys
// are put into the process's own console input with WriteConsoleInput;
// typing is not simulated.)
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>

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

// A read that waits for a silent device, as ReadReport's does: an overlapped
// read on a pipe into which nobody writes until the test says so.
class SilentDevice : public ConsoleControl {
 protected:
  void SetUp() override {
    ConsoleControl::SetUp();
    FlushConsoleInputBuffer(GetStdHandle(STD_INPUT_HANDLE));
    char name[64];
    wsprintfA(name, "\\\\.\\pipe\\trevanquill-silent-%lu", GetCurrentProcessId());
    server = CreateNamedPipeA(name, PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED,
                              PIPE_TYPE_BYTE, 1, 64, 64, 0, nullptr);
    ASSERT_NE(server, INVALID_HANDLE_VALUE) << GetLastError();
    client = CreateFileA(name, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(client, INVALID_HANDLE_VALUE) << GetLastError();
    std::memset(&ov, 0, sizeof ov);
    ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_FALSE(ReadFile(server, buffer, sizeof buffer, nullptr, &ov));
    ASSERT_EQ(GetLastError(), DWORD(ERROR_IO_PENDING));
  }
  void TearDown() override {
    CancelIo(server);
    DWORD bytes;
    GetOverlappedResult(server, &ov, &bytes, TRUE);
    CloseHandle(ov.hEvent);
    CloseHandle(client);
    CloseHandle(server);
    FlushConsoleInputBuffer(GetStdHandle(STD_INPUT_HANDLE));
    ConsoleControl::TearDown();
  }
  // Waits without a limit, as the loop's read does. A watchdog writes into
  // the pipe after kHangGuardMs, so that a wait nothing ends fails the test
  // (finished by itself) instead of hanging it.
  bool WaitEndedByItself() {
    HANDLE guard = CreateThread(nullptr, 0, Guard, client, 0, nullptr);
    const bool byItself =
        platform::windows_backend::WaitForTransfer(server, &ov, INFINITE, true);
    guardStop.store(true);
    WaitForSingleObject(guard, INFINITE);
    CloseHandle(guard);
    guardStop.store(false);
    return byItself;
  }
  static DWORD WINAPI Guard(void* pipe) {
    for (int i = 0; i < kHangGuardMs / 10 && !guardStop.load(); ++i) Sleep(10);
    if (!guardStop.load()) {
      DWORD written;
      WriteFile(static_cast<HANDLE>(pipe), "x", 1, &written, nullptr);
    }
    return 0;
  }
  static constexpr int kHangGuardMs = 10000;
  static std::atomic<bool> guardStop;
  HANDLE server = INVALID_HANDLE_VALUE;
  HANDLE client = INVALID_HANDLE_VALUE;
  OVERLAPPED ov;
  char buffer[64];
};
std::atomic<bool> SilentDevice::guardStop{false};

// Runs body on a thread of its own after ms milliseconds.
struct LaterJob {
  int ms;
  void (*body)();
};
DWORD WINAPI RunLater(void* job) {
  Sleep(static_cast<LaterJob*>(job)->ms);
  static_cast<LaterJob*>(job)->body();
  return 0;
}
void Later(int ms, void (*body)()) {
  static LaterJob job;
  job = LaterJob{ms, body};
  HANDLE t = CreateThread(nullptr, 0, RunLater, &job, 0, nullptr);
  CloseHandle(t);
}

// A record in the console's own input buffer, as the console puts one there.
bool PutInput(const INPUT_RECORD& record) {
  DWORD written = 0;
  return WriteConsoleInputA(GetStdHandle(STD_INPUT_HANDLE), &record, 1, &written) &&
         written == 1;
}

INPUT_RECORD KeyRecord(char c, bool down) {
  INPUT_RECORD r;
  std::memset(&r, 0, sizeof r);
  r.EventType = KEY_EVENT;
  r.Event.KeyEvent.bKeyDown = down;
  r.Event.KeyEvent.wRepeatCount = 1;
  r.Event.KeyEvent.uChar.AsciiChar = c;
  r.Event.KeyEvent.wVirtualKeyCode = c == 27 ? VK_ESCAPE : VkKeyScanA(c) & 0xFF;
  return r;
}

TEST_F(SilentDevice, CtrlCEndsTheWait) {
  Later(200, [] { GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0); });
  EXPECT_FALSE(WaitEndedByItself()) << "the wait ran until the watchdog";
  ASSERT_TRUE(platform::KeyWaiting());
  EXPECT_EQ(platform::ReadKey(), platform::kKeyEsc);
}

TEST_F(SilentDevice, ACloseOrBreakHandedToTheHandlerEndsTheWait) {
  Later(200, [] { platform::windows_backend::ConsoleControlHandler(CTRL_BREAK_EVENT); });
  EXPECT_FALSE(WaitEndedByItself());
  EXPECT_EQ(platform::ReadKey(), platform::kKeyEsc);
}

TEST_F(SilentDevice, AKeyPressEndsTheWait) {
  // Records put into the console's input as typing puts them there.
  Later(200, [] {
    PutInput(KeyRecord(27, true));
    PutInput(KeyRecord(27, false));
  });
  EXPECT_FALSE(WaitEndedByItself());
  ASSERT_TRUE(platform::KeyWaiting());
  EXPECT_EQ(platform::ReadKey(), platform::kKeyEsc);
}

TEST_F(SilentDevice, AKeyPressWhoseReleaseHasNotComeIsAKeyWaiting) {
  // Between a key's press and its release (a key held down) the press is the
  // console input's last record; it ends a wait, so the loop must see a key.
  ASSERT_TRUE(PutInput(KeyRecord(27, true))) << GetLastError();
  EXPECT_FALSE(WaitEndedByItself());
  ASSERT_TRUE(platform::KeyWaiting());
  EXPECT_EQ(platform::ReadKey(), platform::kKeyEsc);
  EXPECT_FALSE(platform::KeyWaiting());
}

TEST_F(SilentDevice, RecordsThatAreNoKeyPressesAreDroppedAndTheWaitGoesOn) {
  INPUT_RECORD focus;
  std::memset(&focus, 0, sizeof focus);
  focus.EventType = FOCUS_EVENT;
  focus.Event.FocusEvent.bSetFocus = TRUE;
  INPUT_RECORD mouse;
  std::memset(&mouse, 0, sizeof mouse);
  mouse.EventType = MOUSE_EVENT;
  mouse.Event.MouseEvent.dwEventFlags = MOUSE_MOVED;
  INPUT_RECORD size;
  std::memset(&size, 0, sizeof size);
  size.EventType = WINDOW_BUFFER_SIZE_EVENT;
  size.Event.WindowBufferSizeEvent.dwSize.X = 100;
  ASSERT_TRUE(PutInput(focus) && PutInput(mouse) && PutInput(size) &&
              PutInput(KeyRecord('a', false)))
      << GetLastError();
  // A bounded wait: they do not end it, and they are gone after it.
  EXPECT_FALSE(platform::windows_backend::WaitForTransfer(server, &ov, 300, true));
  DWORD left = 99;
  GetNumberOfConsoleInputEvents(GetStdHandle(STD_INPUT_HANDLE), &left);
  EXPECT_EQ(left, 0u);
  EXPECT_FALSE(platform::KeyWaiting());
}

TEST_F(SilentDevice, DataComesFirst) {
  DWORD written;
  ASSERT_TRUE(WriteFile(client, "r", 1, &written, nullptr));
  platform::windows_backend::ConsoleControlHandler(CTRL_C_EVENT);
  EXPECT_TRUE(WaitEndedByItself()) << "the waiting data did not come first";
  EXPECT_EQ(platform::ReadKey(), platform::kKeyEsc);
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
