// A stand-in for libhidapi-hidraw.so.0 for the whole-program tests: the real
// tool runs against a real X server while its remote is a script.
//
// The script is the file named by FAKE_HID_SCRIPT, one step per line:
//   absent              hid_open finds no device
//   report HEX...       the next read delivers these bytes
//   silent MS           reads deliver nothing for MS milliseconds
//   await HEX...        reads deliver nothing until the tool has written a
//                       report that starts with these bytes
//   idle                reads deliver nothing until one begins that may wait
//                       (a time limit other than 0): what comes next, the
//                       remote sent while the tool was waiting for it
//   lost                the remote is gone: reads and writes fail from now on
// After the last step reads deliver nothing (a remote that sits still). A read
// that finds nothing waits in poll(), as hidapi's does, so a signal ends it
// with -1.
// Every call is logged, one line each, to the file named by FAKE_HID_LOG:
//   init / open VVVV PPPP / write N: HEX... / read-error / close / exit
//   wait MS             a read found nothing and began to wait, with this
//                       time limit (-1: none)
#include <errno.h>
#include <fcntl.h>
#include <hidapi/hidapi.h>
#include <poll.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

struct hid_device_ {
  int unused;
};

namespace {

struct Step {
  enum Kind { kReport, kSilent, kAwait, kIdle, kLost } kind;
  std::vector<unsigned char> bytes;
  int ms = 0;
};

std::mutex mutex;
bool loaded = false;
bool absent = false;
bool gone = false;
std::deque<Step> steps;
std::vector<std::vector<unsigned char>> writes;
std::chrono::steady_clock::time_point silentSince;
bool silentStarted = false;
hid_device_ theDevice;
FILE* logFile = nullptr;
// Every write puts a byte into it, so that a read waiting in poll() wakes.
int writeWake[2] = {-1, -1};

std::vector<unsigned char> ParseHex(std::istringstream& in) {
  std::vector<unsigned char> bytes;
  std::string word;
  while (in >> word) bytes.push_back(static_cast<unsigned char>(std::strtoul(word.c_str(), nullptr, 16)));
  return bytes;
}

void Load() {
  if (loaded) return;
  loaded = true;
  if (pipe2(writeWake, O_CLOEXEC | O_NONBLOCK) != 0) writeWake[0] = writeWake[1] = -1;
  if (const char* logPath = std::getenv("FAKE_HID_LOG")) {
    logFile = std::fopen(logPath, "a");
    if (logFile) setvbuf(logFile, nullptr, _IONBF, 0);
  }
  const char* path = std::getenv("FAKE_HID_SCRIPT");
  FILE* f = path ? std::fopen(path, "r") : nullptr;
  if (!f) return;
  char line[1024];
  while (std::fgets(line, sizeof line, f)) {
    std::istringstream in(line);
    std::string word;
    if (!(in >> word) || word[0] == '#') continue;
    Step step;
    if (word == "absent") {
      absent = true;
      continue;
    } else if (word == "report") {
      step.kind = Step::kReport;
      step.bytes = ParseHex(in);
    } else if (word == "silent") {
      step.kind = Step::kSilent;
      in >> step.ms;
    } else if (word == "await") {
      step.kind = Step::kAwait;
      step.bytes = ParseHex(in);
    } else if (word == "idle") {
      step.kind = Step::kIdle;
    } else if (word == "lost") {
      step.kind = Step::kLost;
    } else {
      continue;
    }
    steps.push_back(step);
  }
  std::fclose(f);
}

void Log(const std::string& text) {
  if (logFile) std::fprintf(logFile, "%s\n", text.c_str());
}

bool Written(const std::vector<unsigned char>& prefix) {
  for (const auto& w : writes) {
    if (w.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), w.begin())) {
      return true;
    }
  }
  return false;
}

// When the step that holds the reads up is over by itself: the end of a
// silence; never for an await (a write lets it pass) or after the last step.
std::chrono::steady_clock::time_point NextDue() {
  if (!steps.empty() && steps.front().kind == Step::kSilent && silentStarted) {
    return silentSince + std::chrono::milliseconds(steps.front().ms);
  }
  return std::chrono::steady_clock::time_point::max();
}

// What a read with this time limit finds now: >0 bytes, 0 for nothing yet,
// -1 for gone.
int Take(unsigned char* data, size_t length, int milliseconds) {
  while (!steps.empty()) {
    Step& step = steps.front();
    if (step.kind == Step::kLost) {
      gone = true;
      return -1;
    }
    if (step.kind == Step::kReport) {
      const size_t n = step.bytes.size() < length ? step.bytes.size() : length;
      std::memcpy(data, step.bytes.data(), n);
      steps.pop_front();
      return static_cast<int>(n);
    }
    if (step.kind == Step::kAwait) {
      if (!Written(step.bytes)) return 0;
      steps.pop_front();
      continue;
    }
    if (step.kind == Step::kIdle) {
      if (milliseconds == 0) return 0;
      steps.pop_front();
      continue;
    }
    // kSilent
    const auto now = std::chrono::steady_clock::now();
    if (!silentStarted) {
      silentStarted = true;
      silentSince = now;
    }
    if (now - silentSince < std::chrono::milliseconds(step.ms)) return 0;
    silentStarted = false;
    steps.pop_front();
  }
  return 0;
}

}  // namespace

extern "C" {

int hid_init(void) {
  std::lock_guard<std::mutex> lock(mutex);
  Load();
  Log("init");
  return 0;
}

int hid_exit(void) {
  std::lock_guard<std::mutex> lock(mutex);
  Log("exit");
  return 0;
}

hid_device* hid_open(unsigned short vendor, unsigned short product, const wchar_t*) {
  std::lock_guard<std::mutex> lock(mutex);
  Load();
  char text[64];
  std::snprintf(text, sizeof text, "open %04x %04x", vendor, product);
  Log(text);
  if (absent) return nullptr;
  return &theDevice;
}

// No hidraw node stands behind the stand-in: the tool has nothing to grab.
hid_device_info* hid_get_device_info(hid_device*) { return nullptr; }

void hid_close(hid_device*) {
  std::lock_guard<std::mutex> lock(mutex);
  Log("close");
}

int hid_write(hid_device*, const unsigned char* data, size_t length) {
  std::lock_guard<std::mutex> lock(mutex);
  std::string text = "write " + std::to_string(length) + ":";
  char hex[4];
  for (size_t i = 0; i < length; ++i) {
    std::snprintf(hex, sizeof hex, " %02x", data[i]);
    text += hex;
  }
  Log(text);
  writes.emplace_back(data, data + length);
  (void)!write(writeWake[1], "w", 1);
  return gone ? -1 : static_cast<int>(length);
}

int hid_read_timeout(hid_device*, unsigned char* data, size_t length, int milliseconds) {
  const auto start = std::chrono::steady_clock::now();
  const auto limit = milliseconds < 0 ? std::chrono::steady_clock::time_point::max()
                                      : start + std::chrono::milliseconds(milliseconds);
  bool logged = false;
  for (;;) {
    std::chrono::steady_clock::time_point due;
    {
      std::lock_guard<std::mutex> lock(mutex);
      const int got = Take(data, length, milliseconds);
      if (got < 0) Log("read-error");
      if (got != 0) return got;
      due = NextDue();
      if (!logged) Log("wait " + std::to_string(milliseconds));
      logged = true;
    }
    // Nothing yet: wait, as hidapi does, in poll(), until the script's next
    // step is due, a write may have let an await step pass, or the time limit
    // is over. A signal ends the wait with -1, as it ends hidapi's.
    const auto now = std::chrono::steady_clock::now();
    if (now >= limit) return 0;
    const auto until = due < limit ? due : limit;
    long long waitMs = -1;
    if (until != std::chrono::steady_clock::time_point::max()) {
      waitMs = std::chrono::duration_cast<std::chrono::milliseconds>(until - now).count() + 1;
      if (waitMs > 0x7FFFFFFF) waitMs = 0x7FFFFFFF;
    }
    pollfd p = {writeWake[0], POLLIN, 0};
    const int ready = poll(&p, 1, static_cast<int>(waitMs));
    if (ready < 0) return errno == EINTR ? -1 : 0;
    if (ready > 0) {
      char drain[64];
      while (read(writeWake[0], drain, sizeof drain) > 0) {
      }
    }
  }
}

int hid_read(hid_device* dev, unsigned char* data, size_t length) {
  return hid_read_timeout(dev, data, length, -1);
}

const wchar_t* hid_error(hid_device*) { return L"fake hidapi"; }

}  // extern "C"
