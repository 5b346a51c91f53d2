// The Windows backend's transfer rules: output report length and padding,
// and which read failures mean that the remote is gone.
#include "platform/windows/transfer.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using platform::kReportBufferSize;
using namespace platform::windows_hid;

struct LengthCase {
  int capsLength;
  uint8_t report;
  int expected;
};

TEST(OutputTransferLength, FullCapsLengthButNeverShorterThanTheReport) {
  const LengthCase cases[] = {
      // The remote's caps over Bluetooth: every report at 22 bytes.
      {22, 0x11, 22},
      {22, 0x12, 22},
      {22, 0x16, 22},
      // Caps longer than any report of the tool.
      {32, 0x13, 32},
      // No usable caps: each report at its own length.
      {0, 0x11, 2},
      {0, 0x1A, 2},
      {0, 0x12, 3},
      {0, 0x16, 22},
      // Caps shorter than the report do not cut it.
      {2, 0x16, 22},
      {-1, 0x12, 3},
      // Never past the transfer buffer.
      {kMaxTransfer + 500, 0x11, kMaxTransfer},
  };
  for (const LengthCase& c : cases) {
    EXPECT_EQ(OutputTransferLength(c.capsLength, c.report), c.expected)
        << "caps " << c.capsLength << ", report " << int(c.report);
  }
}

class FillTransfer : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int i = 0; i < kReportBufferSize; ++i) buffer[i] = static_cast<uint8_t>(0xA0 ^ i);
    std::memset(transfer, 0xEE, sizeof transfer);
  }
  uint8_t buffer[kReportBufferSize];
  uint8_t transfer[kMaxTransfer];
};

TEST_F(FillTransfer, BytesPastTheReportAreWhatTheBufferHolds) {
  // The LED report after a report mode: 11 10, then 31 left from 12 00 31.
  buffer[0] = 0x11;
  buffer[1] = 0x10;
  buffer[2] = 0x31;
  ASSERT_EQ(FillOutputTransfer(buffer, 22, transfer), 22);
  EXPECT_EQ(0, std::memcmp(transfer, buffer, 22));
  EXPECT_EQ(transfer[2], 0x31);
  EXPECT_EQ(transfer[22], 0xEE) << "written past the report's length";
}

TEST_F(FillTransfer, OwnLengthWithoutCaps) {
  buffer[0] = 0x12;
  ASSERT_EQ(FillOutputTransfer(buffer, 0, transfer), 3);
  EXPECT_EQ(0, std::memcmp(transfer, buffer, 3));
  EXPECT_EQ(transfer[3], 0xEE);
}

TEST_F(FillTransfer, ZerosPastTheEndOfTheBuffer) {
  buffer[0] = 0x16;
  const int caps = kReportBufferSize + 10;
  ASSERT_EQ(FillOutputTransfer(buffer, caps, transfer), caps);
  EXPECT_EQ(0, std::memcmp(transfer, buffer, kReportBufferSize));
  for (int i = kReportBufferSize; i < caps; ++i) EXPECT_EQ(transfer[i], 0) << i;
  EXPECT_EQ(transfer[caps], 0xEE);
}

// ERROR_ACCESS_DENIED on a read is a removal under way (see transfer.h):
// what Wine's HID stack gives for every read once the remote is gone.
TEST(ReadFailure, ErrorsThatSayTheDeviceIsGoneEndAtOnce) {
  for (uint32_t error : {kErrorDeviceNotConnected, kErrorDeviceRemoved,
                         kErrorInvalidHandle, kErrorNotReady, kErrorAccessDenied}) {
    EXPECT_TRUE(ReadFailureMeansLost(error, 1)) << error;
  }
}

TEST(ReadFailure, OtherErrorsOnlyWhenTheyGoOn) {
  const uint32_t kGenFailure = 31;
  const uint32_t kCrcError = 23;
  for (uint32_t error : {kGenFailure, kCrcError}) {
    EXPECT_FALSE(ReadFailureMeansLost(error, 1)) << error;
    EXPECT_FALSE(ReadFailureMeansLost(error, kFailuresBeforeLost - 1)) << error;
    EXPECT_TRUE(ReadFailureMeansLost(error, kFailuresBeforeLost)) << error;
  }
}

}  // namespace
