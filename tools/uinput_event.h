// One input event written to a uinput device (the tools' virtual keyboard
// and mouse): true when the kernel took it whole.
#pragma once

#include <linux/input.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

inline bool WriteInputEvent(int fd, uint16_t type, uint16_t code, int32_t value) {
  input_event e;
  std::memset(&e, 0, sizeof e);
  e.type = type;
  e.code = code;
  e.value = value;
  return write(fd, &e, sizeof e) == static_cast<ssize_t>(sizeof e);
}
