// HID access through hidapi's hidraw backend. A HidHandle is an index into a
// small table of open devices.
#include <hidapi/hidapi.h>

#include "linux_backend.h"
#include "platform/platform.h"

namespace {

constexpr int kMaxDevices = 4;
hid_device* devices[kMaxDevices] = {};

hid_device* Device(HidHandle handle) {
  if (handle < 0 || handle >= kMaxDevices) return nullptr;
  return devices[handle];
}

}  // namespace

namespace platform {

HidHandle OpenHidHandle(uint16_t vendor, uint16_t product) {
  int slot = 0;
  while (slot < kMaxDevices && devices[slot] != nullptr) ++slot;
  if (slot == kMaxDevices) return -1;
  if (hid_init() != 0) return -1;
  hid_device* device = hid_open(vendor, product, nullptr);
  if (device == nullptr) return -1;
  devices[slot] = device;
  // The path of the hidraw node hidapi opened; none from a library that
  // cannot tell.
  const hid_device_info* info = hid_get_device_info(device);
  if (info != nullptr) linuxbackend::GrabButtonNodes(slot, info->path);
  return slot;
}

ReadOutcome ReadReport(HidHandle handle, uint8_t* buffer, int32_t* resultSlot,
                       int timeLimitMs) {
  *resultSlot = 0;
  hid_device* device = Device(handle);
  if (device == nullptr) return kReadDeviceLost;
  const int signalsBefore = linuxbackend::SignalsSeen();
  int got;
  if (timeLimitMs == kNoTimeLimit) {
    // hidapi's own unlimited read is a plain read(), which the signal that
    // ends the wait would restart (SA_RESTART); its poll() is never
    // restarted, so the read takes hidapi's longest time limit instead.
    const int waitMs = linuxbackend::BeginEndableWait();
    got = hid_read_timeout(device, buffer, kReportBufferSize, waitMs);
    linuxbackend::FinishEndableWait();
  } else {
    got = hid_read_timeout(device, buffer, kReportBufferSize, timeLimitMs);
  }
  if (got > 0) {
    *resultSlot = got;
    return kReadReport;
  }
  if (got == 0) return kReadNoReport;
  // hidapi does not retry a wait that a signal interrupted (a stop signal, or
  // the watcher ending the wait); that is not the remote going away (what
  // ended the wait is looked at by the loop).
  if (linuxbackend::SignalsSeen() != signalsBefore) return kReadNoReport;
  return kReadDeviceLost;
}

int WriteReport(HidHandle handle, const uint8_t* buffer, int32_t* resultSlot) {
  hid_device* device = Device(handle);
  const int sent =
      device == nullptr ? -1
                        : hid_write(device, buffer, OutputReportLength(buffer[0]));
  *resultSlot = sent;
  return sent;
}

void CloseHidHandle(HidHandle handle) {
  hid_device* device = Device(handle);
  if (device == nullptr) return;
  linuxbackend::ReleaseButtonNodes(handle);
  hid_close(device);
  devices[handle] = nullptr;
}

}  // namespace platform

namespace linuxbackend {

// Called by StopPlatform: closes whatever is still open and lets hidapi free
// its own state.
void StopHid() {
  for (int i = 0; i < kMaxDevices; ++i) platform::CloseHidHandle(i);
  hid_exit();
}

}  // namespace linuxbackend
