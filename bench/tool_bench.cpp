// End-to-end measures of the real trevanquill binary: a stand-in HID library
// (stream_hidapi.cpp, put in front through LD_LIBRARY_PATH) plays a remote
// that streams reports, and this program, a second X client, watches the
// cursor through XInput2 and reads the tool's CPU time and wake-ups from
// /proc. Needs DISPLAY (an X server with XInput2, e.g. Xvfb).
//
//   tool_bench latency RATE COUNT   COUNT reports at RATE per second (0: as
//                                   fast as the tool reads), then Home; from
//                                   each report handed to the read to the
//                                   cursor seen at its place
//   tool_bench cpu RATE SECONDS     the tool's CPU time and wake-ups over
//                                   SECONDS once it runs its loop, the remote
//                                   streaming at RATE (0: sending nothing)
//   tool_bench startup RUNS         from exec to the loop's first read, split
//   tool_bench esc RUNS             Esc typed on a pseudo-terminal while the
//                                   remote is quiet: to the read's end, the
//                                   loop's return and the process's exit
//
// Each prints one line of "key=value" words for bench/run-all.sh.
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

long long NowNs() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec * 1000000000LL + t.tv_nsec;
}

void SleepMs(long ms) {
  timespec t = {ms / 1000, (ms % 1000) * 1000000L};
  while (nanosleep(&t, &t) != 0) {
  }
}

// ------------------------------------------------------------ the tool

struct ToolRun {
  pid_t pid = -1;
  int keys = -1;  // write end of the tool's standard input, kept open
  std::string dir;
  long long* execNs = nullptr;  // set by the child just before exec

  std::string LogPath() const { return dir + "/hid.log"; }
};

// withDisplay false: the tool gets no DISPLAY, so it ends right after its
// start (process start and loading only).
ToolRun StartTool(long rate, long count, bool withDisplay = true, int stdinFd = -1) {
  ToolRun run;
  char pattern[] = "/tmp/trevanquill-bench-XXXXXX";
  run.dir = mkdtemp(pattern);
  run.execNs = static_cast<long long*>(mmap(nullptr, sizeof(long long), PROT_READ | PROT_WRITE,
                                            MAP_SHARED | MAP_ANONYMOUS, -1, 0));
  *run.execNs = 0;
  int in[2];
  if (pipe(in) != 0) std::abort();
  std::vector<std::string> env = {
      std::string("LD_LIBRARY_PATH=") + STREAM_HID_DIR,
      "BENCH_HID_RATE=" + std::to_string(rate),
      "BENCH_HID_COUNT=" + std::to_string(count),
      "BENCH_HID_LOG=" + run.LogPath(),
  };
  for (const char* name : {"DISPLAY", "HOME", "XAUTHORITY"}) {
    if (!withDisplay && std::strcmp(name, "DISPLAY") == 0) continue;
    if (const char* v = std::getenv(name)) env.push_back(std::string(name) + "=" + v);
  }
  run.pid = fork();
  if (run.pid < 0) std::abort();
  if (run.pid == 0) {
    // On a terminal of its own, in a session of its own, as a tool started
    // in a terminal is. (Only there: a session of its own also gives the tool
    // a scheduling group of its own, which would change the other measures.)
    if (stdinFd >= 0) setsid();
    dup2(stdinFd >= 0 ? stdinFd : in[0], 0);
    close(in[0]);
    close(in[1]);
    const int out = open("/dev/null", O_WRONLY);
    dup2(out, 1);
    const int err = open((run.dir + "/err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(err, 2);
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(&e[0]);
    envp.push_back(nullptr);
    char* argv[] = {const_cast<char*>(TREVANQUILL_BINARY), nullptr};
    *run.execNs = NowNs();
    execve(TREVANQUILL_BINARY, argv, envp.data());
    _exit(127);
  }
  close(in[0]);
  run.keys = in[1];
  return run;
}

// The exit code, or -1 when the tool had to be killed.
int WaitTool(ToolRun& run, long timeoutMs) {
  const long long end = NowNs() + timeoutMs * 1000000LL;
  int status = 0;
  while (waitpid(run.pid, &status, WNOHANG) == 0) {
    if (NowNs() > end) {
      kill(run.pid, SIGKILL);
      waitpid(run.pid, &status, 0);
      run.pid = -1;
      return -1;
    }
    SleepMs(5);
  }
  run.pid = -1;
  close(run.keys);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void Cleanup(ToolRun& run) {
  for (const char* f : {"/hid.log", "/err"}) unlink((run.dir + f).c_str());
  rmdir(run.dir.c_str());
  munmap(run.execNs, sizeof(long long));
}

struct HidLog {
  std::map<std::string, long long> milestones;
  std::vector<long long> handed;  // per stream report
};

HidLog ReadHidLog(const ToolRun& run) {
  HidLog log;
  std::ifstream in(run.LogPath());
  std::string word;
  while (in >> word) {
    if (word == "report") {
      long i;
      long long t;
      in >> i >> t;
      log.handed.push_back(t);
    } else {
      long long t;
      in >> t;
      log.milestones[word] = t;
    }
  }
  return log;
}

// ------------------------------------------------------------ the observer

struct Seen {
  long long ns;
  int x, y;
};

class Observer {
 public:
  bool Open() {
    display_ = XOpenDisplay(nullptr);
    if (display_ == nullptr) return false;
    int event, error;
    if (!XQueryExtension(display_, "XInputExtension", &opcode_, &event, &error)) return false;
    int major = 2, minor = 0;
    if (XIQueryVersion(display_, &major, &minor) != Success) return false;
    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    XISetMask(bits, XI_Motion);
    XIEventMask mask = {XIAllMasterDevices, sizeof bits, bits};
    XISelectEvents(display_, DefaultRootWindow(display_), &mask, 1);
    // Away from every place the stream puts the cursor.
    XWarpPointer(display_, None, DefaultRootWindow(display_), 0, 0, 0, 0, 5, 5);
    XSync(display_, False);
    Drain();
    return true;
  }
  ~Observer() {
    if (display_ != nullptr) XCloseDisplay(display_);
  }

  // Reads what has arrived, each event stamped with the time just after the
  // read that brought it.
  void Take(std::vector<Seen>* seen) {
    for (;;) {
      if (!XPending(display_)) return;
      const long long now = NowNs();
      while (QLength(display_) > 0) {
        XEvent ev;
        XNextEvent(display_, &ev);
        XGenericEventCookie* cookie = &ev.xcookie;
        if (cookie->type != GenericEvent || cookie->extension != opcode_) continue;
        if (!XGetEventData(display_, cookie)) continue;
        if (cookie->evtype == XI_Motion) {
          const XIDeviceEvent* e = static_cast<XIDeviceEvent*>(cookie->data);
          seen->push_back({now, static_cast<int>(e->root_x), static_cast<int>(e->root_y)});
        }
        XFreeEventData(display_, cookie);
      }
    }
  }

  // Waits at most ms for something to read.
  void Wait(int ms) {
    pollfd p = {ConnectionNumber(display_), POLLIN, 0};
    poll(&p, 1, ms);
  }

  void Drain() {
    std::vector<Seen> ignored;
    Take(&ignored);
  }

 private:
  Display* display_ = nullptr;
  int opcode_ = 0;
};

// Where the tool puts the cursor for stream report i (both camera points at
// the same spot, as stream_hidapi.cpp sends them): the infrared stage's
// mirrored, scaled target, smoothed by a sixth, seeded by the first report.
std::vector<std::pair<int, int>> ExpectedCursor(long count) {
  std::vector<std::pair<int, int>> out;
  int prevX = 0, prevY = 0;
  for (long i = 0; i < count; ++i) {
    const int mx = (i % 2 == 0) ? 400 : 600;
    const int my = 420 + static_cast<int>(i % 160);
    const int tx = 512 + 3 * (512 - mx);
    const int ty = 512 + 3 * (my - 512);
    if (prevX == 0 && prevY == 0) {
      prevX = tx;
      prevY = ty;
    }
    prevX = (5 * prevX + tx) / 6;
    prevY = (5 * prevY + ty) / 6;
    out.push_back({prevX, prevY});
  }
  return out;
}

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  size_t k = static_cast<size_t>(p * (v.size() - 1) + 0.5);
  return v[std::min(k, v.size() - 1)];
}

int Latency(long rate, long count) {
  Observer observer;
  if (!observer.Open()) {
    std::fprintf(stderr, "tool_bench: needs an X display with XInput2\n");
    return 1;
  }
  ToolRun run = StartTool(rate, count);
  std::vector<Seen> seen;
  seen.reserve(count + 64);
  const long timeoutMs = 20000 + (rate > 0 ? count * 1000 / rate : count);
  const long long end = NowNs() + timeoutMs * 1000000LL;
  int status = 0;
  bool exited = false;
  while (!exited && NowNs() < end) {
    observer.Wait(20);
    observer.Take(&seen);
    exited = waitpid(run.pid, &status, WNOHANG) == run.pid;
  }
  SleepMs(50);
  observer.Take(&seen);
  if (!exited) {
    kill(run.pid, SIGKILL);
    waitpid(run.pid, &status, 0);
    std::fprintf(stderr, "tool_bench: the tool did not end\n");
  }
  close(run.keys);
  const HidLog log = ReadHidLog(run);
  Cleanup(run);

  const std::vector<std::pair<int, int>> expected = ExpectedCursor(log.handed.size());
  std::vector<double> latencyUs;
  size_t j = 0;
  long unmatched = 0;
  for (size_t i = 0; i < log.handed.size(); ++i) {
    size_t k = j;
    const size_t limit = std::min(seen.size(), j + 64);
    while (k < limit && !(seen[k].x == expected[i].first && seen[k].y == expected[i].second &&
                          seen[k].ns >= log.handed[i])) {
      ++k;
    }
    if (k == limit) {
      ++unmatched;
      continue;
    }
    latencyUs.push_back((seen[k].ns - log.handed[i]) / 1000.0);
    j = k + 1;
  }
  double throughput = 0;
  if (log.handed.size() > 1) {
    throughput = (log.handed.size() - 1) * 1e9 / (log.handed.back() - log.handed.front());
  }
  std::printf("latency rate=%ld reports=%zu seen=%zu unmatched=%ld median_us=%.0f p99_us=%.0f "
              "max_us=%.0f throughput_per_s=%.0f exit=%d\n",
              rate, log.handed.size(), latencyUs.size(), unmatched, Percentile(latencyUs, 0.5),
              Percentile(latencyUs, 0.99),
              latencyUs.empty() ? 0.0 : *std::max_element(latencyUs.begin(), latencyUs.end()),
              throughput, exited && WIFEXITED(status) ? WEXITSTATUS(status) : -1);
  // Timing is not judged here; a run in which no cursor move was seen is a
  // failure of the measure itself.
  return exited && !latencyUs.empty() ? 0 : 1;
}

// ------------------------------------------------------------ CPU and wake-ups

struct Usage {
  long long cpuNs = 0;         // sum over threads of time on a CPU
  long long ticks = 0;         // utime + stime of the process, clock ticks
  long long voluntary = 0;     // context switches over threads
  long long involuntary = 0;
};

Usage ReadUsage(pid_t pid) {
  Usage u;
  const std::string base = "/proc/" + std::to_string(pid);
  {
    std::ifstream stat(base + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    // Fields after the command's closing parenthesis: state is field 3,
    // utime field 14, stime field 15.
    std::istringstream rest(text.substr(text.rfind(')') + 2));
    std::string field;
    for (int n = 3; n <= 15 && rest >> field; ++n) {
      if (n == 14 || n == 15) u.ticks += std::atoll(field.c_str());
    }
  }
  DIR* tasks = opendir((base + "/task").c_str());
  if (tasks == nullptr) return u;
  while (dirent* d = readdir(tasks)) {
    if (d->d_name[0] == '.') continue;
    const std::string task = base + "/task/" + d->d_name;
    std::ifstream sched(task + "/schedstat");
    long long onCpu = 0;
    if (sched >> onCpu) u.cpuNs += onCpu;
    std::ifstream status(task + "/status");
    std::string line;
    while (std::getline(status, line)) {
      if (line.rfind("voluntary_ctxt_switches:", 0) == 0) {
        u.voluntary += std::atoll(line.c_str() + 24);
      } else if (line.rfind("nonvoluntary_ctxt_switches:", 0) == 0) {
        u.involuntary += std::atoll(line.c_str() + 27);
      }
    }
  }
  closedir(tasks);
  return u;
}

int Cpu(long rate, long seconds) {
  // Enough reports for the whole measure; the tool is ended by a signal.
  const long count = rate > 0 ? rate * (seconds + 10) : 0;
  ToolRun run = StartTool(rate, count);
  SleepMs(2000);  // start-up and set-up (about 0.5 s), then the loop
  const Usage a = ReadUsage(run.pid);
  const long long t0 = NowNs();
  SleepMs(seconds * 1000);
  const Usage b = ReadUsage(run.pid);
  const double wall = (NowNs() - t0) / 1e9;
  kill(run.pid, SIGTERM);
  const int code = WaitTool(run, 5000);
  const HidLog log = ReadHidLog(run);
  Cleanup(run);
  const double tick = sysconf(_SC_CLK_TCK);
  std::printf("cpu rate=%ld seconds=%.1f cpu_percent=%.3f ticks_percent=%.3f "
              "wakeups_per_s=%.1f involuntary_per_s=%.1f reports=%zu exit=%d\n",
              rate, wall, 100.0 * (b.cpuNs - a.cpuNs) / 1e9 / wall,
              100.0 * (b.ticks - a.ticks) / tick / wall, (b.voluntary - a.voluntary) / wall,
              (b.involuntary - a.involuntary) / wall, log.handed.size(), code);
  return code == 0 ? 0 : 1;
}

// ------------------------------------------------------------ Esc

// Esc typed on a pseudo-terminal while the remote sends nothing: from the
// byte written to the read's wait ended (the stand-in notes it), to the
// loop's return (the buttons-only mode written right after it) and to the
// process's exit.
int Esc(int runs) {
  std::vector<double> woken, left, exited;
  int failures = 0;
  for (int r = 0; r < runs; ++r) {
    int master, slave;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) std::abort();
    ToolRun run = StartTool(100, 0, true, slave);
    close(slave);
    SleepMs(900);  // start-up and set-up (about 0.5 s); then the read waits
    const long long typed = NowNs();
    if (write(master, "\x1b", 1) != 1) std::abort();
    int status = 0;
    waitpid(run.pid, &status, 0);
    const long long exit = NowNs();
    run.pid = -1;
    close(run.keys);
    const HidLog log = ReadHidLog(run);
    Cleanup(run);
    close(master);
    const long long w = log.milestones.count("woken") ? log.milestones.at("woken") : 0;
    const long long l = log.milestones.count("leave") ? log.milestones.at("leave") : 0;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || w < typed || l < typed) {
      ++failures;
      continue;
    }
    woken.push_back((w - typed) / 1e3);
    left.push_back((l - typed) / 1e3);
    exited.push_back((exit - typed) / 1e3);
  }
  std::printf("esc runs=%d failures=%d woken_median_us=%.0f woken_p99_us=%.0f "
              "loop_median_us=%.0f loop_p99_us=%.0f exit_median_us=%.0f exit_p99_us=%.0f\n",
              runs, failures, Percentile(woken, 0.5), Percentile(woken, 0.99),
              Percentile(left, 0.5), Percentile(left, 0.99), Percentile(exited, 0.5),
              Percentile(exited, 0.99));
  return failures == 0 ? 0 : 1;
}

// ------------------------------------------------------------ start-up

int Startup(int runs) {
  const char* const kSteps[] = {"init", "open", "mode", "config", "setup-done", "first-read"};
  // Steps from exec: process start and display connection (to hid_init),
  // hid_open, the probe and banner (mode to config: the 100 ms wait), the
  // set-up (config to its last write: two 200 ms waits), the loop's start.
  std::map<std::string, std::vector<double>> ms;
  int failures = 0;
  for (int r = 0; r < runs; ++r) {
    ToolRun run = StartTool(100, 1);
    const int code = WaitTool(run, 10000);
    HidLog log = ReadHidLog(run);
    const long long exec = *run.execNs;
    Cleanup(run);
    if (code != 0 || log.milestones["first-read"] == 0) {
      ++failures;
      continue;
    }
    long long prev = exec;
    for (const char* step : kSteps) {
      ms[step].push_back((log.milestones[step] - prev) / 1e6);
      prev = log.milestones[step];
    }
    ms["total"].push_back((log.milestones["first-read"] - exec) / 1e6);
  }
  // The same binary without a display ends at once: exec to exit is what
  // starting the process and loading its libraries costs.
  std::vector<double> bare;
  for (int r = 0; r < runs; ++r) {
    ToolRun run = StartTool(100, 1, false);
    int status = 0;
    waitpid(run.pid, &status, 0);
    const long long exited = NowNs();
    bare.push_back((exited - *run.execNs) / 1e6);
    run.pid = -1;
    close(run.keys);
    Cleanup(run);
  }
  std::printf("startup runs=%d failures=%d process_ms=%.2f", runs, failures,
              Percentile(bare, 0.5));
  for (const char* step : kSteps) std::printf(" %s_ms=%.2f", step, Percentile(ms[step], 0.5));
  std::printf(" total_ms=%.2f\n", Percentile(ms["total"], 0.5));
  return failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  signal(SIGPIPE, SIG_IGN);
  if (argc == 4 && std::strcmp(argv[1], "latency") == 0) {
    return Latency(std::atol(argv[2]), std::atol(argv[3]));
  }
  if (argc == 4 && std::strcmp(argv[1], "cpu") == 0) {
    return Cpu(std::atol(argv[2]), std::atol(argv[3]));
  }
  if (argc == 3 && std::strcmp(argv[1], "startup") == 0) {
    return Startup(std::atoi(argv[2]));
  }
  if (argc == 3 && std::strcmp(argv[1], "esc") == 0) {
    return Esc(std::atoi(argv[2]));
  }
  std::fprintf(stderr,
               "usage: tool_bench latency RATE COUNT | cpu RATE SECONDS | startup RUNS |"
               " esc RUNS\n");
  return 2;
}
