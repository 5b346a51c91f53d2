// The console layer on a real pseudo-terminal and on pipes.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/linux/linux_backend.h"
#include "platform/platform.h"

namespace {

using linuxbackend::kKeySequence;
constexpr int kEsc = platform::kKeyEsc;

void SleepMs(int ms) {
  timespec t = {0, ms * 1000000L};
  nanosleep(&t, nullptr);
}

bool SameMode(const termios& a, const termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
         a.c_lflag == b.c_lflag && std::equal(a.c_cc, a.c_cc + NCCS, b.c_cc);
}

// Keys read until count have arrived or a second passed.
std::vector<int> ReadKeys(size_t count) {
  std::vector<int> keys;
  for (int tries = 0; keys.size() < count && tries < 200; ++tries) {
    if (platform::KeyWaiting()) {
      keys.push_back(platform::ReadKey());
    } else {
      SleepMs(5);
    }
  }
  return keys;
}

class PtyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0) << "openpty failed";
    ASSERT_EQ(tcgetattr(slave, &before), 0);
  }
  void TearDown() override {
    linuxbackend::StopConsole();
    linuxbackend::RemoveSignalHandlers();
    linuxbackend::ClearStopRequest();
    close(master);
    close(slave);
  }
  void Type(const std::string& bytes) {
    ASSERT_EQ(write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  termios Now() {
    termios t;
    tcgetattr(slave, &t);
    return t;
  }
  int master = -1, slave = -1;
  termios before;
};

TEST_F(PtyTest, RawModeForTheRunAndRestoredAfter) {
  ASSERT_NE(before.c_lflag & ICANON, 0u);
  ASSERT_NE(before.c_lflag & ECHO, 0u);
  linuxbackend::StartConsole(slave);
  const termios during = Now();
  EXPECT_EQ(during.c_lflag & ICANON, 0u);
  EXPECT_EQ(during.c_lflag & ECHO, 0u);
  // Ctrl+C still raises SIGINT, and output still turns \n into \r\n.
  EXPECT_NE(during.c_lflag & ISIG, 0u);
  EXPECT_EQ(during.c_oflag, before.c_oflag);
  linuxbackend::StopConsole();
  EXPECT_TRUE(SameMode(Now(), before));
  linuxbackend::StopConsole();  // a second stop changes nothing
  EXPECT_TRUE(SameMode(Now(), before));
}

TEST_F(PtyTest, EscAloneIsEscAndSequencesAreOtherKeys) {
  struct Case {
    const char* name;
    std::string typed;
    std::vector<int> keys;
  };
  const Case cases[] = {
      {"Esc", "\x1b", {kEsc}},
      {"a letter", "q", {'q'}},
      {"arrow up", "\x1b[A", {kKeySequence}},
      {"F1 (SS3)", "\x1bOP", {kKeySequence}},
      {"F5", "\x1b[15~", {kKeySequence}},
      {"Ctrl+Right", "\x1b[1;5C", {kKeySequence}},
      {"Alt+x", "\x1bx", {kKeySequence}},
      {"Esc twice", "\x1b\x1b", {kEsc, kEsc}},
      {"keys around a sequence", "x\x1b[Dy\x1b", {'x', kKeySequence, 'y', kEsc}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    linuxbackend::StartConsole(slave);
    Type(c.typed);
    EXPECT_EQ(ReadKeys(c.keys.size()), c.keys);
    EXPECT_FALSE(platform::KeyWaiting());
    linuxbackend::StopConsole();
  }
}

TEST_F(PtyTest, EscTypedAloneIsNotJoinedWithLaterKeys) {
  linuxbackend::StartConsole(slave);
  Type("\x1b");
  EXPECT_EQ(ReadKeys(1), std::vector<int>{kEsc});
  Type("[A");
  EXPECT_EQ(ReadKeys(2), (std::vector<int>{'[', 'A'}));
}

TEST_F(PtyTest, NoKeyMeansNoKey) {
  linuxbackend::StartConsole(slave);
  EXPECT_FALSE(platform::KeyWaiting());
  EXPECT_FALSE(platform::KeyWaiting());
}

TEST_F(PtyTest, StopSignalsReadAsEsc) {
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(sig);
    linuxbackend::InstallSignalHandlers();
    linuxbackend::StartConsole(slave);
    EXPECT_FALSE(platform::KeyWaiting());
    const int seen = linuxbackend::SignalsSeen();
    kill(getpid(), sig);
    EXPECT_EQ(linuxbackend::SignalsSeen(), seen + 1);
    EXPECT_TRUE(platform::KeyWaiting());
    EXPECT_EQ(platform::ReadKey(), kEsc);
    linuxbackend::StopConsole();
    EXPECT_TRUE(SameMode(Now(), before));
    linuxbackend::ClearStopRequest();
  }
}

// A child process puts the terminal into raw mode and is then ended by a
// signal it does not come back from; the terminal must be as before.
void ExpectRestoredAfterDeath(int slave, const termios& before, int firstSig,
                              int killingSig) {
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const rlimit noCore = {0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    linuxbackend::InstallSignalHandlers();
    linuxbackend::StartConsole(slave);
    if (firstSig != 0) raise(firstSig);  // asked to stop; the run ignores it
    raise(killingSig);
    _exit(99);  // not reached
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status)) << "status " << status;
  EXPECT_EQ(WTERMSIG(status), killingSig);
  termios after;
  tcgetattr(slave, &after);
  EXPECT_TRUE(SameMode(after, before));
}

TEST_F(PtyTest, TerminalRestoredWhenASecondStopSignalEndsTheProcess) {
  ExpectRestoredAfterDeath(slave, before, SIGTERM, SIGTERM);
  ExpectRestoredAfterDeath(slave, before, SIGINT, SIGINT);
}

TEST_F(PtyTest, TerminalRestoredWhenTheProcessCrashes) {
  ExpectRestoredAfterDeath(slave, before, 0, SIGABRT);
  ExpectRestoredAfterDeath(slave, before, 0, SIGSEGV);
}

// Started in the background of a shell (its process group is not the
// terminal's foreground group): the tool must leave the terminal alone, or
// the kernel stops it.
TEST_F(PtyTest, BackgroundRunLeavesTheTerminalAlone) {
  const pid_t session = fork();
  ASSERT_GE(session, 0);
  if (session == 0) {
    // A session leader with the pseudo-terminal as its controlling terminal;
    // its group stays the foreground group.
    setsid();
    if (ioctl(slave, TIOCSCTTY, 0) != 0) _exit(10);
    const pid_t background = fork();
    if (background == 0) {
      setpgid(0, 0);
      linuxbackend::StartConsole(slave);
      const bool key = platform::KeyWaiting();
      linuxbackend::StopConsole();
      _exit(key ? 11 : 0);
    }
    int status = 0;
    waitpid(background, &status, WUNTRACED);
    if (WIFSTOPPED(status)) {
      kill(background, SIGKILL);
      waitpid(background, &status, 0);
      _exit(12);
    }
    _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 13);
  }
  Type("k");
  int status = 0;
  ASSERT_EQ(waitpid(session, &status, 0), session);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_NE(WEXITSTATUS(status), 10) << "could not make the terminal a controlling one";
  EXPECT_NE(WEXITSTATUS(status), 12) << "stopped by the kernel for touching the terminal";
  EXPECT_NE(WEXITSTATUS(status), 11) << "read a key from the background";
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_TRUE(SameMode(Now(), before));
}

TEST(ConsoleInput, PipeIsReadAsBytesAndItsEndMeansNoKey) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const std::string typed = "ab\x1b[A\x1b";
  ASSERT_EQ(write(fds[1], typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));
  close(fds[1]);
  linuxbackend::StartConsole(fds[0]);
  EXPECT_EQ(ReadKeys(4), (std::vector<int>{'a', 'b', kKeySequence, kEsc}));
  for (int i = 0; i < 3; ++i) EXPECT_FALSE(platform::KeyWaiting());
  linuxbackend::StopConsole();
  close(fds[0]);
}

TEST(ConsoleInput, DevNullAndClosedInputHaveNoKeys) {
  const int null = open("/dev/null", O_RDONLY);
  ASSERT_GE(null, 0);
  linuxbackend::StartConsole(null);
  EXPECT_FALSE(platform::KeyWaiting());
  linuxbackend::StopConsole();
  close(null);
  // The same number, now closed.
  linuxbackend::StartConsole(null);
  EXPECT_FALSE(platform::KeyWaiting());
  linuxbackend::StopConsole();
}

TEST(ConsoleInput, NothingTypedInAnOpenPipeIsNoKey) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  linuxbackend::StartConsole(fds[0]);
  EXPECT_FALSE(platform::KeyWaiting());
  ASSERT_EQ(write(fds[1], "k", 1), 1);
  EXPECT_EQ(ReadKeys(1), std::vector<int>{'k'});
  linuxbackend::StopConsole();
  close(fds[0]);
  close(fds[1]);
}

}  // namespace
