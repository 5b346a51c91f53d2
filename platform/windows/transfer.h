// The rules of the Windows HID transfers that need no Win32: how long an
// output report travels, what fills it, and which read errors mean that the
// remote is gone. Kept apart so that they can be tested on any system.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace platform {
namespace windows_hid {

// The largest report a device of ours may have; a device whose caps ask for
// more is not opened.
constexpr int kMaxTransfer = 1024;

// How many bytes an output report takes on the interrupt channel. The
// Bluetooth stack accepts only full-length reports, the length that the
// device's caps give for output reports; never fewer than the report's own
// bytes.
int OutputTransferLength(int capsOutputLength, uint8_t reportNumber);

// Lays out the output report that starts buffer (kReportBufferSize bytes) in
// transfer (kMaxTransfer bytes) and returns its length. Past the report's own
// bytes travels what the buffer holds there from earlier reports; past the
// buffer's end, zeros.
int FillOutputTransfer(const uint8_t* buffer, int capsOutputLength,
                       uint8_t* transfer);

// Win32 error numbers that the read rules look at (checked against the
// system's own values where the Windows headers are at hand).
//
// A read on a handle that was opened for reading and has read before cannot
// be refused for want of access: ERROR_ACCESS_DENIED there is how the system
// passes on STATUS_DELETE_PENDING, which a driver gives for a device whose
// removal is under way. Wine's HID stack answers every read on a removed
// remote so; Windows' gives ERROR_DEVICE_NOT_CONNECTED, or the same
// ERROR_ACCESS_DENIED once the removal has reached the device object.
constexpr uint32_t kErrorAccessDenied = 5;
constexpr uint32_t kErrorInvalidHandle = 6;
constexpr uint32_t kErrorNotReady = 21;
constexpr uint32_t kErrorDeviceNotConnected = 1167;
constexpr uint32_t kErrorDeviceRemoved = 1617;

// A read that fails this many times in a row, for whatever reason, means that
// the remote is gone even when no error said so.
constexpr int kFailuresBeforeLost = 40;

// Whether a failed read, the failuresInRow-th in a row (counting this one),
// means that the remote is gone for good.
bool ReadFailureMeansLost(uint32_t error, int failuresInRow);

}  // namespace windows_hid
}  // namespace platform
