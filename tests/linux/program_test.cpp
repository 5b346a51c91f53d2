// The real trevanquill executable against a real X server, with only the
// remote scripted: a stand-in libhidapi-hidraw.so.0 (fake_hidapi.cpp) is put
// in place of hidapi through LD_LIBRARY_PATH.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "x_observer.h"

using xobserver::Event;
using xobserver::Motion;
using xobserver::Press;
using xobserver::Release;

namespace {

constexpr int kExitTimeoutMs = 15000;
// A run told to end while its read waits ends in milliseconds; this only
// guards against a hang.
constexpr int kQuickExitMs = 3000;
// The remote's first data report (accelerometer X 0x80), which the link
// probe waits for.
const char* const kProbeReport = "report 31 00 00 80 80 80\n";
// The last report of the set-up; after it the control loop runs.
const char* const kSetUpDone = "16 04 b0 00 33";
// The loop has begun and waits for the remote: its look at what waited
// found nothing, so what comes next has points the loop takes.
const std::string kAwaitLoop = std::string("await ") + kSetUpDone + "\nidle\n";
// Two infrared points, both at camera (400, 600): the cursor goes to (848, 776).
const char* const kIrAt400x600 = "33 00 00 80 80 80 90 58 90 90 58 90";
// Both at (300, 500): target (1148, 476), smoothed from (848, 776) to (898, 726).
const char* const kIrAt300x500 = "33 00 00 80 80 80 2c f4 50 2c f4 50";
const char* const kHome = "report 30 00 80\n";

long NowMs() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec * 1000L + t.tv_nsec / 1000000;
}

void SleepMs(int ms) {
  timespec t = {ms / 1000, (ms % 1000) * 1000000L};
  nanosleep(&t, nullptr);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

// The processor time a process has used so far, all its threads, in clock
// ticks (user and system).
long CpuTicks(pid_t pid) {
  const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
  // The fields after the command's closing parenthesis; utime and stime are
  // the 12th and 13th of them.
  std::istringstream in(stat.substr(stat.rfind(')') + 2));
  std::string field;
  long utime = 0, stime = 0;
  for (int i = 1; i <= 13 && in >> field; ++i) {
    if (i == 12) utime = std::atol(field.c_str());
    if (i == 13) stime = std::atol(field.c_str());
  }
  return utime + stime;
}

bool HasDisplay() {
  const char* d = std::getenv("DISPLAY");
  return d != nullptr && d[0] != '\0';
}

// One run of the tool.
class ToolRun {
 public:
  ToolRun() {
    char pattern[] = "/tmp/trevanquill-run-XXXXXX";
    dir_ = mkdtemp(pattern);
  }
  ~ToolRun() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    for (const char* f : {"/script", "/log", "/out", "/err"}) unlink((dir_ + f).c_str());
    rmdir(dir_.c_str());
  }

  // display: the DISPLAY to give the tool, nullptr for none. stdinFd: what the
  // tool reads keys from (-1: /dev/null).
  // nodes: the remote's nodes (FAKE_HID_NODES), empty for one of the run's
  // own.
  void Start(const std::string& script, const char* display, int stdinFd = -1,
             const std::string& nodes = "") {
    std::ofstream(dir_ + "/script") << script;
    std::vector<std::string> env = {
        std::string("LD_LIBRARY_PATH=") + FAKE_HID_DIR,
        "FAKE_HID_SCRIPT=" + dir_ + "/script",
        "FAKE_HID_LOG=" + dir_ + "/log",
    };
    if (!nodes.empty()) env.push_back("FAKE_HID_NODES=" + nodes);
    if (display != nullptr) env.push_back(std::string("DISPLAY=") + display);
    for (const char* name : {"HOME", "XAUTHORITY"}) {
      if (const char* v = std::getenv(name)) env.push_back(std::string(name) + "=" + v);
    }
    pid_ = fork();
    ASSERT_GE(pid_, 0);
    if (pid_ == 0) {
      setsid();
      const int in = stdinFd >= 0 ? stdinFd : open("/dev/null", O_RDONLY);
      dup2(in, 0);
      dup2(open((dir_ + "/out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
      dup2(open((dir_ + "/err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
      std::vector<char*> envp;
      for (std::string& e : env) envp.push_back(&e[0]);
      envp.push_back(nullptr);
      char* argv[] = {const_cast<char*>(TREVANQUILL_BINARY), nullptr};
      execve(TREVANQUILL_BINARY, argv, envp.data());
      _exit(127);
    }
  }

  // The exit code, or -1 if the tool had to be killed after timeoutMs.
  int Wait(int timeoutMs = kExitTimeoutMs) {
    const long end = NowMs() + timeoutMs;
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
      if (NowMs() > end) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
        pid_ = 0;
        return -1;
      }
      SleepMs(10);
    }
    pid_ = 0;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  bool Running() { return pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0; }
  pid_t pid() const { return pid_; }

  // Waits until the tool has sent a report starting with these bytes.
  bool WaitForWrite(const std::string& prefix, int timeoutMs = kExitTimeoutMs) {
    const long end = NowMs() + timeoutMs;
    while (NowMs() < end) {
      for (const std::string& w : Writes()) {
        if (w.compare(0, prefix.size(), prefix) == 0) return true;
      }
      SleepMs(10);
    }
    return false;
  }

  std::vector<std::string> Log() const { return Lines(ReadFile(dir_ + "/log")); }

  // The reads that found nothing and began to wait, after the set-up's last
  // report ("wait MS" lines of the log).
  std::vector<std::string> WaitsAfterSetUp() const {
    std::vector<std::string> waits;
    bool setUpDone = false;
    for (const std::string& line : Log()) {
      if (line.find(kSetUpDone) != std::string::npos) setUpDone = true;
      if (setUpDone && line.compare(0, 5, "wait ") == 0) waits.push_back(line);
    }
    return waits;
  }
  std::string Out() const { return ReadFile(dir_ + "/out"); }
  std::string Err() const { return ReadFile(dir_ + "/err"); }

  // The output reports as hex bytes, each checked to have travelled with the
  // length the remote expects for its number.
  std::vector<std::string> Writes() const {
    std::vector<std::string> writes;
    for (const std::string& line : Log()) {
      if (line.compare(0, 6, "write ") != 0) continue;
      const size_t colon = line.find(':');
      const int length = std::atoi(line.c_str() + 6);
      const std::string bytes = line.substr(colon + 2);
      const int number = static_cast<int>(std::strtoul(bytes.c_str(), nullptr, 16));
      EXPECT_EQ(length, platform::OutputReportLength(static_cast<uint8_t>(number))) << line;
      EXPECT_EQ(static_cast<int>(bytes.size() + 1) / 3, length) << line;
      writes.push_back(bytes);
    }
    return writes;
  }

  // The remote's shutdown: the last report puts it back into buttons-only
  // mode, then the handle is closed and hidapi left.
  void ExpectRemoteShutDown() const {
    const std::vector<std::string> log = Log();
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log[log.size() - 3], "write 3: 12 00 30");
    EXPECT_EQ(log[log.size() - 2], "close");
    EXPECT_EQ(log[log.size() - 1], "exit");
  }

 private:
  std::string dir_;
  pid_t pid_ = 0;
};

std::string ZeroBytes(int n) {
  std::string s;
  for (int i = 0; i < n; ++i) s += " 00";
  return s;
}

std::string Register(const char* address, const char* data) {
  return std::string("16 04 b0 00 ") + address + " 01 " + data + ZeroBytes(15);
}

// The set-up the tool sends before its control loop.
std::vector<std::string> SetUpReports() {
  std::vector<std::string> w = {"12 00 31", "11 10"};
  for (int i = 0; i < 3; ++i) {
    for (const std::string& r : {std::string("12 00 33"), std::string("13 04"),
                                 std::string("1a 04"), Register("30", "01"),
                                 Register("30", "08")}) {
      w.push_back(r);
    }
  }
  for (const std::string& r : {Register("06", "90"), Register("08", "c0"),
                               Register("1a", "40"), Register("33", "33")}) {
    w.push_back(r);
  }
  return w;
}

class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HasDisplay()) {
      GTEST_SKIP() << "DISPLAY is not set: these tests need an X server (CI starts Xvfb)";
    }
    ASSERT_TRUE(observer.Open()) << observer.error();
    observer.Warp(10, 10);
    observer.Drain();
  }
  const char* Display() const { return std::getenv("DISPLAY"); }
  xobserver::Observer observer;
};

// ------------------------------------------------------------ exit codes

TEST(ProgramWithoutDisplay, ExitsThreeNamingTheDisplayAndLeavesTheRemoteAlone) {
  struct Case {
    const char* display;  // nullptr: DISPLAY not set
    const char* named;
  };
  for (const Case& c : {Case{nullptr, "DISPLAY"}, Case{":97", ":97"}}) {
    SCOPED_TRACE(c.named);
    ToolRun run;
    run.Start(kProbeReport, c.display);
    EXPECT_EQ(run.Wait(), 3);
    const std::vector<std::string> err = Lines(run.Err());
    ASSERT_EQ(err.size(), 1u) << run.Err();
    EXPECT_NE(err[0].find(c.named), std::string::npos) << err[0];
    EXPECT_TRUE(run.Log().empty()) << "the remote was touched";
    EXPECT_EQ(run.Out(), "");
  }
}

TEST_F(ProgramTest, NoRemoteExitsOneWithItsMessage) {
  ToolRun run;
  run.Start("absent\n", Display());
  EXPECT_EQ(run.Wait(), 1);
  EXPECT_EQ(run.Err(), "Wii-Remote not found.\n");
  // The first model is looked for, then the newer one.
  std::vector<std::string> opens;
  for (const std::string& line : run.Log()) {
    if (line.rfind("open ", 0) == 0) opens.push_back(line);
  }
  EXPECT_EQ(opens, (std::vector<std::string>{"open 057e 0306", "open 057e 0330"}));
  EXPECT_TRUE(run.Writes().empty());
  EXPECT_EQ(run.Out(), "");
}

TEST_F(ProgramTest, SilentRemoteExitsTwoWithItsMessage) {
  ToolRun run;
  run.Start("", Display());
  EXPECT_EQ(run.Wait(), 2);
  EXPECT_EQ(run.Err(), "Wii-Remote cannot open.\n");
  EXPECT_EQ(run.Writes(), std::vector<std::string>{"12 00 31"});
  const std::vector<std::string> log = run.Log();
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back(), "exit");
}

TEST_F(ProgramTest, RemoteLostMidRunExitsTwoAfterTheShutdown) {
  ToolRun run;
  run.Start(std::string(kProbeReport) + kAwaitLoop + "lost\n", Display());
  EXPECT_EQ(run.Wait(), 2);
  EXPECT_NE(run.Out().find("Wii-Remote disconnected.\n"), std::string::npos);
  run.ExpectRemoteShutDown();
}

// One remote, one tool: a second tool started on a remote that a first one
// drives says so and ends with exit code 2, sending and reading nothing; the
// first one's run goes on undisturbed. With two remotes the second tool takes
// the other one.
TEST_F(ProgramTest, ASecondToolOnTheSameRemoteLeavesItAlone) {
  char pattern[] = "/tmp/trevanquill-nodes-XXXXXX";
  const std::string dir = mkdtemp(pattern);
  const std::string a = dir + "/a", b = dir + "/b";
  for (const std::string& n : {a, b}) close(open(n.c_str(), O_CREAT | O_WRONLY, 0600));
  const std::string quiet = std::string(kProbeReport) + kAwaitLoop;
  ToolRun first;
  first.Start(quiet, Display(), -1, a);
  ASSERT_TRUE(first.WaitForWrite(kSetUpDone));

  ToolRun second;
  second.Start(quiet + kHome, Display(), -1, a);
  EXPECT_EQ(second.Wait(), 2);
  EXPECT_EQ(second.Err(), "Wii-Remote already in use: another trevanquill drives it.\n");
  EXPECT_EQ(second.Out(), "");
  for (const std::string& line : second.Log()) {
    EXPECT_TRUE(line == "init" || line == "exit" || line.rfind("open ", 0) == 0)
        << "the second tool touched the remote: " << line;
  }
  EXPECT_TRUE(first.Running());

  ToolRun other;
  other.Start(quiet + kHome, Display(), -1, a + ":" + b);
  EXPECT_EQ(other.Wait(), 0);
  other.ExpectRemoteShutDown();

  ASSERT_TRUE(first.Running());
  kill(first.pid(), SIGTERM);
  EXPECT_EQ(first.Wait(), 0);
  first.ExpectRemoteShutDown();
  EXPECT_EQ(first.Err(), "");
  for (const std::string& n : {a, b}) unlink(n.c_str());
  rmdir(dir.c_str());
}

// As a service starts it: standard input /dev/null, where no key ever comes
// and which cannot be watched. A quiet remote costs one read that waits and
// next to no processor time, and Home ends the run.
TEST_F(ProgramTest, WithStandardInputDevNullAQuietRunSleepsAndHomeEndsIt) {
  ToolRun run;
  run.Start(std::string(kProbeReport) + kAwaitLoop + "silent 1500\n" + kHome, Display());
  ASSERT_TRUE(run.WaitForWrite(kSetUpDone));
  const long before = CpuTicks(run.pid());
  SleepMs(1000);
  const long spent = CpuTicks(run.pid()) - before;
  // A thread that spins takes every tick of the second (100 of them).
  EXPECT_LT(spent, 10) << "the tool used " << spent << " ticks of a quiet second";
  EXPECT_EQ(run.Wait(), 0);
  // A look at what waited, then one read that waits.
  EXPECT_EQ(run.WaitsAfterSetUp(), (std::vector<std::string>{"wait 0", "wait 2147483647"}));
  run.ExpectRemoteShutDown();
}

// ------------------------------------------------------------ the remote drives the desktop

TEST_F(ProgramTest, HomeEndsTheRunAfterTheFullSetUp) {
  ToolRun run;
  run.Start(std::string(kProbeReport) + kAwaitLoop + kHome, Display());
  EXPECT_EQ(run.Wait(), 0);
  std::vector<std::string> want = SetUpReports();
  want.push_back("12 00 30");
  EXPECT_EQ(run.Writes(), want);
  run.ExpectRemoteShutDown();
  EXPECT_NE(run.Out().find("Usage:"), std::string::npos);
  EXPECT_EQ(run.Err(), "");
}

TEST_F(ProgramTest, BAndAClickAndAButtonHeldAtTheEndIsReleased) {
  ToolRun run;
  run.Start(std::string(kProbeReport) + kAwaitLoop +
                "report 30 00 04\n"   // B down
                "report 30 00 00\n"   // B up
                "report 30 00 08\n"   // A down
                "report 30 00 88\n",  // A held with Home: no end yet
            Display());
  // The run goes on with A held until it is told to stop.
  const auto pressed = observer.CollectUntil(Press(3), kExitTimeoutMs);
  EXPECT_EQ(pressed, (std::vector<Event>{Press(1), Release(1), Press(3)}))
      << xobserver::Describe(pressed);
  ASSERT_TRUE(run.Running());
  kill(run.pid(), SIGTERM);
  EXPECT_EQ(run.Wait(), 0);
  const auto released = observer.CollectUntil(Release(3), 2000);
  EXPECT_EQ(released, std::vector<Event>{Release(3)}) << xobserver::Describe(released);
  run.ExpectRemoteShutDown();
}

TEST_F(ProgramTest, InfraredPointsMoveTheRealCursor) {
  ToolRun run;
  run.Start(std::string(kProbeReport) + kAwaitLoop + "report " + kIrAt400x600 + "\n" +
                "silent 100\n" + "report " + kIrAt300x500 + "\n" + "silent 100\n" + kHome,
            Display());
  const auto first = observer.CollectUntil(Motion(848, 776), kExitTimeoutMs);
  ASSERT_FALSE(first.empty());
  EXPECT_EQ(first.back(), Motion(848, 776)) << xobserver::Describe(first);
  const auto second = observer.CollectUntil(Motion(898, 726), kExitTimeoutMs);
  ASSERT_FALSE(second.empty());
  EXPECT_EQ(second.back(), Motion(898, 726)) << xobserver::Describe(second);
  EXPECT_EQ(run.Wait(), 0);
  int x, y;
  observer.Pointer(&x, &y);
  EXPECT_EQ(x, 898);
  EXPECT_EQ(y, 726);
}

TEST_F(ProgramTest, OneHeldScrollsInWholeNotchesAndPlusRumblesPerPress) {
  // Reports in mode 0x33, the one the tool selected: the rumble pulses take
  // long enough for reports of another mode to make it select 0x33 again.
  auto report = [](const char* buttons) {
    return std::string("report 33 ") + buttons + " 80 80 80 ff ff ff ff ff ff\n";
  };
  std::string script = std::string(kProbeReport) + kAwaitLoop;
  for (int i = 0; i < 15; ++i) script += report("00 02");  // One held
  script += report("00 00") + report("10 00") + report("00 00") + report("10 00");  // Plus twice
  script += report("00 00");
  script += report("00 80");  // Home
  ToolRun run;
  run.Start(script, Display());
  EXPECT_EQ(run.Wait(), 0);
  std::vector<Event> want;
  for (int i = 0; i < 8; ++i) {
    want.push_back(Press(4));
    want.push_back(Release(4));
  }
  want.push_back(Press(5));
  want.push_back(Release(5));
  const auto got = observer.CollectUntil(Release(5), 2000);
  EXPECT_EQ(got, want) << xobserver::Describe(got);
  EXPECT_EQ(observer.CollectFor(200), std::vector<Event>{});
  // Each Plus press: rumble on, rumble off, with the camera left on.
  std::vector<std::string> after;
  const std::vector<std::string> writes = run.Writes();
  const size_t setUp = SetUpReports().size();
  ASSERT_GE(writes.size(), setUp);
  after.assign(writes.begin() + setUp, writes.end());
  EXPECT_EQ(after, (std::vector<std::string>{"13 05", "13 04", "13 05", "13 04", "12 00 30"}));
}

// ------------------------------------------------------------ console and signals

class ProgramOnTerminalTest : public ProgramTest {
 protected:
  void SetUp() override {
    ProgramTest::SetUp();
    if (IsSkipped()) return;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    ASSERT_EQ(tcgetattr(slave, &before), 0);
  }
  void TearDown() override {
    if (master >= 0) close(master);
    if (slave >= 0) close(slave);
  }
  termios Mode() {
    termios t;
    tcgetattr(slave, &t);
    return t;
  }
  bool Restored() {
    const termios t = Mode();
    return t.c_lflag == before.c_lflag && t.c_iflag == before.c_iflag &&
           t.c_oflag == before.c_oflag && t.c_cc[VMIN] == before.c_cc[VMIN] &&
           t.c_cc[VTIME] == before.c_cc[VTIME];
  }
  void Type(const char* bytes) {
    ASSERT_EQ(write(master, bytes, std::strlen(bytes)), static_cast<ssize_t>(std::strlen(bytes)));
  }
  int master = -1, slave = -1;
  termios before;
};

TEST_F(ProgramOnTerminalTest, EscEndsTheRunAndArrowKeysDoNot) {
  ToolRun run;
  run.Start(std::string(kProbeReport) + kAwaitLoop, Display(), slave);
  ASSERT_TRUE(run.WaitForWrite(kSetUpDone));
  const termios during = Mode();
  EXPECT_EQ(during.c_lflag & (ICANON | ECHO), 0u) << "the terminal is not in raw mode";
  Type("\x1b[A");  // arrow up
  Type("x");
  SleepMs(300);
  EXPECT_TRUE(run.Running()) << "an arrow key ended the run";
  Type("\x1b");
  EXPECT_EQ(run.Wait(), 0);
  EXPECT_TRUE(Restored());
  run.ExpectRemoteShutDown();
}

// A quiet remote: after the set-up the tool looks at what waited, then makes
// one read, which waits without a time limit (hidapi's longest), and Esc ends
// it.
TEST_F(ProgramOnTerminalTest, WhileTheRemoteIsQuietOneReadWaitsUntilEsc) {
  ToolRun run;
  run.Start(std::string(kProbeReport) + kAwaitLoop, Display(), slave);
  ASSERT_TRUE(run.WaitForWrite(kSetUpDone));
  SleepMs(1000);
  ASSERT_TRUE(run.Running());
  Type("\x1b");
  EXPECT_EQ(run.Wait(kQuickExitMs), 0) << "Esc did not end the wait";
  EXPECT_EQ(run.WaitsAfterSetUp(), (std::vector<std::string>{"wait 0", "wait 2147483647"}));
  run.ExpectRemoteShutDown();
}

TEST_F(ProgramOnTerminalTest, StopSignalsEndTheRunWithTheFullShutdown) {
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(sig);
    ToolRun run;
    run.Start(std::string(kProbeReport) + kAwaitLoop + "report 30 00 04\n", Display(), slave);
    const auto pressed = observer.CollectUntil(Press(1), kExitTimeoutMs);
    ASSERT_FALSE(pressed.empty());
    ASSERT_EQ(pressed.back(), Press(1));
    EXPECT_FALSE(Restored());
    kill(run.pid(), sig);
    EXPECT_EQ(run.Wait(kQuickExitMs), 0);
    EXPECT_EQ(observer.CollectUntil(Release(1), 2000), std::vector<Event>{Release(1)});
    EXPECT_TRUE(Restored());
    run.ExpectRemoteShutDown();
  }
}

TEST_F(ProgramOnTerminalTest, StopSignalBeforeTheLoopEndsTheRunCleanly) {
  ToolRun run;
  // The signal arrives while the remote is being set up (LED 1 is its first
  // report); the loop is never entered and the remote still goes back.
  run.Start(std::string(kProbeReport) + kAwaitLoop + "report 30 00 04\n", Display(), slave);
  ASSERT_TRUE(run.WaitForWrite("11 10"));
  kill(run.pid(), SIGTERM);
  EXPECT_EQ(run.Wait(), 0);
  EXPECT_TRUE(Restored());
  std::vector<std::string> want = SetUpReports();
  want.push_back("12 00 30");
  EXPECT_EQ(run.Writes(), want);
  run.ExpectRemoteShutDown();
  EXPECT_EQ(observer.CollectFor(200), std::vector<Event>{}) << "the B press was acted on";
}

// ------------------------------------------------------------ the X server goes away

// An X server of the test's own, so that it can be ended mid-run.
class PrivateXServer {
 public:
  bool Start() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return false;
    pid_ = fork();
    if (pid_ == 0) {
      fcntl(fds[1], F_SETFD, 0);  // the server's end survives the exec
      const int devNull = open("/dev/null", O_WRONLY);
      dup2(devNull, 2);
      const std::string fd = std::to_string(fds[1]);
      execlp("Xvfb", "Xvfb", "-noreset", "-displayfd", fd.c_str(), "-screen", "0",
             "640x480x24", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    char buf[32] = {};
    pollfd p = {fds[0], POLLIN, 0};
    ssize_t got = 0;
    if (poll(&p, 1, 10000) > 0) got = read(fds[0], buf, sizeof buf - 1);
    // Kept open while the server runs: it may write the line's end later, and
    // a write into a closed pipe would end it.
    numberPipe_ = fds[0];
    if (got <= 0) return false;
    display_ = ":" + std::to_string(std::atoi(buf));
    // The number can come before the server takes connections.
    for (int i = 0; i < 500; ++i) {
      if (Display* d = XOpenDisplay(display_.c_str())) {
        XCloseDisplay(d);
        return true;
      }
      SleepMs(10);
    }
    return false;
  }
  void Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    pid_ = 0;
  }
  ~PrivateXServer() {
    Stop();
    if (numberPipe_ >= 0) close(numberPipe_);
  }
  const char* display() const { return display_.c_str(); }

 private:
  pid_t pid_ = 0;
  int numberPipe_ = -1;
  std::string display_;
};

bool XvfbInstalled() { return std::system("command -v Xvfb >/dev/null 2>&1") == 0; }

TEST(ProgramWhenTheDisplayGoes, ExitsThreeAfterPuttingTheRemoteBack) {
  if (!XvfbInstalled()) GTEST_SKIP() << "Xvfb is not installed";
  PrivateXServer server;
  ASSERT_TRUE(server.Start()) << "Xvfb did not start";
  int master, slave;
  ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
  termios before;
  tcgetattr(slave, &before);
  ToolRun run;
  // The remote keeps sending: the cursor is read every pass.
  std::string script = std::string(kProbeReport) + kAwaitLoop;
  for (int i = 0; i < 400; ++i) script += "report 30 00 00\nsilent 10\n";
  run.Start(script, server.display(), slave);
  ASSERT_TRUE(run.WaitForWrite(kSetUpDone)) << run.Err();
  SleepMs(100);
  server.Stop();
  EXPECT_EQ(run.Wait(), 3);
  run.ExpectRemoteShutDown();
  termios after;
  tcgetattr(slave, &after);
  EXPECT_EQ(after.c_lflag, before.c_lflag);
  EXPECT_NE(run.Err().find(server.display()), std::string::npos) << run.Err();
  close(master);
  close(slave);
}

TEST(ProgramWhenTheDisplayGoes, NoticedAlsoWhileTheRemoteIsQuiet) {
  if (!XvfbInstalled()) GTEST_SKIP() << "Xvfb is not installed";
  PrivateXServer server;
  ASSERT_TRUE(server.Start()) << "Xvfb did not start";
  ToolRun run;
  run.Start(std::string(kProbeReport) + kAwaitLoop, server.display());
  ASSERT_TRUE(run.WaitForWrite(kSetUpDone)) << run.Err();
  SleepMs(300);
  server.Stop();
  EXPECT_EQ(run.Wait(kQuickExitMs), 3);
  run.ExpectRemoteShutDown();
}

}  // namespace
