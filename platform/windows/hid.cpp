// HID access on Windows: the remote is found among the system's HID
// interfaces, opened for overlapped I/O, read with a time limit or until a key
// or a control event ends the wait, and written on the interrupt channel at
// the output report length of its caps.
#include <windows.h>
#include <setupapi.h>

extern "C" {
#include <hidsdi.h>
}
#include <hidpi.h>

#include <cstring>

#include "platform/platform.h"
#include "platform/windows/backend.h"
#include "platform/windows/transfer.h"

namespace platform {

using windows_hid::kMaxTransfer;

static_assert(windows_hid::kErrorAccessDenied == ERROR_ACCESS_DENIED, "");
static_assert(windows_hid::kErrorInvalidHandle == ERROR_INVALID_HANDLE, "");
static_assert(windows_hid::kErrorNotReady == ERROR_NOT_READY, "");
static_assert(windows_hid::kErrorDeviceNotConnected == ERROR_DEVICE_NOT_CONNECTED, "");
static_assert(windows_hid::kErrorDeviceRemoved == ERROR_DEVICE_REMOVED, "");

namespace {

// An output report that the remote does not take within this time is given up.
constexpr DWORD kWriteTimeLimitMs = 1000;
// After a failed read without a time limit; at most kFailuresBeforeLost such
// pauses come in a row.
constexpr DWORD kFailedReadPauseMs = 50;
constexpr int kMaxDevices = 4;
constexpr int kMaxPath = 1024;

struct Device {
  bool used;
  HANDLE file;
  HANDLE readEvent;
  HANDLE writeEvent;
  int inputLength;   // InputReportByteLength of the caps
  int outputLength;  // OutputReportByteLength of the caps
  int failuresInRow;
  uint8_t readBuffer[kMaxTransfer];
  uint8_t writeBuffer[kMaxTransfer];
};

Device devices[kMaxDevices];

Device* DeviceOf(HidHandle handle) {
  if (handle < 0 || handle >= kMaxDevices || !devices[handle].used) return nullptr;
  return &devices[handle];
}

// The report lengths from the device's caps; false when they cannot be had.
bool ReadCaps(HANDLE file, int* inputLength, int* outputLength) {
  PHIDP_PREPARSED_DATA preparsed = nullptr;
  if (!HidD_GetPreparsedData(file, &preparsed)) return false;
  HIDP_CAPS caps;
  const bool ok = HidP_GetCaps(preparsed, &caps) == HIDP_STATUS_SUCCESS;
  HidD_FreePreparsedData(preparsed);
  if (!ok) return false;
  *inputLength = caps.InputReportByteLength;
  *outputLength = caps.OutputReportByteLength;
  return true;
}

void Release(Device* d) {
  if (d->file != INVALID_HANDLE_VALUE) CloseHandle(d->file);
  if (d->readEvent) CloseHandle(d->readEvent);
  if (d->writeEvent) CloseHandle(d->writeEvent);
  d->used = false;
  d->file = INVALID_HANDLE_VALUE;
  d->readEvent = nullptr;
  d->writeEvent = nullptr;
}

// Waits at most limitMs (INFINITE: no limit) for an overlapped transfer, and
// when endable also until a key or a control event ends the wait; then
// cancels it and waits until the system is done with the buffer. Returns
// whether it finished with data, with the byte count in *bytes and the error
// in *error otherwise.
bool FinishOverlapped(HANDLE file, OVERLAPPED* ov, DWORD limitMs, bool endable,
                      DWORD* bytes, DWORD* error) {
  *bytes = 0;
  *error = ERROR_SUCCESS;
  windows_backend::WaitForTransfer(file, ov, limitMs, endable);
  // Waits for the transfer's end: after a cancel the system may still have
  // completed it with data, which then counts.
  if (GetOverlappedResult(file, ov, bytes, TRUE)) return true;
  *error = GetLastError();
  return false;
}

// Starts a read or a write of length bytes on the device's own buffer and
// waits for it as FinishOverlapped does.
bool Transfer(Device* d, bool write, DWORD length, DWORD limitMs, bool endable,
              DWORD* bytes, DWORD* error) {
  HANDLE event = write ? d->writeEvent : d->readEvent;
  OVERLAPPED ov;
  std::memset(&ov, 0, sizeof ov);
  ov.hEvent = event;
  ResetEvent(event);
  *bytes = 0;
  *error = ERROR_SUCCESS;
  const bool started =
      write ? WriteFile(d->file, d->writeBuffer, length, nullptr, &ov) != 0
            : ReadFile(d->file, d->readBuffer, length, nullptr, &ov) != 0;
  if (!started) {
    *error = GetLastError();
    if (*error != ERROR_IO_PENDING) return false;
  }
  return FinishOverlapped(d->file, &ov, limitMs, endable, bytes, error);
}

}  // namespace

namespace windows_backend {

bool FindHidDevice(uint16_t vendor, uint16_t product, char* path, int pathSize) {
  GUID hidGuid;
  HidD_GetHidGuid(&hidGuid);
  HDEVINFO set = SetupDiGetClassDevsA(&hidGuid, nullptr, nullptr,
                                      DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set == INVALID_HANDLE_VALUE) return false;

  // The detail record ends in a path of variable length: a fixed buffer that
  // holds any path we accept, aligned for the record.
  union {
    SP_DEVICE_INTERFACE_DETAIL_DATA_A detail;
    char bytes[sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) + kMaxPath];
  } store;

  bool found = false;
  SP_DEVICE_INTERFACE_DATA item;
  item.cbSize = sizeof item;
  for (DWORD index = 0;
       !found && SetupDiEnumDeviceInterfaces(set, nullptr, &hidGuid, index, &item);
       ++index) {
    store.detail.cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    if (!SetupDiGetDeviceInterfaceDetailA(set, &item, &store.detail, sizeof store,
                                          nullptr, nullptr)) {
      continue;  // a path longer than we take
    }
    // No access is needed to read the attributes, so devices that others
    // hold open (keyboards, mice) do not stand in the way.
    HANDLE probe = CreateFileA(store.detail.DevicePath, 0,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
    if (probe == INVALID_HANDLE_VALUE) continue;
    HIDD_ATTRIBUTES attributes;
    attributes.Size = sizeof attributes;
    if (HidD_GetAttributes(probe, &attributes) && attributes.VendorID == vendor &&
        attributes.ProductID == product &&
        static_cast<int>(std::strlen(store.detail.DevicePath)) < pathSize) {
      std::strcpy(path, store.detail.DevicePath);
      found = true;
    }
    CloseHandle(probe);
  }
  SetupDiDestroyDeviceInfoList(set);
  return found;
}

}  // namespace windows_backend

HidHandle OpenHidHandle(uint16_t vendor, uint16_t product) {
  char path[kMaxPath];
  if (!windows_backend::FindHidDevice(vendor, product, path, sizeof path)) return -1;

  int slot = 0;
  while (slot < kMaxDevices && devices[slot].used) ++slot;
  if (slot == kMaxDevices) return -1;
  Device* d = &devices[slot];
  d->file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE,
                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                        FILE_FLAG_OVERLAPPED, nullptr);
  // A program that holds the device without sharing it (the system lets
  // only one open then) drives it: the tool leaves it alone and says so.
  const bool held = d->file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION;
  d->readEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  d->writeEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  d->failuresInRow = 0;
  d->used = true;
  if (d->file == INVALID_HANDLE_VALUE || !d->readEvent || !d->writeEvent ||
      !ReadCaps(d->file, &d->inputLength, &d->outputLength) ||
      d->inputLength <= 0 || d->inputLength > kMaxTransfer) {
    Release(d);
    return held ? kHidBusy : -1;
  }
  return slot;
}

ReadOutcome ReadReport(HidHandle handle, uint8_t* buffer, int32_t* resultSlot,
                       int timeLimitMs) {
  *resultSlot = 0;
  Device* d = DeviceOf(handle);
  if (!d) return kReadDeviceLost;

  // The report goes to the device's own buffer, so that a read which ends
  // after its time-out cannot write into the caller's.
  DWORD bytes = 0;
  DWORD error = ERROR_SUCCESS;
  const bool unlimited = timeLimitMs == kNoTimeLimit;
  const bool ok = Transfer(d, false, d->inputLength,
                           unlimited ? INFINITE : static_cast<DWORD>(timeLimitMs),
                           unlimited, &bytes, &error);
  if (ok) {
    d->failuresInRow = 0;
    const int n = bytes < static_cast<DWORD>(kReportBufferSize)
                      ? static_cast<int>(bytes)
                      : kReportBufferSize;
    std::memcpy(buffer, d->readBuffer, n);
    *resultSlot = n;
    return n > 0 ? kReadReport : kReadNoReport;
  }
  // The time-out, or a key or a control event that ended the wait.
  if (error == ERROR_OPERATION_ABORTED) return kReadNoReport;
  ++d->failuresInRow;
  if (windows_hid::ReadFailureMeansLost(error, d->failuresInRow)) return kReadDeviceLost;
  // A failed read returns at once: wait out the limit (a read without one
  // kFailedReadPauseMs) so that a remote that keeps failing does not spin the
  // caller.
  Sleep(unlimited ? kFailedReadPauseMs : static_cast<DWORD>(timeLimitMs));
  return kReadNoReport;
}

int WriteReport(HidHandle handle, const uint8_t* buffer, int32_t* resultSlot) {
  *resultSlot = -1;
  Device* d = DeviceOf(handle);
  if (!d) return -1;
  const int length = windows_hid::FillOutputTransfer(buffer, d->outputLength,
                                                     d->writeBuffer);
  DWORD bytes = 0;
  DWORD error = ERROR_SUCCESS;
  const bool ok = Transfer(d, true, length, kWriteTimeLimitMs, false, &bytes, &error);
  const int result = ok ? static_cast<int>(bytes) : -1;
  *resultSlot = result;
  return result;
}

void CloseHidHandle(HidHandle handle) {
  Device* d = DeviceOf(handle);
  if (d) Release(d);
}

}  // namespace platform
