// A stand-in for libhidapi-hidraw.so.0 for the end-to-end measures (see
// tool_bench.cpp): the real tool, put in front of it with LD_LIBRARY_PATH,
// gets a remote that streams reports at a fixed rate, or as fast as the tool
// reads, and the stand-in notes when each one was handed to the read.
//
// BENCH_HID_RATE   reports per second once the set-up is done; 0: every read
//                  gets the next report at once, from the loop's first read
//                  that may wait on (none was sent during the set-up, so the
//                  loop's look at what waits at its start finds none).
//                  Default 100.
// BENCH_HID_COUNT  how many reports to stream; then Home once, then nothing.
//                  0 (the default): the remote sends nothing after the probe,
//                  not even Home.
// BENCH_HID_LOG    file that receives, at hid_exit, one line per milestone
//                  ("init T", "open T", "mode T", "config T", "setup-done T",
//                  "first-read T", after the set-up "woken T" for the first
//                  read that a signal ended and "leave T" for the last
//                  buttons-only mode, 0 when none) and one "report I T" per
//                  streamed report, T in nanoseconds of CLOCK_MONOTONIC;
//                  and, as the loop's first read starts, an empty file of the
//                  same name with ".reading" added, so that a benchmark can
//                  tell when the set-up is over.
//
// Before the set-up's last register write (0xB00033) every read gets a report
// 0x31 with accelerometer data at once, which the link probe looks for.
// Stream report I points the camera so that the tool's infrared stage moves
// the cursor on every report: camera x alternates between 400 and 600 and
// camera y is 420 + I % 160 (tool_bench.cpp follows the cursor with the same
// rules). A read that finds nothing due waits for it with clock_nanosleep, at
// most the time limit it was given, so a quiet remote costs no CPU.
#include <hidapi/hidapi.h>
#include <time.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

struct hid_device_ {
  int unused;
};

namespace {

constexpr long kMaxReports = 1L << 20;

std::mutex mutex;
hid_device_ theDevice;
bool loaded = false;
long rate = 100;
long count = 0;
const char* logPath = nullptr;

long long initNs, openNs, modeNs, configNs, setupDoneNs, firstReadNs;
// After the set-up: when a signal first ended a read's wait, and when the
// tool last selected the buttons-only mode (the first thing it does after its
// loop has returned).
long long wokenNs, leaveNs;
bool setupDone = false;
long sent = 0;          // stream reports handed over
bool homeSent = false;
bool streaming = false;  // at full speed: the loop has begun to wait
long long* handedNs = nullptr;  // one per stream report

long long NowNs() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec * 1000000000LL + t.tv_nsec;
}

void Load() {
  if (loaded) return;
  loaded = true;
  if (const char* r = std::getenv("BENCH_HID_RATE")) rate = std::atol(r);
  if (const char* c = std::getenv("BENCH_HID_COUNT")) count = std::atol(c);
  if (count > kMaxReports) count = kMaxReports;
  if (count < 0) count = 0;
  logPath = std::getenv("BENCH_HID_LOG");
  handedNs = static_cast<long long*>(std::calloc(count > 0 ? count : 1, sizeof(long long)));
}

void Point(unsigned char* p, int x, int y) {
  p[0] = static_cast<unsigned char>(x & 0xFF);
  p[1] = static_cast<unsigned char>(y & 0xFF);
  p[2] = static_cast<unsigned char>(((x >> 8) & 0x03) << 4 | ((y >> 8) & 0x03) << 6);
}

int StreamReport(long i, unsigned char* data, size_t length) {
  unsigned char r[18] = {0x33, 0x00, 0x00, 0x80, 0x80, 0x9A};
  const int x = (i % 2 == 0) ? 400 : 600;
  const int y = 420 + static_cast<int>(i % 160);
  Point(r + 6, x, y);
  Point(r + 9, x, y);
  std::memset(r + 12, 0xFF, 6);
  const size_t n = length < sizeof r ? length : sizeof r;
  std::memcpy(data, r, n);
  return static_cast<int>(n);
}

int Copy(const unsigned char* r, size_t n, unsigned char* data, size_t length) {
  if (length < n) n = length;
  std::memcpy(data, r, n);
  return static_cast<int>(n);
}

// False when a signal cut the wait short, which hidapi's own wait reports as
// a failed read.
bool SleepUntil(long long ns) {
  timespec t = {static_cast<time_t>(ns / 1000000000LL), static_cast<long>(ns % 1000000000LL)};
  return clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &t, nullptr) == 0;
}

void WriteLog() {
  if (logPath == nullptr) return;
  FILE* f = std::fopen(logPath, "w");
  if (f == nullptr) return;
  std::fprintf(f, "init %lld\nopen %lld\nmode %lld\nconfig %lld\nsetup-done %lld\nfirst-read %lld\n",
               initNs, openNs, modeNs, configNs, setupDoneNs, firstReadNs);
  std::fprintf(f, "woken %lld\nleave %lld\n", wokenNs, leaveNs);
  for (long i = 0; i < sent; ++i) std::fprintf(f, "report %ld %lld\n", i, handedNs[i]);
  std::fclose(f);
}

}  // namespace

extern "C" {

int hid_init(void) {
  std::lock_guard<std::mutex> lock(mutex);
  Load();
  if (initNs == 0) initNs = NowNs();
  return 0;
}

int hid_exit(void) {
  std::lock_guard<std::mutex> lock(mutex);
  WriteLog();
  return 0;
}

hid_device* hid_open(unsigned short, unsigned short, const wchar_t*) {
  std::lock_guard<std::mutex> lock(mutex);
  Load();
  openNs = NowNs();
  return &theDevice;
}

// No hidraw node stands behind the stand-in: the tool has nothing to grab.
hid_device_info* hid_get_device_info(hid_device*) { return nullptr; }

void hid_close(hid_device*) {}

int hid_write(hid_device*, const unsigned char* data, size_t length) {
  std::lock_guard<std::mutex> lock(mutex);
  const long long now = NowNs();
  if (modeNs == 0 && data[0] == 0x12) modeNs = now;
  if (configNs == 0 && data[0] == 0x11) configNs = now;
  if (setupDone && length >= 3 && data[0] == 0x12 && data[2] == 0x30) leaveNs = now;
  // The set-up ends with camera register 0xB00033 written 0x33.
  if (!setupDone && length >= 7 && data[0] == 0x16 && data[2] == 0xB0 &&
      data[3] == 0x00 && data[4] == 0x33) {
    setupDone = true;
    setupDoneNs = now;
  }
  return static_cast<int>(length);
}

int hid_read_timeout(hid_device*, unsigned char* data, size_t length, int milliseconds) {
  const long long start = NowNs();
  const long long limit = start + (milliseconds < 0 ? 1000000000LL : milliseconds * 1000000LL);
  long long due;
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (!setupDone) {
      const unsigned char probe[6] = {0x31, 0x00, 0x00, 0x80, 0x80, 0x9A};
      return Copy(probe, sizeof probe, data, length);
    }
    if (firstReadNs == 0) {
      firstReadNs = start;
      if (logPath != nullptr) {
        char reading[4096];
        std::snprintf(reading, sizeof reading, "%s.reading", logPath);
        if (std::FILE* f = std::fopen(reading, "w")) std::fclose(f);
      }
    }
    if (milliseconds != 0) streaming = true;
    if (sent < count && rate == 0 && !streaming) {
      due = -1;  // full speed starts with the loop's first wait
    } else if (sent < count) {
      // The first report comes one period after the set-up's last write, so
      // none waits when the loop begins.
      due = rate > 0 ? setupDoneNs + (sent + 1) * 1000000000LL / rate : start;
    } else if (count > 0 && !homeSent) {
      due = start;
    } else {
      due = -1;  // nothing ever again
    }
  }
  if (due < 0 || due > limit) {
    if (SleepUntil(limit)) return 0;
    std::lock_guard<std::mutex> lock(mutex);
    if (setupDone && wokenNs == 0) wokenNs = NowNs();
    return -1;
  }
  if (due > start && !SleepUntil(due)) return -1;
  std::lock_guard<std::mutex> lock(mutex);
  if (sent < count) {
    const int n = StreamReport(sent, data, length);
    handedNs[sent++] = NowNs();
    return n;
  }
  homeSent = true;
  const unsigned char home[3] = {0x30, 0x00, 0x80};
  return Copy(home, sizeof home, data, length);
}

int hid_read(hid_device* dev, unsigned char* data, size_t length) {
  return hid_read_timeout(dev, data, length, -1);
}

const wchar_t* hid_error(hid_device*) { return L"stream stand-in"; }

}  // extern "C"
