// HID access through hidapi's hidraw backend. A HidHandle is an index into a
// small table of open devices.
//
// One remote, one tool: each open remote's hidraw node is also held through
// a descriptor of its own with an exclusive flock (kept until the remote is
// closed; the kernel drops it when the tool ends in any way). Another tool
// that finds the lock taken skips that node and takes the next remote with
// the same numbers, or reports them all busy. The lock goes to the node
// itself, so it holds between users and whatever started the tool.
#include <errno.h>
#include <fcntl.h>
#include <hidapi/hidapi.h>
#include <sys/file.h>
#include <unistd.h>

#include "linux_backend.h"
#include "platform/platform.h"

namespace {

constexpr int kMaxDevices = 4;
hid_device* devices[kMaxDevices] = {};
int lockFds[kMaxDevices] = {-1, -1, -1, -1};

hid_device* Device(HidHandle handle) {
  if (handle < 0 || handle >= kMaxDevices) return nullptr;
  return devices[handle];
}

enum NodeLock { kLockTaken, kLockBusy, kLockFailed };

// Takes the node's lock without waiting; *fd keeps it.
NodeLock LockNode(const char* path, int* fd) {
  *fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (*fd < 0) return kLockFailed;
  if (flock(*fd, LOCK_EX | LOCK_NB) == 0) return kLockTaken;
  const NodeLock result = errno == EWOULDBLOCK ? kLockBusy : kLockFailed;
  close(*fd);
  *fd = -1;
  return result;
}

}  // namespace

namespace platform {

HidHandle OpenHidHandle(uint16_t vendor, uint16_t product) {
  int slot = 0;
  while (slot < kMaxDevices && devices[slot] != nullptr) ++slot;
  if (slot == kMaxDevices) return -1;
  if (hid_init() != 0) return -1;
  hid_device_info* const found = hid_enumerate(vendor, product);
  bool busy = false;
  for (const hid_device_info* info = found; info != nullptr; info = info->next) {
    int lockFd;
    const NodeLock lock = LockNode(info->path, &lockFd);
    if (lock == kLockBusy) busy = true;
    if (lock != kLockTaken) continue;
    hid_device* device = hid_open_path(info->path);
    if (device == nullptr) {
      close(lockFd);
      continue;
    }
    devices[slot] = device;
    lockFds[slot] = lockFd;
    linuxbackend::GrabButtonNodes(slot, info->path);
    hid_free_enumeration(found);
    return slot;
  }
  hid_free_enumeration(found);
  return busy ? kHidBusy : -1;
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
  // Only now may another tool take the remote.
  close(lockFds[handle]);
  lockFds[handle] = -1;
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
