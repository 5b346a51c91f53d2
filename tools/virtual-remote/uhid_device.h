// The remote's device on /dev/uhid (an open descriptor of it): made, fed with
// input reports, answering the kernel's report requests, removed. Each call
// writes one event; a failed write is said on stderr, named after the
// program, and returns false.
#pragma once

#include <linux/uhid.h>

#include <cstdint>

namespace vremote {

constexpr uint16_t kVendor = 0x057E;

// Makes the device "trevanquill virtual remote" with the remote's report
// descriptor, vendor kVendor and product on bus (BUS_USB or BUS_BLUETOOTH).
bool CreateDevice(int fd, uint16_t bus, uint16_t product);
void DestroyDevice(int fd);
// Sends one input report of kInputReportSize bytes, number byte first.
bool SendInput(int fd, const uint8_t* report);
// Answers a get or set report request of the kernel with an error
// (replyType UHID_GET_REPORT_REPLY or UHID_SET_REPORT_REPLY).
bool RefuseRequest(int fd, uint32_t replyType, uint32_t id);

}  // namespace vremote
