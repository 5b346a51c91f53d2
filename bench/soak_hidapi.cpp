// A stand-in for libhidapi-hidraw.so.0 for the soak run: a remote that sends
// a report every 10 ms, as a real one does while it is being moved, for as
// long as SOAK_SECONDS says (default 300), and then Home.
//
// The reports follow the report mode that the tool last selected: 0x31 with
// accelerometer data for the probe, 0x33 with two infrared points circling
// the camera's centre afterwards. Along the way B and A are clicked, One
// scrolls, the D-pad moves the cursor, Plus and Minus pulse the rumble, and
// every 30 s the remote sends a status report on its own and then nothing
// until the report mode is selected again.
//
// At hid_close a line with the counts is appended to the file named by
// SOAK_HID_LOG: "reports N writes N statuses N late N".
#include <hidapi/hidapi.h>
#include <time.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

struct hid_device_ {
  int unused;
};

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kPeriod = std::chrono::milliseconds(10);
constexpr long kStatusEvery = 3000;  // reports: every 30 s

std::mutex mutex;
hid_device_ theDevice;
bool started = false;
Clock::time_point start;
Clock::time_point next;
double seconds = 300;
unsigned char mode = 0x30;
bool waitingForMode = false;
long reports = 0;
long writes = 0;
long statuses = 0;
long late = 0;  // reports that left later than one period after their time

void Start() {
  if (started) return;
  started = true;
  if (const char* s = std::getenv("SOAK_SECONDS")) seconds = std::atof(s);
  start = Clock::now();
  next = start;
}

void PutPoint(unsigned char* p, int x, int y) {
  p[0] = static_cast<unsigned char>(x & 0xFF);
  p[1] = static_cast<unsigned char>(y & 0xFF);
  p[2] = static_cast<unsigned char>(((x >> 8) & 0x03) << 4 | ((y >> 8) & 0x03) << 6);
}

// The buttons of report number n of the data stream.
void Buttons(long n, unsigned char* b1, unsigned char* b2) {
  const long phase = n % 600;  // a 6 s round
  *b1 = 0;
  *b2 = 0;
  if (phase >= 50 && phase < 70) *b2 |= 0x04;    // B
  if (phase >= 100 && phase < 110) *b2 |= 0x08;  // A
  if (phase >= 150 && phase < 160) *b2 |= 0x02;  // One
  if (phase >= 200 && phase < 260) *b1 |= 0x02;  // right
  if (phase >= 260 && phase < 320) *b1 |= 0x01;  // left
  if (phase >= 400 && phase < 405) *b1 |= 0x10;  // Plus
  if (phase >= 450 && phase < 455) *b2 |= 0x10;  // Minus
}

// Fills data with the report due now; returns its length.
int Compose(unsigned char* data, size_t length, bool quit) {
  unsigned char r[22] = {};
  int n = 22;
  if (!quit && reports > 0 && reports % kStatusEvery == 0 && !waitingForMode) {
    r[0] = 0x20;
    r[3] = 0x02;  // an extension plugged in
    r[6] = 0xC0;  // battery
    n = 7;
    waitingForMode = true;
    ++statuses;
  } else if (mode == 0x31) {
    r[0] = 0x31;
    r[3] = 0x82;
    r[4] = 0x7F;
    r[5] = 0x9B;
    n = 6;
  } else {
    r[0] = 0x33;
    Buttons(reports, &r[1], &r[2]);
    if (quit) {
      r[1] = 0;
      r[2] = 0x80;  // Home
    }
    r[3] = 0x80;
    r[4] = 0x80;
    r[5] = 0x9A;
    const double a = reports * 0.01;
    const int cx = 512 + static_cast<int>(200 * std::cos(a));
    const int cy = 384 + static_cast<int>(150 * std::sin(a));
    PutPoint(&r[6], cx - 60, cy);
    PutPoint(&r[9], cx + 60, cy);
    if (reports % 997 < 20) {  // now and then the lights go out of view
      for (int i = 6; i < 12; ++i) r[i] = 0xFF;
    }
  }
  const size_t copy = static_cast<size_t>(n) < length ? static_cast<size_t>(n) : length;
  std::memcpy(data, r, copy);
  ++reports;
  return static_cast<int>(copy);
}

// False when a signal cut the sleep short.
bool SleepUntil(Clock::time_point wake) {
  const auto left = wake - Clock::now();
  if (left <= Clock::duration::zero()) return true;
  const long long ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
  timespec t = {static_cast<time_t>(ns / 1000000000LL), static_cast<long>(ns % 1000000000LL)};
  return clock_nanosleep(CLOCK_MONOTONIC, 0, &t, nullptr) == 0;
}

// A report when one is due by the deadline, else 0 after waiting for it.
int Read(unsigned char* data, size_t length, int milliseconds) {
  std::unique_lock<std::mutex> lock(mutex);
  Start();
  const Clock::time_point limit =
      Clock::now() + std::chrono::milliseconds(milliseconds < 0 ? 1000000 : milliseconds);
  for (;;) {
    const Clock::time_point now = Clock::now();
    if (!waitingForMode && now >= next) {
      if (now - next > kPeriod) ++late;
      next += kPeriod;
      // A reader that fell far behind does not get a flood: the remote
      // sends at its rate, not faster.
      if (now - next > 10 * kPeriod) next = now;
      const bool quit = now - start > std::chrono::duration<double>(seconds);
      return Compose(data, length, quit);
    }
    if (now >= limit) return 0;
    const Clock::time_point wake = waitingForMode || next > limit ? limit : next;
    lock.unlock();
    // As hidapi's poll(), the wait ends early, with -1, on a signal.
    if (!SleepUntil(wake)) return -1;
    lock.lock();
  }
}

}  // namespace

extern "C" {

int hid_init(void) { return 0; }
int hid_exit(void) { return 0; }

hid_device* hid_open(unsigned short vendor, unsigned short product, const wchar_t*) {
  if (vendor != 0x057E || product != 0x0306) return nullptr;
  return &theDevice;
}

// No hidraw node stands behind the stand-in: the tool has nothing to grab.
hid_device_info* hid_get_device_info(hid_device*) { return nullptr; }

void hid_close(hid_device*) {
  std::lock_guard<std::mutex> lock(mutex);
  if (const char* path = std::getenv("SOAK_HID_LOG")) {
    if (FILE* f = std::fopen(path, "a")) {
      std::fprintf(f, "reports %ld writes %ld statuses %ld late %ld\n", reports,
                   writes, statuses, late);
      std::fclose(f);
    }
  }
}

int hid_write(hid_device*, const unsigned char* data, size_t length) {
  std::lock_guard<std::mutex> lock(mutex);
  ++writes;
  if (length >= 3 && data[0] == 0x12) {
    mode = data[2];
    waitingForMode = false;
  }
  return static_cast<int>(length);
}

int hid_read_timeout(hid_device*, unsigned char* data, size_t length, int milliseconds) {
  return Read(data, length, milliseconds);
}

int hid_read(hid_device* dev, unsigned char* data, size_t length) {
  return hid_read_timeout(dev, data, length, -1);
}

const wchar_t* hid_error(hid_device*) { return L"soak stand-in"; }

}  // extern "C"
