// The remote's device on /dev/uhid: shared by the virtual remote and the
// kernel path benchmark (bench/kernel_path_bench.cpp).
#include "uhid_device.h"

#include <errno.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "remote_model.h"

namespace vremote {

namespace {

bool WriteEvent(int fd, const uhid_event& ev) {
  const ssize_t n = write(fd, &ev, sizeof ev);
  if (n != static_cast<ssize_t>(sizeof ev)) {
    std::fprintf(stderr, "%s: writing to /dev/uhid failed: %s\n", program_invocation_short_name,
                 n < 0 ? std::strerror(errno) : "short write");
    return false;
  }
  return true;
}

}  // namespace

// Answers a get or set report request of the kernel with an error.
bool RefuseRequest(int fd, uint32_t replyType, uint32_t id) {
  uhid_event reply;
  std::memset(&reply, 0, sizeof reply);
  reply.type = replyType;
  if (replyType == UHID_GET_REPORT_REPLY) {
    reply.u.get_report_reply.id = id;
    reply.u.get_report_reply.err = EIO;
  } else {
    reply.u.set_report_reply.id = id;
    reply.u.set_report_reply.err = EIO;
  }
  return WriteEvent(fd, reply);
}

bool CreateDevice(int fd, uint16_t bus, uint16_t product) {
  uhid_event ev;
  std::memset(&ev, 0, sizeof ev);
  ev.type = UHID_CREATE2;
  std::snprintf(reinterpret_cast<char*>(ev.u.create2.name), sizeof ev.u.create2.name,
                "trevanquill virtual remote");
  std::snprintf(reinterpret_cast<char*>(ev.u.create2.phys), sizeof ev.u.create2.phys,
                "virtual-remote");
  const std::vector<uint8_t> rd = vremote::ReportDescriptor();
  std::memcpy(ev.u.create2.rd_data, rd.data(), rd.size());
  ev.u.create2.rd_size = static_cast<uint16_t>(rd.size());
  ev.u.create2.bus = bus;
  ev.u.create2.vendor = kVendor;
  ev.u.create2.product = product;
  return WriteEvent(fd, ev);
}

void DestroyDevice(int fd) {
  uhid_event ev;
  std::memset(&ev, 0, sizeof ev);
  ev.type = UHID_DESTROY;
  WriteEvent(fd, ev);
}

bool SendInput(int fd, const uint8_t* report) {
  uhid_event ev;
  std::memset(&ev, 0, sizeof ev);
  ev.type = UHID_INPUT2;
  ev.u.input2.size = vremote::kInputReportSize;
  std::memcpy(ev.u.input2.data, report, vremote::kInputReportSize);
  return WriteEvent(fd, ev);
}

}  // namespace vremote
