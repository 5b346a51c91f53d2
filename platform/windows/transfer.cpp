#include "platform/windows/transfer.h"

#include <cstring>

namespace platform {
namespace windows_hid {

int OutputTransferLength(int capsOutputLength, uint8_t reportNumber) {
  int length = OutputReportLength(reportNumber);
  if (capsOutputLength > length) length = capsOutputLength;
  if (length > kMaxTransfer) length = kMaxTransfer;
  return length;
}

int FillOutputTransfer(const uint8_t* buffer, int capsOutputLength,
                       uint8_t* transfer) {
  const int length = OutputTransferLength(capsOutputLength, buffer[0]);
  const int fromBuffer = length < kReportBufferSize ? length : kReportBufferSize;
  std::memcpy(transfer, buffer, fromBuffer);
  if (length > fromBuffer) std::memset(transfer + fromBuffer, 0, length - fromBuffer);
  return length;
}

bool ReadFailureMeansLost(uint32_t error, int failuresInRow) {
  switch (error) {
    case kErrorAccessDenied:
    case kErrorInvalidHandle:
    case kErrorNotReady:
    case kErrorDeviceNotConnected:
    case kErrorDeviceRemoved:
      return true;
    default:
      return failuresInRow >= kFailuresBeforeLost;
  }
}

}  // namespace windows_hid
}  // namespace platform
