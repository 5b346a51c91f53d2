// The loop's read without a time limit, through the real backend and hidapi's
// interface, with the stand-in library (fake_hidapi.cpp, put in front by
// LD_LIBRARY_PATH) as a remote that never sends: a key on a pseudo-terminal or
// a pipe, and a stop signal, end the wait, also when they come in the instant
// the read begins to wait.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <hidapi/hidapi.h>
#include <pthread.h>
#include <pty.h>
#include <signal.h>
#include <sys/file.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/linux_backend.h"
#include "platform/platform.h"

namespace {

// A read that the event does not end within this time has lost it.
constexpr int kHangGuardS = 20;

void SleepMs(int ms) {
  timespec t = {ms / 1000, (ms % 1000) * 1000000L};
  nanosleep(&t, nullptr);
}

// Ends the test program when a read hangs, rather than letting ctest's time
// limit find it much later.
class HangGuard {
 public:
  HangGuard() {
    thread_ = std::thread([this] {
      for (int tenths = 0; !done_.load(); ++tenths) {
        if (tenths > kHangGuardS * 10) {
          std::fprintf(stderr, "a read did not end on its event within %d s\n", kHangGuardS);
          std::_Exit(1);
        }
        SleepMs(100);
      }
    });
  }
  ~HangGuard() {
    done_.store(true);
    thread_.join();
  }

 private:
  std::atomic<bool> done_{false};
  std::thread thread_;
};

class EndableWait : public ::testing::Test {
 protected:
  void SetUp() override {
    // The stand-in reads no script: the remote sends nothing, ever.
    unsetenv("FAKE_HID_SCRIPT");
    unsetenv("FAKE_HID_LOG");
    handle = platform::OpenHidHandle(0x057E, 0x0306);
    ASSERT_GE(handle, 0);
  }
  void TearDown() override {
    linuxbackend::StopWaitWatch();
    linuxbackend::StopConsole();
    linuxbackend::RemoveSignalHandlers();
    linuxbackend::ClearStopRequest();
    linuxbackend::StopHid();
    if (master >= 0) close(master);
    if (slave >= 0) close(slave);
  }
  // The console on in, the signals, the watcher: as StartPlatform has them.
  void Start(int in) {
    linuxbackend::InstallSignalHandlers();
    linuxbackend::StartConsole(in);
    ASSERT_TRUE(linuxbackend::StartWaitWatch());
  }
  platform::ReadOutcome Read() {
    uint8_t buffer[platform::kReportBufferSize];
    int32_t slot = -1;
    const platform::ReadOutcome outcome =
        platform::ReadReport(handle, buffer, &slot, platform::kNoTimeLimit);
    EXPECT_EQ(slot, 0);
    return outcome;
  }
  // Many rounds: a thread fires the event when the read has just begun its
  // wait, after a spin of 0 to about 30 µs that sweeps the moment the read
  // enters poll(); the read must end each time. clear takes the event away
  // before the next round.
  void EveryRoundEnds(int rounds, const std::function<void()>& fire,
                      const std::function<void()>& clear) {
    HangGuard guard;
    const int signalsBefore = linuxbackend::SignalsSeen();
    for (int round = 0; round < rounds; ++round) {
      std::thread firing([&] {
        sigset_t all;
        sigfillset(&all);
        pthread_sigmask(SIG_BLOCK, &all, nullptr);  // stop signals go to the reader
        while (!linuxbackend::InEndableWait()) {
        }
        for (volatile int spin = 0; spin < (round % 64) * 50; ++spin) {
        }
        fire();
      });
      EXPECT_EQ(Read(), platform::kReadNoReport) << "round " << round;
      firing.join();
      clear();
    }
    // More signals than rounds: some events came before poll() and the
    // watcher had to send again.
    std::printf("%d rounds, %d signals to end them\n", rounds,
                linuxbackend::SignalsSeen() - signalsBefore);
  }
  // A key written into master in each round, taken before the next.
  void EveryKeyRoundEnds(int rounds) {
    EveryRoundEnds(
        rounds, [&] { ASSERT_EQ(write(master, "x", 1), 1); },
        [&] {
          EXPECT_TRUE(platform::KeyWaiting());
          TakeKeys();
        });
  }
  void TakeKeys() {
    while (platform::KeyWaiting()) platform::ReadKey();
  }
  HidHandle handle = -1;
  int master = -1, slave = -1;
};

TEST_F(EndableWait, WithoutAnEventTheReadWaitsOn) {
  ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
  Start(slave);
  HangGuard guard;
  std::atomic<bool> ended{false};
  std::thread reader([&] {
    EXPECT_EQ(Read(), platform::kReadNoReport);
    ended.store(true);
  });
  SleepMs(500);
  EXPECT_FALSE(ended.load()) << "the read ended with nothing to end it";
  ASSERT_EQ(write(master, "\x1b", 1), 1);
  reader.join();
  EXPECT_TRUE(ended.load());
  EXPECT_TRUE(platform::KeyWaiting());
  EXPECT_EQ(platform::ReadKey(), platform::kKeyEsc);
}

TEST_F(EndableWait, AKeyOnATerminalEndsEveryWait) {
  ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
  Start(slave);
  EveryKeyRoundEnds(500);
}

TEST_F(EndableWait, BytesOnAPipeEndEveryWait) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  master = fds[1];
  slave = fds[0];
  Start(slave);
  EveryKeyRoundEnds(300);
}

TEST_F(EndableWait, AStopSignalEndsEveryWait) {
  ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
  Start(slave);
  EveryRoundEnds(
      500, [] { kill(getpid(), SIGTERM); },
      [] {
        EXPECT_TRUE(linuxbackend::StopRequested());
        EXPECT_TRUE(platform::KeyWaiting());
        EXPECT_EQ(platform::ReadKey(), platform::kKeyEsc);
        linuxbackend::ClearStopRequest();
      });
}

// The event comes after the read's last look and before it enters poll():
// the first signal lands while nothing waits, and the wait that follows must
// still end. The gap is held open here on purpose, between the two halves of
// what ReadReport does.
TEST_F(EndableWait, AnEventJustBeforeThePollIsSignalledAgain) {
  ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
  Start(slave);
  hid_device* device = hid_open(0x057E, 0x0306, nullptr);
  ASSERT_NE(device, nullptr);
  HangGuard guard;
  struct Event {
    const char* name;
    std::function<void()> fire, clear;
  };
  const Event events[] = {
      {"key", [&] { ASSERT_EQ(write(master, "x", 1), 1); }, [&] { TakeKeys(); }},
      {"stop signal", [] { kill(getpid(), SIGTERM); },
       [] {
         EXPECT_TRUE(linuxbackend::StopRequested());
         linuxbackend::ClearStopRequest();
       }},
  };
  for (const Event& event : events) {
    for (int round = 0; round < 10; ++round) {
      SCOPED_TRACE(event.name);
      const int signalsBefore = linuxbackend::SignalsSeen();
      const int waitMs = linuxbackend::BeginEndableWait();
      ASSERT_EQ(waitMs, linuxbackend::kLongestWaitMs);
      event.fire();
      // The first signal is spent here, before the read: wait until it has
      // come (a loaded machine may take longer than any fixed pause).
      while (linuxbackend::SignalsSeen() == signalsBefore) SleepMs(1);
      unsigned char buffer[64];
      EXPECT_EQ(hid_read_timeout(device, buffer, sizeof buffer, waitMs), -1);
      linuxbackend::FinishEndableWait();
      EXPECT_GE(linuxbackend::SignalsSeen() - signalsBefore, 2);
      event.clear();
    }
  }
  hid_close(device);
}

TEST_F(EndableWait, KeysAlreadyReadEndTheWaitAtOnce) {
  // Three keys at once: the loop takes one per pass, and the reads in between
  // do not wait while the others are there.
  ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
  Start(slave);
  HangGuard guard;
  ASSERT_EQ(write(master, "ab\x1b", 3), 3);
  std::vector<int> keys;
  for (int pass = 0; pass < 3; ++pass) {
    while (!platform::KeyWaiting()) SleepMs(1);
    keys.push_back(platform::ReadKey());
    if (pass < 2) {
      EXPECT_EQ(Read(), platform::kReadNoReport);
    }
  }
  EXPECT_EQ(keys, (std::vector<int>{'a', 'b', platform::kKeyEsc}));
}

// The watcher tells of an arrival once, and the pass looks at the console
// only then: bytes that arrived together and do not fit one read (the
// console reads 64 at a time), or that came before the watcher started, are
// still all taken, each key on a pass of its own; and with nothing new, no
// key is made up.
TEST_F(EndableWait, EveryByteOfOneArrivalIsTaken) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  master = fds[1];
  slave = fds[0];
  ASSERT_EQ(write(master, "ab", 2), 2);  // before the watcher
  Start(slave);
  HangGuard guard;
  std::string sent(150, 'k');
  sent[149] = 'z';
  ASSERT_EQ(write(master, sent.data(), sent.size()), static_cast<ssize_t>(sent.size()));
  sent = "ab" + sent;
  std::string got;
  while (got.size() < sent.size()) {
    if (platform::KeyWaiting()) {
      got += static_cast<char>(platform::ReadKey());
    } else {
      SleepMs(1);
    }
  }
  EXPECT_EQ(got, sent);
  SleepMs(50);
  EXPECT_FALSE(platform::KeyWaiting());
  ASSERT_EQ(write(master, "q", 1), 1);
  while (!platform::KeyWaiting()) SleepMs(1);
  EXPECT_EQ(platform::ReadKey(), 'q');
}

// The watcher runs on a table of descriptors of its own that holds only what
// it waits on: the loop's own system calls then find the table unshared, and
// a descriptor the loop closes is closed (a lock on the remote's node goes
// with it).
TEST_F(EndableWait, TheWatcherKeepsNoneOfTheLoopsDescriptors) {
  char path[] = "/tmp/trevanquill-wait-test-XXXXXX";
  const int locked = mkstemp(path);
  ASSERT_GE(locked, 0);
  ASSERT_EQ(flock(locked, LOCK_EX | LOCK_NB), 0);
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  master = fds[1];
  slave = fds[0];
  Start(slave);

  // Each thread's table: the watcher's holds two descriptors (its epoll set
  // and the stop signals' eventfd), the loop's all the others.
  std::vector<int> counts;
  DIR* tasks = opendir("/proc/self/task");
  ASSERT_NE(tasks, nullptr);
  while (dirent* task = readdir(tasks)) {
    if (task->d_name[0] == '.') continue;
    const std::string dir = std::string("/proc/self/task/") + task->d_name + "/fd";
    DIR* fdDir = opendir(dir.c_str());
    if (fdDir == nullptr) continue;
    int count = 0;
    while (dirent* e = readdir(fdDir)) count += e->d_name[0] != '.';
    closedir(fdDir);
    counts.push_back(count);  // the loop's with the one that lists it
  }
  closedir(tasks);
  std::sort(counts.begin(), counts.end());
  ASSERT_EQ(counts.size(), 2u);
  EXPECT_EQ(counts[0], 2);
  EXPECT_GT(counts[1], 5);

  close(locked);
  const int again = open(path, O_RDWR);
  ASSERT_GE(again, 0);
  EXPECT_EQ(flock(again, LOCK_EX | LOCK_NB), 0) << "the lock outlived its descriptor";
  close(again);
  unlink(path);
}

}  // namespace
