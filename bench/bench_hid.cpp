// HID access for the in-process benchmarks: see bench_remote.h.
#include <cstring>

#include "bench_remote.h"
#include "platform/platform.h"

namespace benchremote {

long writes = 0;

namespace {

benchmark::State* feedState = nullptr;
const Report* feedReports = nullptr;
int feedCount = 0;
int feedNext = 0;
const uint8_t kHome[3] = {0x30, 0x00, 0x80};

}  // namespace

Report Make(uint8_t buttons1, uint8_t buttons2, int x, int y) {
  Report r = {{0x33, buttons1, buttons2, 0x80, 0x80, 0x9A}};
  for (uint8_t* p : {r.bytes + 6, r.bytes + 9}) {
    p[0] = static_cast<uint8_t>(x & 0xFF);
    p[1] = static_cast<uint8_t>(y & 0xFF);
    p[2] = static_cast<uint8_t>(((x >> 8) & 0x03) << 4 | ((y >> 8) & 0x03) << 6);
  }
  // Slots 3 and 4 empty, as the camera sends them.
  std::memset(r.bytes + 12, 0xFF, kReportLength - 12);
  return r;
}

void Feed(benchmark::State* state, const Report* reports, int count) {
  feedState = state;
  feedReports = reports;
  feedCount = count;
  feedNext = 0;
}

}  // namespace benchremote

namespace platform {

HidHandle OpenHidHandle(uint16_t, uint16_t) { return 0; }

ReadOutcome ReadReport(HidHandle, uint8_t* buffer, int32_t* resultSlot, int timeLimitMs) {
  using namespace benchremote;
  // Each report comes as the loop waits for it: a look without a wait (the
  // loop's first, at its start) finds none waiting.
  if (timeLimitMs == 0) {
    *resultSlot = 0;
    return kReadNoReport;
  }
  if (feedState == nullptr || !feedState->KeepRunning()) {
    feedState = nullptr;
    std::memcpy(buffer, kHome, sizeof kHome);
    *resultSlot = sizeof kHome;
    return kReadReport;
  }
  std::memcpy(buffer, feedReports[feedNext].bytes, kReportLength);
  if (++feedNext == feedCount) feedNext = 0;
  *resultSlot = kReportLength;
  return kReadReport;
}

int WriteReport(HidHandle, const uint8_t* buffer, int32_t* resultSlot) {
  ++benchremote::writes;
  *resultSlot = OutputReportLength(buffer[0]);
  return *resultSlot;
}

void CloseHidHandle(HidHandle) {}

}  // namespace platform
