// Fuzz target: the input report decoder on arbitrary bytes of any length.
//
// The input is the report exactly as it came from the remote (number in byte
// 0). The decoder must read nothing past its end, change the decoded state
// only as the report's number says, and keep every infrared value in 0 to
// 1023.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "remote/remote.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

bool Same(const RemoteInput& a, const RemoteInput& b) {
  return a.buttons1 == b.buttons1 && a.buttons2 == b.buttons2 &&
         a.accelX == b.accelX && a.accelY == b.accelY && a.accelZ == b.accelZ &&
         a.ir1X == b.ir1X && a.ir1Y == b.ir1Y && a.ir2X == b.ir2X &&
         a.ir2Y == b.ir2Y && a.irSeen == b.irSeen;
}

bool InRange(int32_t v) { return v >= 0 && v <= 1023; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  const int length = static_cast<int>(size);
  RemoteInput before;
  std::memset(&before, 0xA5, sizeof before);
  before.ir1X = before.ir1Y = before.ir2X = before.ir2Y = 7;
  RemoteInput after = before;

  // A copy of exactly the input's size, and no buffer at all for an empty
  // one: libFuzzer hands an empty input over as a pointer to a byte of its
  // own, and a sanitizer gives even an empty allocation a byte, so a read of
  // byte 0 would pass unnoticed there.
  uint8_t* exact = size > 0 ? new uint8_t[size] : nullptr;
  if (size > 0) std::memcpy(exact, data, size);
  const bool decoded = DecodeReport(exact, length, &after);
  const bool status = IsStatusReport(exact, length);
  delete[] exact;

  if (length == 0) {
    Check(!decoded && !status);
    Check(Same(before, after));
    return 0;
  }
  const uint8_t id = data[0];
  Check(status == (id == kReportStatus));
  if ((id & 0xF0) != 0x30) {
    Check(!decoded);
    Check(Same(before, after));
    return 0;
  }
  const bool accel = (id & 0x01) != 0;
  const bool ir = id == kModeButtonsAccelIr;  // the one report with points in three-byte form
  const int needed = ir ? 12 : accel ? 6 : 3;
  Check(decoded == (length >= needed));
  if (!decoded) {
    Check(Same(before, after));
    return 0;
  }
  Check(after.buttons1 == data[1] && after.buttons2 == data[2]);
  if (accel) {
    Check(after.accelX == data[3] && after.accelY == data[4] && after.accelZ == data[5]);
  } else {
    Check(after.accelX == before.accelX && after.accelY == before.accelY &&
          after.accelZ == before.accelZ);
  }
  if (ir) {
    Check(InRange(after.ir1X) && InRange(after.ir1Y) && InRange(after.ir2X) &&
          InRange(after.ir2Y));
    Check(after.irSeen == 1);
    // Three 0xFF bytes are an empty slot.
    if (data[6] == 0xFF && data[8] == 0xFF) Check(after.ir1X == 1023);
  } else {
    Check(after.ir1X == before.ir1X && after.ir2Y == before.ir2Y &&
          after.irSeen == before.irSeen);
  }
  return 0;
}
